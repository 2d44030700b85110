// The subtitle file loader: the header, one record per subtitle line, release and
// replacement of the loaded array, and the choice of the file loaded at start-up.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "fb/screen.h"
#include "hw/device.h"
#include "sub/subtitles.h"

namespace {

// A physical line is read with a buffer of this size (at most 999 bytes and the NUL).
constexpr int kLineBuffer = 1000;
// Milliseconds per frame of a subtitle file (25 frames a second).
constexpr uint32_t kMsPerFrame = 40;
// A subtitle whose end is not after its start is shown this long, in ms.
constexpr uint32_t kFallbackDurationMs = 2000;
// The shortest subtitle line that reads successfully: "{0}{0}x".
constexpr long kShortestLine = 7;
// Files of this size or less are not loaded at start-up.
constexpr off_t kMinLoadSize = 20;

constexpr const char* kSubtitleDirectory = "/var/tuxbox/Tresk/tit/";
constexpr const char* kLinkPath = "/var/tuxbox/Tresk/tit/tresk.qst";
constexpr const char* kSpecialPath = "/var/tuxbox/Tresk/tit/tresk.tkx";

// Error numbers of the error box.
constexpr int32_t kOpenError = 2;
constexpr int32_t kMemoryError = 3;
constexpr int32_t kFormatError = 9;
constexpr int32_t kReadError = 10;

// Closes a file opened by the loader on every road out.
struct close_file {
    void operator()(FILE* f) const { std::fclose(f); }
};
using file_handle_ptr = std::unique_ptr<FILE, close_file>;

// What a load writes besides the array: kept aside while a replacement loads.
struct installed_file {
    int32_t count;
    int32_t offset;
    int32_t last_end;
};

int32_t wrap32(long long v);
bool is_separator(char c);
bool split_text(const char* text, subtitle* record);
int64_t bytes_left(FILE* f);
std::unique_ptr<subtitle[]> load_candidate(const char* path);

}  // namespace

relaxed<subtitle*> subtitles{nullptr};
std::unique_ptr<subtitle[]> subtitles_owner;
relaxed<int32_t> subtitle_count{0};
bool subtitles_ever_loaded = false;
int32_t time_offset_ms = 0;
int32_t last_end_ms = 0;
int32_t sub_error = 0;
std::mutex subtitles_mutex;

std::unique_ptr<subtitle[]> sub_load_file(const char* path) {
    if (path == nullptr) {
        sub_error = kOpenError;
        return nullptr;
    }
    file_handle_ptr file(hw_fopen(path, "r"));
    if (!file) {
        sub_error = kOpenError;
        return nullptr;
    }
    char line[kLineBuffer];
    if (std::fgets(line, kLineBuffer, file.get()) == nullptr) {
        sub_error = kReadError;
        return nullptr;
    }
    int count = 0;
    int offset = 0;
    int n = std::sscanf(line, "[KTF2: %d %d ]", &count, &offset);
    if (n != 2) n = std::sscanf(line, "\xEF\xBB\xBF[KTF2: %d %d ]", &count, &offset);
    if (n != 2) {
        sub_error = kFormatError;
        return nullptr;
    }
    // The offset is kept as scanned even when the header is refused below.
    time_offset_ms = offset;
    if (count <= 0 || offset < 0) {
        sub_error = kFormatError;
        return nullptr;
    }
    time_offset_ms = static_cast<int32_t>(static_cast<uint32_t>(offset) * kMsPerFrame);

    // Every line that reads successfully takes at least kShortestLine bytes, so a
    // header announcing more lines than the rest of the file can hold must fail before
    // they are all read. The array is sized for what the file can hold, so that a
    // bogus count costs no memory; the reading below fails exactly where it would have.
    int64_t capacity = count;
    int64_t left = bytes_left(file.get());
    if (left >= 0) capacity = std::min<int64_t>(capacity, left / kShortestLine + 1);

    std::unique_ptr<subtitle[]> records(new (std::nothrow) subtitle[static_cast<size_t>(capacity)]);
    if (!records) {
        sub_error = kMemoryError;
        return nullptr;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (i >= capacity) {
            // Only a file that grew while it was read gets here.
            sub_error = kFormatError;
            sub_release(records, i);
            return nullptr;
        }
        records[i] = subtitle{};
        int r = sub_read_line(file.get(), &records[i]);
        if (r == 0) {
            sub_error = kFormatError;
            sub_release(records, i);
            return nullptr;
        }
        if (r == -1) {
            sub_release(records, i);
            return nullptr;
        }
    }
    subtitle_count = count;
    return records;
}

int sub_read_line(FILE* file, subtitle* record) {
    char line[kLineBuffer];
    if (std::fgets(line, kLineBuffer, file) == nullptr) return 0;

    // Frame numbers and flags are scanned into 64-bit values and wrapped to their
    // 32-bit fields, the same on the box (32-bit long) and on a PC (64-bit long):
    // a long would saturate on the box where the fields are meant to wrap. The
    // text buffer holds any text a line can carry.
    long long from = 0;
    long long to = 0;
    long long flags = 0;
    char text[kLineBuffer];
    int n = std::sscanf(line, "{%lld}{%lld}{%lld}%999[^\r\n]", &from, &to, &flags, text);
    // A scan that got as far as the flags leaves them in the record.
    if (n >= 3) record->flags = wrap32(flags);
    if (n < 4) {
        n = std::sscanf(line, "{%lld}{%lld}%999[^\r\n]", &from, &to, text);
        if (n < 3) {
            sub_error = kFormatError;
            return -1;
        }
    }
    record->start_ms = static_cast<uint32_t>(wrap32(from)) * kMsPerFrame;
    record->end_ms = static_cast<uint32_t>(wrap32(to)) * kMsPerFrame;
    if (record->start_ms >= record->end_ms) record->end_ms = record->start_ms + kFallbackDurationMs;
    record->own_start = record->start_ms;
    record->own_end = record->end_ms;
    last_end_ms = static_cast<int32_t>(record->end_ms);

    if (!split_text(text, record)) {
        // A line text that cannot be allocated fails the load as out of memory.
        sub_error = kMemoryError;
        return -1;
    }
    return 1;
}

void sub_release(std::unique_ptr<subtitle[]>& records, int32_t count) {
    if (!records) return;
    if (records.get() == subtitles.load()) {
        // Nobody may repaint from, or play, records that are about to go. The caller
        // holds subtitles_mutex, so the subtitle thread is not inside them now.
        {
            std::lock_guard paint_lock(paint_mutex);
            painted_record = nullptr;
        }
        subtitles = nullptr;
    }
    for (int32_t i = 0; i < count; ++i) {
        int32_t rows = std::min<int32_t>(records[i].line_count, 4);
        for (int32_t j = 0; j < rows; ++j) records[i].lines[j].reset();
    }
    // Texts of records beyond count (a record read only in part) go with the array.
    records.reset();
    subtitle_count = 0;
}

directory_file sub_load_from_directory(const char* name) {
    directory_file loaded;
    size_t length = name != nullptr ? std::strlen(name) : 0;
    std::unique_ptr<char[]> path;
    if (name != nullptr) {
        path.reset(new (std::nothrow) char[length + 24]);
        if (!path) {
            sub_error = kMemoryError;
            return loaded;
        }
        std::snprintf(path.get(), length + 24, "%s%s", kSubtitleDirectory, name);
    }
    // The load writes the count, offset and last end of the file it reads; the
    // installed file's go back before the caller lets the lock go.
    const installed_file in_force{subtitle_count, time_offset_ms, last_end_ms};
    loaded.records = sub_load_file(path.get());
    if (loaded.records) {
        loaded.count = subtitle_count;
        loaded.offset = time_offset_ms;
        loaded.last_end = last_end_ms;
    }
    subtitle_count = in_force.count;
    time_offset_ms = in_force.offset;
    last_end_ms = in_force.last_end;
    return loaded;
}

int sub_replace(const char* name) {
    // The subtitles in force are released only once the new file has loaded, so a
    // choice that fails leaves them playing with the clock where it stood.
    directory_file loaded = sub_load_from_directory(name);
    if (!loaded.records) return sub_error;
    sub_release(subtitles_owner, subtitle_count);
    subtitles_owner = std::move(loaded.records);
    subtitles = subtitles_owner.get();
    subtitle_count = loaded.count;
    time_offset_ms = loaded.offset;
    last_end_ms = loaded.last_end;
    subtitles_ever_loaded = true;
    return 0;
}

void sub_load_at_start() {
    std::lock_guard lock(subtitles_mutex);
    if (subtitles_owner) sub_release(subtitles_owner, subtitle_count);
    subtitles_owner = load_candidate(kLinkPath);
    if (!subtitles_owner) subtitles_owner = load_candidate(kSpecialPath);
    subtitles = subtitles_owner.get();
    if (subtitles_owner) subtitles_ever_loaded = true;
}

namespace {

// Wraps a scanned value modulo 2^32.
int32_t wrap32(long long v) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(v)));
}

bool is_separator(char c) {
    return c == '|' || c == '\r' || c == '\n';
}

// Splits the text at "|" into at most four lines; runs of separators make no empty
// lines, except that a leading "|" gives an empty first line. False when a line
// text cannot be allocated.
bool split_text(const char* text, subtitle* record) {
    const char* p = text;
    for (int i = 0;; ++i) {
        const char* q = p;
        while (*q != '\0' && !is_separator(*q)) ++q;
        size_t length = static_cast<size_t>(q - p);
        std::unique_ptr<char[]> line(new (std::nothrow) char[length + 1]);
        if (!line) {
            record->line_count = i;
            return false;
        }
        std::memcpy(line.get(), p, length);
        line[length] = '\0';
        record->lines[i] = std::move(line);
        while (*q != '\0' && is_separator(*q)) ++q;
        if (*q == '\0' || i == 3) {
            record->line_count = i + 1;
            return true;
        }
        p = q;
    }
}

// Bytes from the current position to the end of the file, or -1 when unknown.
int64_t bytes_left(FILE* f) {
    long here = std::ftell(f);
    if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
    long end = std::ftell(f);
    if (std::fseek(f, here, SEEK_SET) != 0) return -1;
    return end >= here ? end - here : -1;
}

// Loads a start-up candidate only when it is larger than kMinLoadSize bytes (stat
// follows a link, so the size is the linked file's).
std::unique_ptr<subtitle[]> load_candidate(const char* path) {
    struct stat st {};
    if (hw_stat(path, &st) != 0 || st.st_size <= kMinLoadSize) return nullptr;
    return sub_load_file(path);
}

}  // namespace
