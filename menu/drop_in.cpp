// Drop-in subtitle files: converts downloaded subtitle files in the subtitle
// directory to the player's format before the file menu lists it, and deletes a
// converted file's source together with it.
#include "menu/drop_in.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "conv/convert.h"
#include "fb/status.h"
#include "hw/device.h"
#include "menu/menus.h"

namespace {

constexpr const char* kDirectory = "/var/tuxbox/Tresk/tit/";
constexpr std::string_view kExtension = ".tkx";
// A converted file is written under this name first and renamed into place.
constexpr std::string_view kPartSuffix = ".tkx.part";
constexpr std::string_view kLinkName = "tresk.qst";
constexpr const char* kConvertingText = "Ondertitels omzetten...";
// Bytes looked at to decide whether a file is in a format the converter reads.
constexpr size_t kProbeBytes = 4096;
// A two-hour film is about 100 KB; larger files would cost the box more memory than
// conversion is worth.
constexpr off_t kMaxSourceBytes = 4 << 20;
// The header line of a converted file is short; a longer first line names no source.
constexpr size_t kHeaderBytes = 512;
// Failed files remembered at most; beyond that they are simply tried again.
constexpr size_t kMaxRemembered = 64;
// The directory (22 bytes), a name (at most 255) and the longest suffix fit.
using path_buffer = std::array<char, 320>;

struct close_dir {
    void operator()(DIR* d) const { closedir(d); }
};
struct close_file {
    void operator()(FILE* f) const { std::fclose(f); }
};
using dir_handle = std::unique_ptr<DIR, close_dir>;
using file_handle = std::unique_ptr<FILE, close_file>;

// A file that could not be converted, as it was when it failed: it is tried again
// only once its size or modification time changes.
struct failed_file {
    std::string name;
    off_t size;
    struct timespec modified;
};
// Failed files of the subtitle directory; main thread only.
std::vector<failed_file> failed_files;

bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The directory, then text, then suffix, NUL-terminated; false when it does not fit.
bool make_path(path_buffer& out, std::string_view text, std::string_view suffix = {}) {
    const size_t dir = std::strlen(kDirectory);
    if (dir + text.size() + suffix.size() >= out.size()) return false;
    char* p = std::copy_n(kDirectory, dir, out.data());
    p = std::copy(text.begin(), text.end(), p);
    p = std::copy(suffix.begin(), suffix.end(), p);
    *p = '\0';
    return true;
}

bool same_time(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
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

// Reads the whole regular file of st at path into bytes; false when its start is not
// in a format the converter reads, or it cannot be read.
bool read_convertible(const char* path, const struct stat& st, std::unique_ptr<uint8_t[]>& bytes,
                      size_t& length) {
    file_handle f(hw_fopen(path, "rb"));
    if (!f || st.st_size <= 0) return false;
    length = static_cast<size_t>(st.st_size);
    bytes.reset(new (std::nothrow) uint8_t[length]);
    if (!bytes) return false;
    const size_t head = std::fread(bytes.get(), 1, std::min(length, kProbeBytes), f.get());
    if (!conv::looks_convertible(std::span<const uint8_t>(bytes.get(), head))) return false;
    length = head + std::fread(bytes.get() + head, 1, length - head, f.get());
    return std::ferror(f.get()) == 0;
}

// Writes text to the .tkx of base through a temporary file, so that the menu never
// lists half a file.
bool write_subtitles(std::string_view base, const std::string& text) {
    path_buffer part, target;
    if (!make_path(part, base, kPartSuffix) || !make_path(target, base, kExtension)) return false;
    FILE* f = hw_fopen(part.data(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fflush(f) == 0 && ok;
    ok = hw_fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || hw_rename(part.data(), target.data()) != 0) {
        hw_unlink(part.data());
        return false;
    }
    return true;
}

// Converts one file of the directory; false when it failed and was left alone. Out
// of line: conversion options and times are doubles, and the box has no FPU, so the
// emulated instructions stay here, paid once per new file, never by the scan.
[[gnu::noinline]] bool convert_one(std::string_view name, std::string_view base, const char* path,
                                   const struct stat& st, bool& text_shown) {
    std::unique_ptr<uint8_t[]> bytes;
    size_t length = 0;
    if (st.st_size > kMaxSourceBytes || !read_convertible(path, st, bytes, length)) return false;
    if (!text_shown) {
        fb_show_status(kConvertingText);
        text_shown = true;
    }
    try {
        conv::ConvertOptions options;
        options.source_name = name;
        conv::ConvertReport report;
        std::string text;
        const int result = conv::convert_subtitles(std::span<const uint8_t>(bytes.get(), length),
                                                   options, text, report);
        bytes.reset();
        const bool ok = result == conv::kConvertOk && write_subtitles(base, text);
        std::printf("rc_convert_dropped_files: %s%s\n",
                    conv::summary_line(name, result, report).c_str(),
                    result == conv::kConvertOk && !ok ? " (not written)" : "");
        return ok;
    } catch (const std::bad_alloc&) {
        std::printf("rc_convert_dropped_files: %.*s: out of memory\n",
                    static_cast<int>(name.size()), name.data());
        return false;
    }
}

// The source a converted file names in its header, if it is a plain file name
// that may be removed with it; empty otherwise (also for a file written by hand).
std::string source_of(const char* path) {
    struct stat st;
    if (hw_lstat(path, &st) != 0 || !S_ISREG(st.st_mode)) return {};
    file_handle f(hw_fopen(path, "rb"));
    std::array<char, kHeaderBytes> line{};
    if (!f || std::fgets(line.data(), line.size(), f.get()) == nullptr) return {};
    std::string_view header(line.data());
    // A first line longer than the buffer is no converter's header; a cut one could
    // name a different file.
    if (header.find('\n') == std::string_view::npos && !std::feof(f.get())) return {};
    while (!header.empty() && (header.back() == '\n' || header.back() == '\r')) {
        header.remove_suffix(1);
    }
    std::string name;
    try {
        name = conv::source_name_from_header(header);
    } catch (const std::bad_alloc&) {
        return {};
    }
    // Never a path, never another subtitle file or the link: only a plain name of a
    // file the drop-in conversion could have read.
    const bool plain =
        !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
        name.find('\0') == std::string::npos && !ends_with(name, kExtension) && name != kLinkName;
    return plain ? name : std::string();
}

}  // namespace

void menu_convert_dropped_files() {
    dir_handle d(hw_opendir(kDirectory));
    if (!d) return;  // the menu's own pass reports it
    bool text_shown = false;
    while (const dirent* e = readdir(d.get())) {
        const std::string_view name = e->d_name;
        if (name == "." || name == ".." || name == kLinkName || ends_with(name, kExtension) ||
            ends_with(name, kPartSuffix) || e->d_type == DT_DIR || e->d_type == DT_LNK) {
            continue;
        }
        const size_t dot = name.rfind('.');
        const std::string_view base = dot == std::string_view::npos ? name : name.substr(0, dot);
        path_buffer converted, path;
        if (!make_path(converted, base, kExtension) || !make_path(path, name)) continue;
        struct stat st;
        if (hw_lstat(converted.data(), &st) == 0) continue;  // converted already or written by hand
        if (hw_lstat(path.data(), &st) != 0 || !S_ISREG(st.st_mode) || failed_before(name, st)) {
            continue;
        }
        if (!convert_one(name, base, path.data(), st, text_shown)) remember_failure(name, st);
    }
    if (text_shown) {
        fb_clear_status();
        fb_show_icons();
    }
}

int menu_delete_subtitle_file(const char* path) {
    const std::string source = source_of(path);
    const int result = menu_remove_path(path);
    path_buffer source_path;
    struct stat st;
    if (result == 0 && !source.empty() && make_path(source_path, source) &&
        hw_lstat(source_path.data(), &st) == 0 && S_ISREG(st.st_mode)) {
        hw_unlink(source_path.data());
    }
    return result;
}
