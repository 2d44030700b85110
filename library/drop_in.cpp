// Drop-in subtitle files: converts downloaded subtitle files in the subtitle
// directory to the player's format before the library is listed, converts them again
// when they are replaced, reports those that cannot be converted, and deletes a
// listed file's sources together with it.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "conv/align.h"
#include "conv/convert.h"
#include "conv/recording.h"
#include "hw/device.h"
#include "library/library.h"

namespace {

constexpr std::string_view kDirectory = "/var/tuxbox/Tresk/tit/";
constexpr std::string_view kExtension = ".tkx";
// A converted or added file is written under this name first and renamed into place: short,
// so that a source of any name the file system takes can be converted.
constexpr std::string_view kPartName = ".lumetra-drop-in.part";
// The start of the converter's temporary names (this one's and lumetra-convert's).
constexpr std::string_view kTemporaryStart = ".lumetra-";
// What a Mac writes beside every file it copies ("._film.srt"): never subtitles.
constexpr std::string_view kMacMetadataStart = "._";
constexpr std::string_view kLinkName = "tresk.qst";
// Bytes looked at to decide whether a file is in a format the converter reads.
constexpr size_t kProbeBytes = 4096;
// A two-hour film is about 100 KB; larger files would cost the box more memory than
// conversion is worth.
constexpr off_t kMaxSourceBytes = 4 << 20;
// The header line the player reads, its line end and the NUL.
constexpr size_t kHeaderBytes = conv::kLongestHeaderLine + 2;
// Failed files and read headers remembered at most; beyond that they are simply read
// again.
constexpr size_t kMaxRemembered = 64;
// Extensions a file is taken for subtitles by, so that it is reported when it cannot
// be converted even though its start looks like no format at all (.txt is left out:
// it names notes as often as subtitles).
constexpr std::array<std::string_view, 5> kSubtitleExtensions = {".srt", ".ass", ".ssa", ".vtt",
                                                                 ".sub"};
// The converter's errors, by their start, as the viewer reads them; an error that is
// none of these is "niet te lezen", one naming a line "fout in regel N".
struct reason {
    std::string_view error_start;
    const char* text;
};
constexpr std::array<reason, 13> kReasons{{
    {"no subtitles found", "geen ondertitels gevonden"},
    {"no subtitle left to write", "geen ondertitels gevonden"},
    {"no subtitle format recognised", "onbekend formaat"},
    {"empty file", "leeg bestand"},
    {"not a text file", "geen tekstbestand"},
    {"already in the player's format", "al een .tkx-bestand"},
    {"unknown encoding", "onbekende tekenset"},
    {"file too large", "bestand te groot"},
    {"out of memory", "te weinig geheugen"},
    {"name too long", "naam te lang"},
    {"cannot write", "niet op te slaan"},
    {"name taken", "naam al in gebruik"},
    {"name not allowed", "ongeldige naam"},
}};
constexpr const char* kUnreadable = "niet te lezen";
constexpr std::string_view kLineStart = "line ";
// The longest name the box's file systems take: a source whose converted file's name
// would be longer is refused before it is converted.
constexpr size_t kLongestName = 255;
// The directory (22 bytes), a name (at most 255) and the longest suffix fit.
using path_buffer = std::array<char, 320>;

// Where the box keeps its recordings (the second where the disk is mounted there);
// the first directory holding a recording of a file's name is used.
constexpr std::array<std::string_view, 2> kRecordingDirectories = {"/media/hdd/movie/",
                                                                   "/hdd/movie/"};
constexpr std::string_view kRecordingExtension = ".ts";
// The box names a recording "20261207 2015 - NPO 1 - Title.ts": a file named after
// the title matches it too, and the date and time order recordings of one title
// (digits where the pattern has 'D').
constexpr std::string_view kTitleSeparator = " - ";
constexpr std::string_view kRecordingDatePattern = "DDDDDDDD DDDD";
// Recordings of a file's name read at most, the best first, until one fits: each is a
// full read of a recording, a minute or more of the disk.
constexpr size_t kMaxRecordingsTried = 3;
// A language code a downloaded file often carries ("film.nl.srt") is no part of the
// film's name.
constexpr size_t kLongestLanguageCode = 3;
// What became of an alignment as the viewer reads it, by library_alignment.
constexpr std::array<std::string_view, 4> kAlignmentTexts = {
    "uitgelijnd op opname", "niet uitgelijnd, opname past niet", "opname niet te lezen",
    "uitlijnen afgebroken"};
// How often the progress is reported, and the caller asked whether to stop, while a
// recording is read: a recording of several GB takes the disk a minute or more.
constexpr int64_t kProgressEveryMs = 250;
// Read so far is dropped from the page cache this often: the film playing needs it.
constexpr off_t kReleaseEvery = off_t{16} << 20;

struct close_dir {
    void operator()(DIR* d) const { closedir(d); }
};
struct close_file {
    void operator()(FILE* f) const { std::fclose(f); }
};
using dir_handle = std::unique_ptr<DIR, close_dir>;
using file_handle = std::unique_ptr<FILE, close_file>;

// A file that could not be converted, as it was when it failed: it is tried again
// (and reported again) only once its size or modification time changes.
struct failed_file {
    std::string name;
    off_t size;
    struct timespec modified;
};
// Failed files of the subtitle directory; main thread only.
std::vector<failed_file> failed_files;

// The header of a .tkx as it was read when the file had this inode, size and times,
// so that a pass with nothing new opens no file.
struct known_header {
    std::string name;
    ino_t inode;
    off_t size;
    struct timespec modified, changed;
    conv::ConvertedFrom from;
};
std::vector<known_header> known_headers;

// A file of the directory that may be the source of the .tkx of its base name.
struct source_file {
    std::string name;
    int rank;
};

// A pass at work: what it has to tell, and whom it tells how far it has come.
struct pass_state {
    library_pass told;
    const library_progress_fn& progress;
};

// A recording matching a subtitle file, and its subtitles' timing.
struct recording_match {
    std::string path;
    off_t size = 0;    // as the directory was read, for the progress
    int rank = 0;      // how well its name matches (recording_match_rank, +2 for the full name)
    std::string date;  // as the box wrote it in the name; empty when the name has none
    struct timespec modified {};
    std::vector<conv::TimeSpan> reference;
};

// What reading a matching recording gave.
enum class recording_outcome { none, reference, no_subtitles, unreadable, stopped };

struct close_descriptor {
    int fd;
    ~close_descriptor() {
        if (fd >= 0) hw_close(fd);
    }
};

bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

bool ends_with_ignoring_case(std::string_view text, std::string_view end) {
    return text.size() >= end.size() &&
           equal_ignoring_case(text.substr(text.size() - end.size()), end);
}

// The directory, then text, then suffix, NUL-terminated; false when it does not fit.
bool make_path(path_buffer& out, std::string_view text, std::string_view suffix = {}) {
    if (kDirectory.size() + text.size() + suffix.size() >= out.size()) return false;
    char* p = std::copy(kDirectory.begin(), kDirectory.end(), out.data());
    p = std::copy(text.begin(), text.end(), p);
    p = std::copy(suffix.begin(), suffix.end(), p);
    *p = '\0';
    return true;
}

bool same_time(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool later(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

conv::SourceStamp stamp_of(const struct stat& st) {
    return {st.st_size, st.st_mtim.tv_sec, static_cast<int32_t>(st.st_mtim.tv_nsec)};
}

// Names of the directory that no file handed over may take: the directory itself and
// its parent, the link, temporary files and a Mac's metadata.
bool reserved_name(std::string_view name) {
    return name == "." || name == ".." || name == kLinkName || name.starts_with(kTemporaryStart) ||
           name.starts_with(kMacMetadataStart);
}

// Names of the directory that are never a source: those reserved and converted files.
bool never_a_source(std::string_view name) {
    return reserved_name(name) || ends_with(name, kExtension);
}

bool named_as_subtitles(std::string_view name) {
    return std::any_of(kSubtitleExtensions.begin(), kSubtitleExtensions.end(),
                       [&](std::string_view e) { return ends_with_ignoring_case(name, e); });
}

bool failed_before(std::string_view name, const struct stat& st) {
    for (const failed_file& f : failed_files) {
        if (f.name == name && f.size == st.st_size && same_time(f.modified, st.st_mtim))
            return true;
    }
    return false;
}

void remember_failure(std::string_view name, const struct stat& st) {
    if (failed_files.size() >= kMaxRemembered) return;
    try {
        failed_files.push_back({std::string(name), st.st_size, st.st_mtim});
    } catch (const std::bad_alloc&) {
        // Not remembered: the file is tried again on the next pass.
    }
}

bool is_known(const known_header& k, std::string_view name, const struct stat& st) {
    return k.name == name && k.inode == st.st_ino && k.size == st.st_size &&
           same_time(k.modified, st.st_mtim) && same_time(k.changed, st.st_ctim);
}

void remember_header(std::string_view name, const struct stat& st,
                     const conv::ConvertedFrom& from) {
    try {
        std::erase_if(known_headers, [&](const known_header& k) { return k.name == name; });
        if (known_headers.size() >= kMaxRemembered) known_headers.erase(known_headers.begin());
        known_headers.push_back(
            {std::string(name), st.st_ino, st.st_size, st.st_mtim, st.st_ctim, from});
    } catch (const std::bad_alloc&) {
        // Not remembered: the header is read again on the next pass.
    }
}

// What the header of the .tkx called name (at path, as lstat gave st) says of its
// making; false when it cannot be read.
bool header_of(std::string_view name, const char* path, const struct stat& st,
               conv::ConvertedFrom& from) {
    for (const known_header& k : known_headers) {
        if (is_known(k, name, st)) {
            from = k.from;
            return true;
        }
    }
    file_handle f(hw_fopen(path, "rb"));
    if (!f) return false;
    std::array<char, kHeaderBytes> line{};
    from = {};
    if (std::fgets(line.data(), line.size(), f.get()) != nullptr) {
        const std::string_view header(line.data());
        // A first line longer than the player's is no converter's header.
        if (header.find('\n') != std::string_view::npos || std::feof(f.get()))
            from = conv::converted_from_header(header);
    }
    remember_header(name, st, from);
    return true;
}

// Whether a converted file made from the source stat describes still shows it: the
// source has the size and time recorded; for a file made before they were recorded,
// the source is not newer than the converted file.
bool up_to_date(const conv::ConvertedFrom& from, const struct stat& source,
                const struct stat& converted) {
    if (from.source_stamp) return *from.source_stamp == stamp_of(source);
    return !later(source.st_mtim, converted.st_mtim);
}

// Whether the converted file at path was changed by hand since it was written (or
// cannot be read): the viewer's from then on.
bool edited_by_viewer(const char* path) {
    file_handle f(hw_fopen(path, "rb"));
    std::string text;
    std::array<char, 4096> chunk;
    for (size_t n = chunk.size(); f && n == chunk.size();) {
        n = std::fread(chunk.data(), 1, chunk.size(), f.get());
        text.append(chunk.data(), n);
    }
    return !f || std::ferror(f.get()) != 0 || !conv::converted_content_matches(text);
}

// How well a recording's name matches a subtitle file's base name: 2 for the same
// name, 1 for a title the box put after its date and channel, 0 for none (any case).
int recording_match_rank(std::string_view recording, std::string_view base) {
    if (!ends_with_ignoring_case(recording, kRecordingExtension) || base.empty()) return 0;
    const std::string_view stem =
        recording.substr(0, recording.size() - kRecordingExtension.size());
    if (equal_ignoring_case(stem, base)) return 2;
    const std::string title = std::string(kTitleSeparator) + std::string(base);
    return stem.size() > title.size() && ends_with_ignoring_case(stem, title) ? 1 : 0;
}

// The base name without a language code at its end ("film.nl" -> "film"), or empty.
std::string_view without_language(std::string_view base) {
    const size_t dot = base.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    const std::string_view code = base.substr(dot + 1);
    if (code.size() < 2 || code.size() > kLongestLanguageCode) return {};
    for (char c : code) {
        if (lower(c) < 'a' || lower(c) > 'z') return {};
    }
    return base.substr(0, dot);
}

// The date and time the box put at the start of a recording's name ("20261207 2015"),
// or empty.
std::string_view recording_date(std::string_view name) {
    const std::string_view date = name.substr(0, kRecordingDatePattern.size());
    if (date.size() < kRecordingDatePattern.size() ||
        !name.substr(date.size()).starts_with(kTitleSeparator)) {
        return {};
    }
    for (size_t i = 0; i < date.size(); ++i) {
        const bool digit = date[i] >= '0' && date[i] <= '9';
        if (kRecordingDatePattern[i] == 'D' ? !digit : date[i] != kRecordingDatePattern[i])
            return {};
    }
    return date;
}

// Whether recording a is tried before b: the better match of the name, then the
// later date in the name (a name without one after those with), then the newer file.
bool tried_before(const recording_match& a, const recording_match& b) {
    if (a.rank != b.rank) return a.rank > b.rank;
    if (a.date.empty() != b.date.empty()) return b.date.empty();
    if (a.date != b.date) return a.date > b.date;
    if (!same_time(a.modified, b.modified)) return later(a.modified, b.modified);
    return a.path < b.path;
}

// The recordings of the box that the subtitle file of base name may belong to, in the
// order they are tried (a title recorded more than once), at most kMaxRecordingsTried:
// those of the first recording directory holding one. Empty when there is none.
std::vector<recording_match> find_recordings(std::string_view base) {
    const std::string_view short_base = without_language(base);
    std::vector<recording_match> found;
    for (std::string_view directory : kRecordingDirectories) {
        dir_handle d(hw_opendir(std::string(directory).c_str()));
        if (!d) continue;
        while (const dirent* e = readdir(d.get())) {
            const std::string_view name = e->d_name;
            // The full name before a language code cut off; each before a title.
            int rank = recording_match_rank(name, base);
            rank = rank > 0 ? rank + 2 : recording_match_rank(name, short_base);
            if (rank == 0) continue;
            recording_match match;
            match.path = std::string(directory) + std::string(name);
            struct stat st;
            if (hw_stat(match.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            match.size = st.st_size;
            match.rank = rank;
            match.date = recording_date(name);
            match.modified = st.st_mtim;
            found.push_back(std::move(match));
        }
        if (!found.empty()) break;
    }
    std::sort(found.begin(), found.end(), tried_before);
    if (found.size() > kMaxRecordingsTried) found.resize(kMaxRecordingsTried);
    return found;
}

// Whether a converted file's options are those of an alignment to a recording,
// which the drop-in makes itself.
bool aligned_to_recording(const conv::ConvertedFrom& from) {
    return from.only_sync_option &&
           std::any_of(kRecordingDirectories.begin(), kRecordingDirectories.end(),
                       [&](std::string_view d) { return from.sync_reference.starts_with(d); });
}

int64_t monotonic_ms() {
    struct timespec now {};
    hw_clock_gettime_mono(&now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// Reports how far reading has come; true when the caller asks to stop it.
bool report_reading(const library_progress_fn& progress, std::string_view path, off_t done,
                    off_t size) {
    const int64_t percent = size > 0 ? std::min<int64_t>(99, int64_t{done} * 100 / size) : 0;
    return progress && progress({library_step::reading, path, static_cast<int>(percent)});
}

// Reads the recording at path through the device layer and takes the timing of its
// subtitle stream with the most subtitles as the reference, reporting the progress.
// Never throws.
recording_outcome read_recording_reference(recording_match& match,
                                           const library_progress_fn& progress) {
    try {
        close_descriptor file{hw_open(match.path.c_str(), O_RDONLY | O_CLOEXEC)};
        if (file.fd < 0) return recording_outcome::unreadable;
        hw_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        conv::RecordingReader reader;
        off_t done = 0, released = 0;
        int64_t next_progress = 0;
        for (;;) {
            if (const int64_t now = monotonic_ms(); now >= next_progress) {
                if (report_reading(progress, match.path, done, match.size)) {
                    std::printf("library_convert_dropped_files: %s: stopped by the viewer\n",
                                match.path.c_str());
                    return recording_outcome::stopped;
                }
                next_progress = now + kProgressEveryMs;
            }
            const std::span<uint8_t> room = reader.space();
            const ssize_t n = hw_read(file.fd, room.data(), room.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return recording_outcome::unreadable;
            if (n == 0) break;
            reader.commit(static_cast<size_t>(n));
            done += n;
            if (done - released >= kReleaseEvery) {
                hw_fadvise(file.fd, released, done - released, POSIX_FADV_DONTNEED);
                released = done;
            }
        }
        const conv::Recording recording = reader.finish();
        std::string about, error;
        if (conv::recording_reference(recording, match.reference, about, error) !=
            conv::kConvertOk) {
            std::printf("library_convert_dropped_files: %s: %s\n", match.path.c_str(),
                        error.c_str());
            return recording_outcome::no_subtitles;
        }
        std::printf("library_convert_dropped_files: %s: %s\n", match.path.c_str(), about.c_str());
        // Aligning takes a box a few seconds more, and cannot be stopped.
        if (progress) progress({library_step::aligning, match.path});
        return recording_outcome::reference;
    } catch (const std::bad_alloc&) {
        match.reference.clear();
        std::printf("library_convert_dropped_files: %s: out of memory\n", match.path.c_str());
        return recording_outcome::unreadable;
    }
}

// Notes in the pass's outcome what became of the alignment of the file called name.
void add_notice(library_pass& pass, std::string_view name, library_alignment what) {
    if (what == library_alignment::aligned) {
        if (pass.first_aligned.empty()) pass.first_aligned = name;
    } else if (pass.misalignments++ == 0) {
        pass.first_misaligned = name;
        pass.misalignment = what;
    }
}

// Writes text to the file name + suffix of the directory through a temporary file, so
// that neither a pass nor a listing ever sees half a file; false with error set (to
// cannot_write when the file system refused) when it could not.
bool write_through_part(std::string_view name, std::string_view suffix, std::string_view text,
                        const char* cannot_write, std::string& error) {
    path_buffer part, target;
    if (!make_path(part, kPartName) || !make_path(target, name, suffix)) {
        error = "name too long";
        return false;
    }
    FILE* f = hw_fopen(part.data(), "wb");
    if (f == nullptr) {
        error = cannot_write;
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fflush(f) == 0 && ok;
    ok = hw_fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (ok && hw_rename(part.data(), target.data()) == 0) return true;
    error = ok && errno == ENAMETOOLONG ? "name too long" : cannot_write;
    hw_unlink(part.data());
    return false;
}

bool write_subtitles(std::string_view base, const std::string& text, std::string& error) {
    return write_through_part(base, kExtension, text, "cannot write the converted file", error);
}

// Reads the whole regular file of st at path into bytes. False when it cannot be read
// (error set) or, unless taken for subtitles by its name, when its start is in no
// format the converter reads (error left empty: not subtitles at all).
bool read_source(const char* path, const struct stat& st, bool subtitles_by_name,
                 std::unique_ptr<uint8_t[]>& bytes, size_t& length, std::string& error) {
    file_handle f(hw_fopen(path, "rb"));
    if (!f) {
        error = "cannot read the file";
        return false;
    }
    if (st.st_size <= 0) {
        if (subtitles_by_name) error = "empty file";
        return false;
    }
    length = static_cast<size_t>(st.st_size);
    bytes.reset(new (std::nothrow) uint8_t[length]);
    if (!bytes) {
        error = "out of memory";
        return false;
    }
    const size_t head = std::fread(bytes.get(), 1, std::min(length, kProbeBytes), f.get());
    if (!subtitles_by_name &&
        !conv::looks_convertible(std::span<const uint8_t>(bytes.get(), head))) {
        return false;
    }
    length = head + std::fread(bytes.get() + head, 1, length - head, f.get());
    if (std::ferror(f.get()) != 0) {
        error = "cannot read the file";
        return false;
    }
    return true;
}

// Converts one file of the directory into the .tkx of base; false when it failed
// and was left alone, with error saying why (empty for a file that is no subtitles).
// When recordings of the box match the file's name, the cues are aligned to the
// subtitles of the first that they fit (or converted as they are when none fits).
// Out of line: conversion options and times are doubles, and the box has no FPU, so
// the emulated instructions stay here, paid once per new file, never by the scan.
[[gnu::noinline]] bool convert_one(std::string_view name, std::string_view base, const char* path,
                                   const struct stat& st, pass_state& pass, std::string& error) {
    const bool subtitles_by_name = named_as_subtitles(name);
    if (st.st_size > kMaxSourceBytes) {
        if (subtitles_by_name) error = "file too large";
        return false;
    }
    std::unique_ptr<uint8_t[]> bytes;
    size_t length = 0;
    if (!read_source(path, st, subtitles_by_name, bytes, length, error)) return false;
    if (base.size() + kExtension.size() > kLongestName) {
        std::printf("library_convert_dropped_files: %.*s: name too long\n",
                    static_cast<int>(name.size()), name.data());
        error = "name too long";
        return false;
    }
    pass.told.tried = true;
    if (pass.progress) pass.progress({library_step::converting, name});
    try {
        conv::ConvertOptions options;
        options.source_name = name;
        options.source_stamp = stamp_of(st);
        conv::ConvertReport report;
        std::string text;
        const std::span<const uint8_t> source(bytes.get(), length);
        // The recordings of the film in turn until the cues fit one; what the last one
        // read gave is kept (the cues as they were when it did not fit), and the pass's
        // outcome tells what became of the alignment.
        int result = conv::kConvertFailed;
        std::string summary;  // of the conversion kept
        std::optional<library_alignment> notice;
        for (recording_match& recording : find_recordings(base)) {
            if (pass.told.alignment_stopped) {
                notice = library_alignment::stopped;
                break;
            }
            const recording_outcome found = read_recording_reference(recording, pass.progress);
            if (found == recording_outcome::stopped) {
                pass.told.alignment_stopped = true;
                notice = library_alignment::stopped;
                break;
            }
            if (found == recording_outcome::unreadable && !notice) {
                notice = library_alignment::unreadable_recording;
            }
            if (found != recording_outcome::reference) continue;
            // The one before did not fit: its line goes to the log as it stands.
            if (!summary.empty())
                std::printf("library_convert_dropped_files: %s\n", summary.c_str());
            options.sync_reference = recording.path;
            report = {};
            conv::Alignment alignment;
            result = conv::convert_aligned(source, options, recording.reference, true, text, report,
                                           alignment);
            recording.reference = {};
            summary = conv::aligned_summary_line(name, recording.path, result, report, alignment);
            if (result != conv::kConvertOk) break;  // the file itself does not convert
            notice = alignment.reliable ? library_alignment::aligned : library_alignment::no_match;
            if (alignment.reliable) break;
        }
        if (summary.empty()) {
            options.sync_reference.clear();
            result = conv::convert_subtitles(source, options, text, report);
            summary = conv::summary_line(name, result, report);
        }
        bytes.reset();
        const bool ok = result == conv::kConvertOk && write_subtitles(base, text, report.error);
        std::printf("library_convert_dropped_files: %s%s\n", summary.c_str(),
                    result == conv::kConvertOk && !ok ? " (not written)" : "");
        if (!ok) {
            error = report.error.empty() ? std::string("cannot read the file") : report.error;
            return false;
        }
        if (notice) add_notice(pass.told, name, *notice);
        path_buffer target;
        struct stat written;
        if (make_path(target, base, kExtension) && hw_lstat(target.data(), &written) == 0) {
            remember_header(
                std::string(base) + std::string(kExtension), written,
                conv::converted_from_header(std::string_view(text).substr(0, text.find('\n'))));
        }
        return true;
    } catch (const std::bad_alloc&) {
        std::printf("library_convert_dropped_files: %.*s: out of memory\n",
                    static_cast<int>(name.size()), name.data());
        error = "out of memory";
        return false;
    }
}

// Brings the .tkx of base up to date with its sources (in the order they are
// tried): converts the first that converts when there is no .tkx, or when the one
// there was made by conversion from a source of this base name that is not the
// first such file any more or has changed since. A .tkx written by hand, made from
// a file of another name or with options chosen by hand, or changed by hand since it
// was converted is the viewer's and is left as it is.
void convert_sources_of(std::string_view base, std::span<const source_file> sources,
                        pass_state& pass) {
    const std::string converted_name = std::string(base) + std::string(kExtension);
    path_buffer converted;
    if (!make_path(converted, converted_name)) return;
    struct stat converted_st;
    conv::ConvertedFrom from;
    const bool have_converted = hw_lstat(converted.data(), &converted_st) == 0;
    if (have_converted) {
        if (!S_ISREG(converted_st.st_mode) ||
            !header_of(converted_name, converted.data(), converted_st, from)) {
            return;
        }
        if (!from.converted || from.source_name.empty() ||
            conv::name_base(from.source_name) != base ||
            (!from.options.empty() && !aligned_to_recording(from))) {
            return;
        }
    }
    // A source that cannot be converted is no news when another of the name makes the
    // .tkx (a broken .srt beside a good .vtt): reported only when none does.
    std::vector<std::pair<std::string, std::string>> failed;
    for (const source_file& source : sources) {
        path_buffer path;
        struct stat st;
        // A link is followed: the viewer may link a file kept elsewhere.
        if (!make_path(path, source.name) || hw_stat(path.data(), &st) != 0 ||
            !S_ISREG(st.st_mode) || failed_before(source.name, st)) {
            continue;
        }
        if (have_converted && source.name == from.source_name &&
            up_to_date(from, st, converted_st)) {
            return;
        }
        if (have_converted && edited_by_viewer(converted.data())) return;
        std::string error;
        if (convert_one(source.name, base, path.data(), st, pass, error)) return;
        remember_failure(source.name, st);
        if (!error.empty()) failed.emplace_back(source.name, std::move(error));
    }
    for (auto& [name, error] : failed) {
        if (pass.told.failures++ == 0) {
            pass.told.first_failed = std::move(name);
            pass.told.first_error = std::move(error);
        }
    }
}

// The files of the directory that may be sources, by base name and then in the
// order they are tried; false when the directory cannot be read.
bool list_sources(std::vector<source_file>& sources) {
    dir_handle d(hw_opendir(kDirectory.data()));
    if (!d) return false;
    while (const dirent* e = readdir(d.get())) {
        const std::string_view name = e->d_name;
        if (never_a_source(name) || e->d_type == DT_DIR) continue;
        sources.push_back({std::string(name), conv::source_rank(name)});
    }
    std::sort(sources.begin(), sources.end(), [](const source_file& a, const source_file& b) {
        const std::string_view base_a = conv::name_base(a.name), base_b = conv::name_base(b.name);
        if (base_a != base_b) return base_a < base_b;
        return a.rank != b.rank ? a.rank < b.rank : a.name < b.name;
    });
    return true;
}

// Deletes the files of the directory whose base name is base and that are in a format
// the converter reads or named as subtitles: the sources a .tkx of that name would be
// made from, or that would be named for failing to make it. A link to
// such a file is such a source: the link is deleted, never what it points at.
void delete_sources_of(std::string_view base) {
    std::vector<std::string> doomed;
    {
        dir_handle d(hw_opendir(kDirectory.data()));
        if (!d) return;
        while (const dirent* e = readdir(d.get())) {
            const std::string_view name = e->d_name;
            if (!never_a_source(name) && conv::name_base(name) == base) doomed.emplace_back(name);
        }
    }
    for (const std::string& name : doomed) {
        path_buffer path;
        struct stat st;
        if (!make_path(path, name) || hw_stat(path.data(), &st) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        // One that failed stays a source by its name: left, it would be named again at
        // every start.
        if (named_as_subtitles(name)) {
            hw_unlink(path.data());
            continue;
        }
        std::array<uint8_t, kProbeBytes> head;
        file_handle f(hw_fopen(path.data(), "rb"));
        if (!f) continue;
        const size_t n = std::fread(head.data(), 1, head.size(), f.get());
        f.reset();
        if (conv::looks_convertible(std::span<const uint8_t>(head.data(), n))) {
            hw_unlink(path.data());
        }
    }
}

}  // namespace

library_pass library_convert_dropped_files(const library_progress_fn& progress) {
    pass_state pass{{}, progress};
    try {
        std::vector<source_file> sources;
        if (!list_sources(sources)) return {};  // listing the directory reports it
        for (size_t first = 0; first < sources.size();) {
            const std::string_view base = conv::name_base(sources[first].name);
            size_t end = first + 1;
            while (end < sources.size() && conv::name_base(sources[end].name) == base) ++end;
            convert_sources_of(base, std::span(sources).subspan(first, end - first), pass);
            first = end;
        }
    } catch (const std::bad_alloc&) {
        // The files not reached are converted on a later pass.
    }
    return std::move(pass.told);
}

bool library_add_file(std::string_view name, std::span<const uint8_t> bytes, std::string& error,
                      bool replace) {
    error.clear();
    struct stat st;
    path_buffer path;
    if (name.empty() || name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos ||
        reserved_name(name)) {
        error = "name not allowed";
    } else if (name.size() > kLongestName || !make_path(path, name)) {
        error = "name too long";
    } else if (bytes.size() > static_cast<size_t>(kMaxSourceBytes)) {
        error = "file too large";
    } else {
        const bool there = hw_lstat(path.data(), &st) == 0;
        if (there && (!replace || S_ISDIR(st.st_mode))) {
            error = "name taken";
        } else if (!there && errno != ENOENT) {
            error = "cannot write the file";
        } else {
            // The rename replaces a file (or a link: never what it points to) whole.
            const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            return write_through_part(name, {}, text, "cannot write the file", error);
        }
    }
    return false;
}

bool library_converted_file_is_viewers(std::string_view base) {
    try {
        const std::string converted_name = std::string(base) + std::string(kExtension);
        path_buffer converted;
        struct stat st;
        if (!make_path(converted, converted_name) || hw_lstat(converted.data(), &st) != 0) {
            return false;
        }
        conv::ConvertedFrom from;
        if (!S_ISREG(st.st_mode) || !header_of(converted_name, converted.data(), st, from)) {
            return true;
        }
        return !from.converted || from.source_name.empty() ||
               conv::name_base(from.source_name) != base ||
               (!from.options.empty() && !aligned_to_recording(from)) ||
               edited_by_viewer(converted.data());
    } catch (const std::bad_alloc&) {
        return true;
    }
}

std::string library_failure_text(std::string_view error) {
    for (const reason& r : kReasons) {
        if (error.starts_with(r.error_start)) return r.text;
    }
    if (error.starts_with(kLineStart)) {
        const std::string_view rest = error.substr(kLineStart.size());
        const std::string_view digits = rest.substr(0, rest.find_first_not_of("0123456789"));
        if (!digits.empty() && digits.size() < 10) return "fout in regel " + std::string(digits);
    }
    return kUnreadable;
}

std::string_view library_alignment_text(library_alignment what) {
    const auto i = static_cast<size_t>(what);
    return i < kAlignmentTexts.size() ? kAlignmentTexts[i] : std::string_view{};
}

int library_delete_subtitle_file(const char* path) {
    const int result = library_remove_path(path);
    const std::string_view p = path != nullptr ? path : "";
    if (result != 0 || !p.starts_with(kDirectory) || !ends_with(p, kExtension)) return result;
    const std::string_view base =
        p.substr(kDirectory.size(), p.size() - kDirectory.size() - kExtension.size());
    if (base.empty() || base.find('/') != std::string_view::npos) return result;
    try {
        delete_sources_of(base);
    } catch (const std::bad_alloc&) {
        // The sources stay; the next pass converts one of them again.
    }
    return result;
}
