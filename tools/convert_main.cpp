// lumetra-convert: converts downloaded subtitle files into the player's format on
// the command line, on the PC or on the box itself.
//
//   lumetra-convert [OPTION]... FILE...
//
// Each FILE is written beside itself with its extension replaced by ".tkx" (or to
// OUT with -o), through a temporary file in the same directory and a rename, so a
// reader never sees half a file. "-" as FILE reads standard input, "-o -" writes
// standard output. One summary line per file goes to standard error.
// Exit status: 0 when every file was converted, 1 when any failed, 2 on a usage error
// (an option or value of the wrong kind, told before anything is read or written).
#include <dirent.h>
#include <fcntl.h>
#include <getopt.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "conv/align.h"
#include "conv/convert.h"
#include "conv/recording.h"
#include "tools/getopt_refusal.h"

#ifndef LUMETRA_VERSION
#define LUMETRA_VERSION "unknown"
#endif
#if LUMETRA_HAVE_FFMPEG
#include "tools/film_audio.h"
#endif

namespace {

constexpr std::string_view kProgram = "lumetra-convert";
constexpr std::string_view kExtension = ".tkx";
constexpr std::string_view kStandardStream = "-";
// The name a file read from standard input is recorded under in its header.
constexpr std::string_view kStandardInputName = "standard input";
constexpr const char* kSynopsis = "usage: lumetra-convert [OPTION]... FILE...\n";
constexpr const char* kHelp =
    "usage: lumetra-convert [OPTION]... FILE...\n"
    "Converts subtitle files (SubRip, MicroDVD, ASS/SSA, WebVTT, MPL2, TMPlayer,\n"
    "SubViewer) to the player's .tkx files. Each FILE is written beside itself with\n"
    "its extension replaced by .tkx. FILE - reads standard input and, without -o,\n"
    "writes standard output.\n"
    "\n"
    "  --encoding NAME    read the files in this encoding (e.g. WINDOWS-1250)\n"
    "                     instead of guessing it\n"
    "  --fps N            frame rate of a MicroDVD file that declares none\n"
    "                     (default 23.976)\n"
    "  --offset SECONDS   add this to every time, e.g. --offset -1.5\n"
    "  --wrap N           wrap lines longer than N characters (default 40)\n"
    "  --plain            no second colour for lines wholly in italics\n"
    "  -o OUT             write to OUT (one FILE only); -o - writes standard output\n"
    "  --all DIR          convert every subtitle file in DIR that has no .tkx of its\n"
    "                     own yet (of several with one name: .srt, .ass, .ssa, .vtt,\n"
    "                     .sub, .txt, then others)\n"
    "  --sync-to REFERENCE  move the subtitles onto the timing of REFERENCE: a subtitle\n"
    "                     file in any of these formats or a .tkx, a recording (.ts)\n"
    "                     with DVB or teletext subtitles, or the speech in a film\n"
    "                     where built with FFmpeg; a poor match is refused\n"
    "  --force            replace an existing output that lumetra-convert did not write\n"
    "                     or that was changed since;\n"
    "                     with --sync-to, write a file without a reliable match unaligned\n"
    "  --dry-run          say what would be done, and write nothing\n"
    "  -h, --help         this text\n"
    "  --version          the version\n"
    "\n"
    "An output is never the input itself, even through a link, and is made once in\n"
    "a run. One line per file goes to standard error; --all names every file it\n"
    "takes up (those named as subtitles, and those that look like subtitles). Exit\n"
    "status: 0 when every file was converted, 1 when any failed, 2 for a wrong\n"
    "option or a value of the wrong kind (an unknown encoding, a directory where a\n"
    "file is wanted).\n";
// Larger inputs are not subtitles anyone downloads; refusing them bounds the memory.
constexpr uintmax_t kMaxInputBytes = 64u << 20;
// Bytes looks_convertible is shown when --all decides what to convert.
constexpr size_t kProbeBytes = 4096;
// The temporary file beside an output: short, whatever the output's name.
constexpr std::string_view kTemporaryName = ".lumetra-XXXXXX.part";
constexpr int kTemporarySuffix = 5;  // ".part"
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitDone = -1;  // --help or --version printed: nothing more to do
// Extensions --all takes a file up by, so that it is named when it cannot be
// converted even though its start looks like no format at all (.txt is left out: it
// names notes as often as subtitles).
constexpr std::array<std::string_view, 5> kSubtitleExtensions = {".srt", ".ass", ".ssa", ".vtt",
                                                                 ".sub"};

// The values getopt_long gives the options without a short form.
enum LongOption : int {
    kEncoding = 256,
    kFps,
    kOffset,
    kWrap,
    kPlain,
    kAll,
    kForce,
    kVersion,
    kSyncTo,
    kDryRun,
};

constexpr std::array<option, 13> kOptions{{
    {"encoding", required_argument, nullptr, kEncoding},
    {"fps", required_argument, nullptr, kFps},
    {"offset", required_argument, nullptr, kOffset},
    {"wrap", required_argument, nullptr, kWrap},
    {"plain", no_argument, nullptr, kPlain},
    {"all", required_argument, nullptr, kAll},
    {"force", no_argument, nullptr, kForce},
    {"sync-to", required_argument, nullptr, kSyncTo},
    {"dry-run", no_argument, nullptr, kDryRun},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {"output", required_argument, nullptr, 'o'},
    {nullptr, 0, nullptr, 0},
}};
// ":" first: a missing value is told from an unknown option.
constexpr const char* kShortOptions = ":ho:";

struct Arguments {
    conv::ConvertOptions options;
    std::string output;   // -o
    std::string all_dir;  // --all
    std::string sync_to;  // --sync-to: the reference's path
    bool force = false;   // --force: replace a file not ours; write unaligned on a poor match
    std::vector<std::string> files;
    // --dry-run: convert and tell, write nothing.
    bool dry_run = false;
};

struct FdCloser {
    int fd = -1;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

void print_line(std::string_view text) {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(kProgram.size()), kProgram.data(),
                 static_cast<int>(text.size()), text.data());
}

int usage_error(std::string_view message) {
    print_line(message);
    std::fputs(kSynopsis, stderr);
    print_line("--help lists the options");
    return kExitUsage;
}

std::optional<double> parse_double(std::string_view text) {
    double value = 0;
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// The options that take a number, and the numbers they take.
struct NumberOption {
    int option;
    std::string_view name;
    double low, high;
    bool whole;
    const char* takes;
};
// An offset beyond a day either way is no film's; the times would overflow.
constexpr std::array<NumberOption, 3> kNumberOptions{{
    {kFps, "--fps", 1.0, 1000.0, false, "frames per second between 1 and 1000"},
    {kOffset, "--offset", -86400.0, 86400.0, false, "seconds, e.g. -1.5 or +2, within a day"},
    {kWrap, "--wrap", 1.0, 1000.0, true, "a number of characters between 1 and 1000"},
}};

const NumberOption* number_option(int option) {
    for (const NumberOption& o : kNumberOptions) {
        if (o.option == option) return &o;
    }
    return nullptr;
}

// The usage error for an argument getopt_long refused.
std::string refused_option(int code, char** argv) {
    const tools::getopt_refusal r = tools::refused_by_getopt(code, argv, kOptions.data());
    switch (r.kind) {
        case tools::getopt_refusal::kAmbiguous:
            return "ambiguous option " + r.option;
        case tools::getopt_refusal::kNeedsValue:
            return r.option + " needs a value";
        case tools::getopt_refusal::kTakesNoValue:
            return r.option + " takes no value";
        case tools::getopt_refusal::kUnknown:
            break;
    }
    return "unknown option " + r.option;
}

// Whether path names a directory, or ends with "/" as only a directory's name does.
bool is_directory(const std::string& path) {
    struct stat st;
    return !path.empty() &&
           (path.back() == '/' || (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)));
}

// Fills args from argv; returns 0, kExitDone, or the exit status of a usage error
// already printed.
int parse_arguments(int argc, char** argv, Arguments& args) {
    optind = 0;  // a fresh scan
    opterr = 0;  // the messages are this program's own
    for (;;) {
        const int code = getopt_long(argc, argv, kShortOptions, kOptions.data(), nullptr);
        if (code == -1) break;
        const std::string_view value = optarg != nullptr ? optarg : "";
        if (const NumberOption* number = number_option(code)) {
            const auto parsed = parse_double(value);
            if (!parsed || *parsed < number->low || *parsed > number->high ||
                (number->whole && *parsed != std::floor(*parsed))) {
                return usage_error(std::string(number->name) + " takes " + number->takes);
            }
            if (code == kFps) args.options.fps = *parsed;
            if (code == kOffset) args.options.offset_seconds = *parsed;
            if (code == kWrap) args.options.wrap_width = static_cast<int>(*parsed);
            continue;
        }
        switch (code) {
            case 'h':
                std::fputs(kHelp, stdout);
                return kExitDone;
            case kVersion:
                std::printf("%.*s %s\n", static_cast<int>(kProgram.size()), kProgram.data(),
                            LUMETRA_VERSION);
                return kExitDone;
            case kEncoding:
                if (value.empty()) return usage_error("--encoding needs a name");
                if (!conv::known_encoding(value))
                    return usage_error("unknown encoding " + std::string(value));
                args.options.forced_encoding = value;
                break;
            case kPlain:
                args.options.plain = true;
                break;
            case kForce:
                args.force = true;
                break;
            case kDryRun:
                args.dry_run = true;
                break;
            case 'o':
                if (value.empty()) return usage_error("-o needs a value");
                args.output = value;
                break;
            case kSyncTo:
                if (value.empty()) return usage_error("--sync-to needs a file");
                args.sync_to = value;
                break;
            case kAll:
                if (value.empty()) return usage_error("--all needs a value");
                args.all_dir = value;
                break;
            default:
                return usage_error(refused_option(code, argv));
        }
    }
    for (int i = optind; i < argc; ++i) args.files.emplace_back(argv[i]);
    if (args.files.empty() && args.all_dir.empty()) return usage_error("no FILE given");
    if (!args.output.empty() && (args.files.size() != 1 || !args.all_dir.empty())) {
        return usage_error("-o takes exactly one FILE");
    }
    // A value of the wrong kind is told before anything is read or written; a path
    // that cannot be read is the failure of the file it names.
    if (args.output != kStandardStream && is_directory(args.output)) {
        return usage_error("-o takes a file, not a directory: " + args.output);
    }
    if (!args.all_dir.empty() && !is_directory(args.all_dir) &&
        ::access(args.all_dir.c_str(), F_OK) == 0) {
        return usage_error("--all takes a directory: " + args.all_dir);
    }
    if (args.sync_to == kStandardStream) {
        // Read once for its kind and once whole, or a recording of several GB in
        // pieces: a reference is a file.
        return usage_error("--sync-to takes a file, not standard input");
    }
    if (is_directory(args.sync_to)) {
        return usage_error("--sync-to takes a file, not a directory: " + args.sync_to);
    }
    return 0;
}

std::string_view base_name(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// FILE's path with its name's extension replaced by ".tkx" (conv::name_base).
std::string output_name_for(std::string_view path) {
    const std::string_view name = base_name(path);
    return std::string(path.substr(0, path.size() - name.size())) +
           std::string(conv::name_base(name)) + std::string(kExtension);
}

bool ends_with_extension(std::string_view name) {
    return name.size() >= kExtension.size() &&
           name.substr(name.size() - kExtension.size()) == kExtension;
}

bool named_as_subtitles(std::string_view name) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return std::any_of(kSubtitleExtensions.begin(), kSubtitleExtensions.end(),
                       [&](std::string_view e) {
                           return name.size() > e.size() &&
                                  std::equal(e.begin(), e.end(), name.end() - e.size(),
                                             [&](char a, char b) { return a == lower(b); });
                       });
}

std::string errno_text(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Reads what an open descriptor holds, at most limit bytes; false with error set
// when it cannot be read or holds more.
bool read_descriptor(int fd, uintmax_t limit, std::vector<uint8_t>& bytes, std::string& error) {
    constexpr size_t kChunk = 64 * 1024;
    size_t done = 0;
    for (;;) {
        try {
            if (bytes.size() < done + kChunk) bytes.resize(done + kChunk);
        } catch (const std::bad_alloc&) {
            error = "out of memory";
            return false;
        }
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno_text("cannot read the file");
            return false;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
        if (done > limit) {
            error = "file too large (over " + std::to_string(limit >> 20) + " MiB)";
            return false;
        }
    }
    bytes.resize(done);
    return true;
}

// Reads a regular file (or standard input for "-") whole, or only its first
// kProbeBytes when just_the_start, and what fstat says about it; false with error set
// otherwise.
bool read_file(const std::string& path, bool just_the_start, std::vector<uint8_t>& bytes,
               struct stat& st, std::string& error) {
    const bool standard_input = path == kStandardStream;
    FdCloser file{standard_input ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    const int fd = standard_input ? STDIN_FILENO : file.fd;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        error = errno_text("cannot read the file");
        return false;
    }
    if (standard_input) return read_descriptor(fd, kMaxInputBytes, bytes, error);
    if (!S_ISREG(st.st_mode)) {
        error = "not a regular file";
        return false;
    }
    const auto size = static_cast<uintmax_t>(st.st_size);
    if (!just_the_start && size > kMaxInputBytes) {
        error = "file too large (over " + std::to_string(kMaxInputBytes >> 20) + " MiB)";
        return false;
    }
    const auto wanted =
        static_cast<size_t>(just_the_start ? std::min<uintmax_t>(size, kProbeBytes) : size);
    try {
        bytes.resize(wanted);
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        return false;
    }
    size_t done = 0;
    while (done < wanted) {
        const ssize_t n = ::read(fd, bytes.data() + done, wanted - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno_text("cannot read the file");
            return false;
        }
        if (n == 0) break;  // shrank while being read: take what is there
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return true;
}

bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Writes data to path through a temporary file beside it: path is either untouched
// or holds all of data, never a part of it. A path that is there and no regular file
// (/dev/null, a pipe, a terminal) is written into as it is: a rename would put a
// regular file in place of the device.
bool write_replacing(const std::string& path, std::string_view data, std::string& error) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        FdCloser out{::open(path.c_str(), O_WRONLY | O_CLOEXEC)};
        bool ok = out.fd >= 0 && write_all(out.fd, data);
        ok = (out.fd < 0 || ::close(out.fd) == 0) && ok;
        out.fd = -1;
        if (!ok) error = errno_text("cannot write the output");
        return ok;
    }
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string temp = dir + std::string(kTemporaryName);
    FdCloser file{::mkstemps(temp.data(), kTemporarySuffix)};
    if (file.fd < 0) {
        error = errno_text("cannot create a file beside the output");
        return false;
    }
    // mkstemps makes the file private; the output gets the mode a new file would get.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok =
        ::fchmod(file.fd, 0666 & ~mask) == 0 && write_all(file.fd, data) && ::fsync(file.fd) == 0;
    ok = ::close(file.fd) == 0 && ok;
    file.fd = -1;
    if (!ok) {
        error = errno_text("cannot write the output");
    } else if (::rename(temp.c_str(), path.c_str()) != 0) {
        error = errno_text("cannot rename the output into place");
        ok = false;
    }
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

// Why output may not be written over, or empty when it may: it is the input itself
// (the same file, whatever the names), or a file with content that this program did
// not write and force was not given.
std::string output_refused(const std::string& output, const struct stat& input, bool force) {
    struct stat st;
    if (::stat(output.c_str(), &st) != 0) return {};
    if (st.st_dev == input.st_dev && st.st_ino == input.st_ino) {
        return "the output would replace the input";
    }
    if (force || !S_ISREG(st.st_mode) || st.st_size == 0) return {};
    std::vector<uint8_t> bytes;
    struct stat ignored;
    std::string error;
    if (read_file(output, false, bytes, ignored, error)) {
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        const std::string_view line = text.substr(0, text.find('\n'));
        if (line.size() <= conv::kLongestHeaderLine &&
            conv::converted_from_header(line).converted) {
            if (conv::converted_content_matches(text)) return {};
            return output + " was changed since " + std::string(kProgram) +
                   " wrote it (--force replaces it)";
        }
    }
    return output + " exists and was not written by " + std::string(kProgram) +
           " (--force replaces it)";
}

// The reference of --sync-to: its path and its timing.
struct SyncReference {
    std::string path;
    std::vector<conv::TimeSpan> spans;
    bool force = false;
};

// Converts one file and prints its summary line; true when the output was written
// (and aligned, with a reference).
bool convert_file(const std::string& input, const std::string& output,
                  const conv::ConvertOptions& base_options, bool force, bool dry_run,
                  const SyncReference* reference) {
    conv::ConvertOptions options = base_options;
    conv::ConvertReport report;
    std::string converted;
    std::vector<uint8_t> bytes;
    conv::Alignment alignment;
    struct stat st;
    int result = conv::kConvertFailed;
    const bool to_standard_output = output == kStandardStream;
    if (read_file(input, false, bytes, st, report.error) &&
        (to_standard_output || (report.error = output_refused(output, st, force)).empty())) {
        if (input == kStandardStream) {
            options.source_name = kStandardInputName;
        } else {
            options.source_name = base_name(input);
            options.source_stamp = conv::SourceStamp{st.st_size, st.st_mtim.tv_sec,
                                                     static_cast<int32_t>(st.st_mtim.tv_nsec)};
        }
        if (reference == nullptr) {
            result = conv::convert_subtitles(bytes, options, converted, report);
        } else {
            options.sync_reference = reference->path;
            result = conv::convert_aligned(bytes, options, reference->spans, reference->force,
                                           converted, report, alignment);
        }
        // A dry run does everything but the write: the summary says what it would be.
        if (!dry_run && result == conv::kConvertOk && to_standard_output &&
            !write_all(STDOUT_FILENO, converted)) {
            report.error = errno_text("cannot write the output");
            result = conv::kConvertFailed;
        } else if (!dry_run && result == conv::kConvertOk && !to_standard_output &&
                   !write_replacing(output, converted, report.error)) {
            result = conv::kConvertFailed;
        }
    }
    const char* not_written = dry_run ? " (dry run: nothing written)" : "";
    if (reference == nullptr) {
        std::fprintf(stderr, "%s%s\n", conv::summary_line(input, result, report).c_str(),
                     not_written);
        return result == conv::kConvertOk;
    }
    std::fprintf(
        stderr, "%s%s\n",
        conv::aligned_summary_line(input, reference->path, result, report, alignment).c_str(),
        not_written);
    return result == conv::kConvertOk && alignment.reliable;
}

// Reads the timing of the --sync-to reference, by what the file is: a recording's
// subtitle stream (with a line saying which is used), a subtitle file, or, for a file
// that is neither, the speech in a film's sound (where built with FFmpeg); false with
// error set when it has none.
bool read_reference(const std::string& path, std::vector<conv::TimeSpan>& spans,
                    std::string& error) {
    struct stat st;
    std::vector<uint8_t> head;
    if (!read_file(path, true, head, st, error)) return false;
    const conv::ReferenceKind kind = conv::reference_kind(head);
    if (kind == conv::ReferenceKind::kTransportStream) {
        std::string about;
        if (conv::read_reference_recording(path, spans, about, error) != conv::kConvertOk) {
            return false;
        }
        std::fprintf(stderr, "%.*s: %s: %s\n", static_cast<int>(kProgram.size()), kProgram.data(),
                     path.c_str(), about.c_str());
        return true;
    }
    std::string film_error;
#if LUMETRA_HAVE_FFMPEG
    if (kind == conv::ReferenceKind::kOther) {
        std::string about;
        if (tools::film_speech_spans(path, spans, about, film_error)) {
            std::fprintf(stderr, "%.*s: %s: %s\n", static_cast<int>(kProgram.size()),
                         kProgram.data(), path.c_str(), about.c_str());
            return true;
        }
        film_error = "; as a film: " + film_error;
    }
#endif
    std::vector<uint8_t> bytes;
    if (read_file(path, false, bytes, st, error) &&
        conv::read_reference_subtitles(bytes, spans, error) == conv::kConvertOk) {
        return true;
    }
    error += film_error;
    return false;
}

// The files of dir to convert, by base name (conv::name_base): regular files in a
// format the converter reads whose base name has no .tkx, each base name's files in
// the order they are tried (conv::source_rank, then by name). False when dir cannot
// be read.
bool files_to_convert(const std::string& dir, std::vector<std::vector<std::string>>& groups) {
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
    if (!d) return false;
    const std::string prefix = dir.empty() || dir.back() == '/' ? dir : dir + "/";
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d.get())) {
        const std::string_view name = e->d_name;
        if (name == "." || name == ".." || ends_with_extension(name)) continue;
        names.emplace_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string_view base_a = conv::name_base(a), base_b = conv::name_base(b);
        if (base_a != base_b) return base_a < base_b;
        const int rank_a = conv::source_rank(a), rank_b = conv::source_rank(b);
        return rank_a != rank_b ? rank_a < rank_b : a < b;
    });
    std::string_view group_base;
    for (const std::string& name : names) {
        const std::string path = prefix + name;
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::lstat(output_name_for(path).c_str(), &st) == 0) continue;
        // A file named as subtitles is taken up whatever it holds: when it cannot be
        // converted, the viewer is told why.
        std::vector<uint8_t> head;
        std::string error;
        if (!named_as_subtitles(name) &&
            (!read_file(path, true, head, st, error) || !conv::looks_convertible(head))) {
            continue;
        }
        if (groups.empty() || conv::name_base(name) != group_base) groups.emplace_back();
        group_base = conv::name_base(name);
        groups.back().push_back(path);
    }
    return true;
}

// An output of this run: its directory (device and inode, whatever the path's form)
// and name, and the input it was made from.
struct written_output {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;  // the whole path when its directory cannot be found
    std::string input;
};

written_output output_place(const std::string& output, const std::string& input) {
    const std::string_view name = base_name(output);
    const std::string dir = output.size() == name.size()
                                ? std::string(".")
                                : output.substr(0, output.size() - name.size());
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) return {0, 0, output, input};
    return {st.st_dev, st.st_ino, std::string(name), input};
}

// The input an output at place was made from earlier in this run, or empty.
std::string made_before(const std::vector<written_output>& written, const written_output& place) {
    for (const written_output& w : written) {
        if (w.device == place.device && w.inode == place.inode && w.name == place.name)
            return w.input;
    }
    return {};
}

int run(int argc, char** argv) {
    Arguments args;
    if (const int status = parse_arguments(argc, argv, args); status != 0) {
        return status == kExitDone ? 0 : status;
    }

    std::vector<std::vector<std::string>> groups;
    for (const std::string& file : args.files) groups.push_back({file});
    if (!args.all_dir.empty()) {
        if (!files_to_convert(args.all_dir, groups)) {
            print_line(args.all_dir + ": " + std::strerror(errno));
            return kExitFailed;
        }
        if (groups.size() == args.files.size()) print_line("nothing to convert in " + args.all_dir);
    }
    std::optional<SyncReference> reference;
    if (!args.sync_to.empty()) {
        reference.emplace(SyncReference{args.sync_to, {}, args.force});
        std::string error;
        if (!read_reference(args.sync_to, reference->spans, error)) {
            std::fprintf(stderr, "%.*s: %s: %s\n", static_cast<int>(kProgram.size()),
                         kProgram.data(), args.sync_to.c_str(), error.c_str());
            return kExitFailed;
        }
    }
    bool all_ok = true;
    std::vector<written_output> written;
    for (size_t g = 0; g < groups.size(); ++g) {
        // A FILE of the command line whose output another made in this run is refused;
        // of the sources --all found for one .tkx, the first that converts makes it.
        const bool named = g < args.files.size();
        std::string made_by;
        for (const std::string& input : groups[g]) {
            const std::string output = !args.output.empty()       ? args.output
                                       : input == kStandardStream ? std::string(kStandardStream)
                                                                  : output_name_for(input);
            const written_output place = output_place(output, input);
            if (made_by.empty()) made_by = made_before(written, place);
            if (!made_by.empty() && named) {
                std::fprintf(stderr, "%s: not converted: %s is made from %s in this run\n",
                             input.c_str(), output.c_str(), made_by.c_str());
                all_ok = false;
                continue;
            }
            if (!made_by.empty()) {
                std::fprintf(stderr, "%s: skipped: %s is converted to %s\n", input.c_str(),
                             std::string(base_name(made_by)).c_str(), output.c_str());
                continue;
            }
            if (convert_file(input, output, args.options, args.force, args.dry_run,
                             reference ? &*reference : nullptr)) {
                made_by = input;
                if (output != kStandardStream) written.push_back(place);
            } else {
                all_ok = false;
            }
        }
    }
    return all_ok ? 0 : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    // Names and paths are small; running out of memory for them ends the run cleanly.
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        print_line("out of memory");
        return kExitFailed;
    }
}
