// lumetra-convert: converts downloaded subtitle files into the player's format on
// the command line, on the PC or on the box itself.
//
//   lumetra-convert [options] FILE...
//
// Each FILE is written beside itself with its extension replaced by ".tkx" (or to
// OUT with -o), through a temporary file in the same directory and a rename, so a
// reader never sees half a file. One summary line per file goes to standard error.
// Exit status: 0 when every file was converted, 1 when any failed, 2 on a usage error.
#include <dirent.h>
#include <fcntl.h>
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
#if LUMETRA_HAVE_FFMPEG
#include "tools/film_audio.h"
#endif

namespace {

constexpr std::string_view kProgram = "lumetra-convert";
constexpr std::string_view kExtension = ".tkx";
constexpr const char* kUsage =
    "usage: lumetra-convert [--encoding NAME] [--fps N] [--offset SECONDS] [--wrap N] [--plain]\n"
    "                       [--sync-to REFERENCE [--force]] [-o OUT] [--all DIR] FILE...\n"
    "  writes FILE with its extension replaced by .tkx (or OUT, for one FILE);\n"
    "  --all DIR converts every subtitle file in DIR that has no .tkx of its own;\n"
    "  --sync-to moves FILE's subtitles onto the timing of the subtitle file REFERENCE\n"
    "  (or of the speech in a film, where built with FFmpeg), refusing a poor match\n"
    "  (--force writes such a FILE unaligned)\n";
// Larger inputs are not subtitles anyone downloads; refusing them bounds the memory.
constexpr uintmax_t kMaxInputBytes = 64u << 20;
// Bytes looks_convertible is shown when --all decides what to convert.
constexpr size_t kProbeBytes = 4096;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kHelpShown = -1;

struct Arguments {
    conv::ConvertOptions options;
    std::string output;   // -o
    std::string all_dir;  // --all
    std::string sync_to;  // --sync-to: the reference's path
    bool force = false;   // --force: a file without a reliable match written unaligned
    std::vector<std::string> files;
};

struct FdCloser {
    int fd = -1;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

int usage_error(std::string_view message) {
    std::fprintf(stderr, "%.*s: %.*s\n%s", static_cast<int>(kProgram.size()), kProgram.data(),
                 static_cast<int>(message.size()), message.data(), kUsage);
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
    std::string_view name;
    double low, high;
    bool whole;
    const char* takes;
};
// An offset beyond a day either way is no film's; the times would overflow.
constexpr std::array<NumberOption, 3> kNumberOptions{{
    {"--fps", 1.0, 1000.0, false, "frames per second between 1 and 1000"},
    {"--offset", -86400.0, 86400.0, false, "seconds, e.g. -1.5 or +2, within a day"},
    {"--wrap", 1.0, 1000.0, true, "a number of characters between 1 and 1000"},
}};

const NumberOption* number_option(std::string_view name) {
    for (const NumberOption& o : kNumberOptions) {
        if (o.name == name) return &o;
    }
    return nullptr;
}

// Fills args from argv; returns 0, kHelpShown, or the exit status of a usage error
// already printed.
int parse_arguments(int argc, char** argv, Arguments& args) {
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options_done || arg.empty() || arg.front() != '-' || arg == "-") {
            args.files.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kHelpShown;
        }
        if (arg == "--plain") {
            args.options.plain = true;
            continue;
        }
        if (arg == "--force") {
            args.force = true;
            continue;
        }
        const bool takes_value = arg == "--encoding" || arg == "-o" || arg == "--all" ||
                                 arg == "--sync-to" || number_option(arg) != nullptr;
        if (!takes_value) return usage_error("unknown option " + std::string(arg));
        if (i + 1 >= argc) return usage_error(std::string(arg) + " needs a value");
        const std::string_view value = argv[++i];
        if (arg == "--encoding") {
            if (value.empty()) return usage_error("--encoding needs a name");
            args.options.forced_encoding = value;
        } else if (const NumberOption* number = number_option(arg)) {
            const auto parsed = parse_double(value);
            if (!parsed || *parsed < number->low || *parsed > number->high ||
                (number->whole && *parsed != std::floor(*parsed))) {
                return usage_error(std::string(arg) + " takes " + number->takes);
            }
            if (arg == "--fps") args.options.fps = *parsed;
            if (arg == "--offset") args.options.offset_seconds = *parsed;
            if (arg == "--wrap") args.options.wrap_width = static_cast<int>(*parsed);
        } else if (arg == "-o") {
            args.output = value;
        } else if (arg == "--sync-to") {
            if (value.empty()) return usage_error("--sync-to needs a file");
            args.sync_to = value;
        } else {
            args.all_dir = value;
        }
    }
    if (args.files.empty() && args.all_dir.empty()) return usage_error("no FILE given");
    if (!args.output.empty() && (args.files.size() != 1 || !args.all_dir.empty())) {
        return usage_error("-o takes exactly one FILE");
    }
    return 0;
}

std::string_view base_name(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// FILE's name with its extension (from the last "." of the name) replaced by ".tkx".
std::string output_name_for(std::string_view path) {
    const std::string_view name = base_name(path);
    const size_t dot = name.rfind('.');
    const size_t keep =
        path.size() - name.size() + (dot == std::string_view::npos ? name.size() : dot);
    return std::string(path.substr(0, keep)) + std::string(kExtension);
}

bool ends_with_extension(std::string_view name) {
    return name.size() >= kExtension.size() &&
           name.substr(name.size() - kExtension.size()) == kExtension;
}

std::string errno_text(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Reads a regular file whole, or only its first kProbeBytes when just_the_start;
// false with error set otherwise.
bool read_file(const std::string& path, bool just_the_start, std::vector<uint8_t>& bytes,
               std::string& error) {
    FdCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat st;
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0) {
        error = errno_text("cannot read the file");
        return false;
    }
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
        const ssize_t n = ::read(file.fd, bytes.data() + done, wanted - done);
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
// or holds all of data, never a part of it.
bool write_replacing(const std::string& path, std::string_view data, std::string& error) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string temp = dir + "." + std::string(base_name(path)) + ".XXXXXX";
    FdCloser file{::mkstemp(temp.data())};
    if (file.fd < 0) {
        error = errno_text("cannot create a file beside the output");
        return false;
    }
    // mkstemp makes the file private; the output gets the mode a new file would get.
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

// The reference of --sync-to: its path and its timing.
struct SyncReference {
    std::string path;
    std::vector<conv::TimeSpan> spans;
    bool force = false;
};

// Converts one file and prints its summary line; true when the output was written
// (and aligned, with a reference).
bool convert_file(const std::string& input, const std::string& output,
                  const conv::ConvertOptions& base_options, const SyncReference* reference) {
    conv::ConvertOptions options = base_options;
    options.source_name = base_name(input);
    conv::ConvertReport report;
    std::string converted;
    std::vector<uint8_t> bytes;
    conv::Alignment alignment;
    int result = conv::kConvertFailed;
    if (output == input) {
        report.error = "the output would replace the input";
    } else if (read_file(input, false, bytes, report.error)) {
        if (reference == nullptr) {
            result = conv::convert_subtitles(bytes, options, converted, report);
        } else {
            result = conv::convert_aligned(bytes, options, reference->spans, reference->force,
                                           converted, report, alignment);
        }
        if (result == conv::kConvertOk && !write_replacing(output, converted, report.error)) {
            result = conv::kConvertFailed;
        }
    }
    if (reference == nullptr) {
        std::fprintf(stderr, "%s\n", conv::summary_line(input, result, report).c_str());
        return result == conv::kConvertOk;
    }
    std::fprintf(
        stderr, "%s\n",
        conv::aligned_summary_line(input, reference->path, result, report, alignment).c_str());
    return result == conv::kConvertOk && alignment.reliable;
}

// The timing of the --sync-to reference: a subtitle file's cues or, for a file that
// does not look like subtitles, the speech in a film's sound (where built with FFmpeg).
bool read_reference(const std::string& path, std::vector<conv::TimeSpan>& spans,
                    std::string& error) {
    std::string film_error;
#if LUMETRA_HAVE_FFMPEG
    std::vector<uint8_t> head;
    if (!read_file(path, true, head, error)) return false;
    if (!conv::looks_convertible(head)) {
        if (tools::film_speech_spans(path, spans, film_error)) return true;
        film_error = "; as a film: " + film_error;
    }
#endif
    std::vector<uint8_t> bytes;
    if (read_file(path, false, bytes, error) &&
        conv::read_reference_subtitles(bytes, spans, error) == conv::kConvertOk) {
        return true;
    }
    error += film_error;
    return false;
}

// The files of dir to convert: regular files in a format the converter reads, without
// a .tkx of their own, in name order. False when dir cannot be read.
bool files_to_convert(const std::string& dir, std::vector<std::string>& files) {
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
    if (!d) return false;
    const std::string prefix = dir.empty() || dir.back() == '/' ? dir : dir + "/";
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d.get())) {
        const std::string_view name = e->d_name;
        if (name.front() == '.' && (name.size() == 1 || name == "..")) continue;
        if (!ends_with_extension(name)) names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = prefix + name;
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::stat(output_name_for(path).c_str(), &st) == 0) continue;
        std::vector<uint8_t> head;
        std::string error;
        if (read_file(path, true, head, error) && conv::looks_convertible(head)) {
            files.push_back(path);
        }
    }
    return true;
}

int run(int argc, char** argv) {
    Arguments args;
    if (const int status = parse_arguments(argc, argv, args); status != 0) {
        return status == kHelpShown ? 0 : status;
    }

    std::vector<std::string> inputs = args.files;
    if (!args.all_dir.empty()) {
        if (!files_to_convert(args.all_dir, inputs)) {
            std::fprintf(stderr, "%.*s: %s: %s\n", static_cast<int>(kProgram.size()),
                         kProgram.data(), args.all_dir.c_str(), std::strerror(errno));
            return kExitFailed;
        }
        if (inputs.empty()) {
            std::fprintf(stderr, "%.*s: nothing to convert in %s\n",
                         static_cast<int>(kProgram.size()), kProgram.data(), args.all_dir.c_str());
        }
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
    for (const std::string& input : inputs) {
        const std::string output = args.output.empty() ? output_name_for(input) : args.output;
        all_ok =
            convert_file(input, output, args.options, reference ? &*reference : nullptr) && all_ok;
    }
    return all_ok ? 0 : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    // Names and paths are small; running out of memory for them ends the run cleanly.
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%.*s: out of memory\n", static_cast<int>(kProgram.size()),
                     kProgram.data());
        return kExitFailed;
    }
}
