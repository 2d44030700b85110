// The memory file of each subtitle file's sync: a header line, then one line per file,
// the most recently used first: size, shift, rate numerator and denominator,
// position, name (the rest of the line). A file shown with a second language has a
// line of its own right after it: "=", the second's own shift, its correction's shift,
// numerator and denominator, its name. A reader that does not know that line skips it
// as a bad one (it does not start with a number), so the memory stays readable both
// ways; a line "=" without a file line before it is skipped likewise.
#include "app/sync_memory.h"

#include <fcntl.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hw/device.h"

namespace {

constexpr const char* kPath = "/var/tuxbox/Tresk/tresk.sync";
constexpr const char* kTemporary = "/var/tuxbox/Tresk/tresk.sync.new";
constexpr const char* kDirectory = "/var/tuxbox/Tresk";
constexpr const char* kHeader = "lumetra-sync 1";
// A line longer than this is damage: names of the subtitle directory are far shorter.
constexpr size_t kLineSize = 1024;

struct stored {
    std::string name;
    uint64_t size;
    sync_entry entry;
};

// What the memory file holds: its valid entries, and whether it was read to its end
// (or is missing). One that was not is never rewritten: what could not be read would
// go with it.
struct memory {
    std::vector<stored> entries;
    bool whole = true;
};

memory read_all();
bool write_all(const std::vector<stored>& entries);
bool parse_line(const std::string& line, stored& out);
bool parse_second(const std::string& line, second_entry& out);
bool usable_name(const char* name);

}  // namespace

bool app_sync_memory_recall(const char* name, uint64_t size, sync_entry& out) {
    if (!usable_name(name)) return false;
    for (const stored& s : read_all().entries) {
        if (s.size == size && s.name == name) {
            out = s.entry;
            return true;
        }
    }
    return false;
}

bool app_sync_memory_store(const char* name, uint64_t size, const sync_entry& entry) {
    if (!usable_name(name)) return false;
    memory m = read_all();
    if (!m.whole) return false;
    std::vector<stored> kept;
    kept.push_back({name, size, entry});
    for (stored& s : m.entries) {
        // The same name with another size is a replaced file: its old sync goes.
        if (s.name == name) continue;
        if (static_cast<int>(kept.size()) == kSyncMemoryEntries) break;
        kept.push_back(std::move(s));
    }
    return write_all(kept);
}

void app_sync_memory_forget(const char* name, uint64_t size) {
    if (!usable_name(name)) return;
    memory m = read_all();
    if (!m.whole) return;
    std::vector<stored> kept;
    for (stored& s : m.entries) {
        if (s.name == name && s.size == size) continue;
        kept.push_back(std::move(s));
    }
    if (kept.size() != m.entries.size()) write_all(kept);
}

namespace {

enum class line_read { end, line, too_long };

// The next line without its end (LF, CR LF, or the end of the file). A line longer
// than kLineSize is read to its end and reported as too long. `end` at the end of the
// file and on a read error (ferror tells them apart).
line_read next_line(FILE* f, std::string& line) {
    line.clear();
    char piece[kLineSize];
    bool any = false;
    bool too_long = false;
    while (std::fgets(piece, sizeof piece, f) != nullptr) {
        any = true;
        const size_t length = std::strlen(piece);
        const bool ended = length > 0 && piece[length - 1] == '\n';
        if (!too_long) line.append(piece, ended ? length - 1 : length);
        too_long = too_long || line.size() > kLineSize;
        if (ended) break;
    }
    if (!any || std::ferror(f)) return line_read::end;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return too_long ? line_read::too_long : line_read::line;
}

bool blank(const std::string& line) {
    return line.find_first_not_of(" \t\r") == std::string::npos;
}

// The first kSyncMemoryEntries valid entries. The file may have been edited by hand or
// copied from another system: blank lines, CR LF and a last line without its end are
// taken as they come, and a bad line is skipped, not the file. A file that does not
// start with the header is someone else's format: nothing in it is read, and the next
// store replaces it.
memory read_all() {
    memory m;
    FILE* f = hw_fopen(kPath, "r");
    if (f == nullptr) {
        m.whole = errno == ENOENT;
        return m;
    }
    std::string line;
    line_read r = line_read::end;
    do {
        r = next_line(f, line);
    } while (r == line_read::line && blank(line));
    if (r == line_read::line && line == kHeader) {
        bool after_entry = false;
        // The last entry's second language may follow it.
        while (static_cast<int>(m.entries.size()) < kSyncMemoryEntries || after_entry) {
            r = next_line(f, line);
            if (r == line_read::end) break;
            stored s;
            const bool second_line = r == line_read::line && line.starts_with("= ");
            if (!second_line && static_cast<int>(m.entries.size()) >= kSyncMemoryEntries) break;
            if (r == line_read::line && !blank(line) && !second_line && parse_line(line, s)) {
                m.entries.push_back(std::move(s));
                after_entry = true;
                continue;
            }
            // A second language belongs to the file line right before it.
            second_entry second;
            if (second_line && after_entry && parse_second(line, second)) {
                m.entries.back().entry.second = std::move(second);
            }
            after_entry = false;
        }
    }
    m.whole = std::ferror(f) == 0;
    std::fclose(f);
    return m;
}

bool parse_line(const std::string& line, stored& out) {
    long long shift = 0;
    unsigned long long size = 0;
    unsigned num = 0, den = 0;
    int position = 0, name_at = 0;
    if (std::sscanf(line.c_str(), "%llu %lld %u %u %d %n", &size, &shift, &num, &den, &position,
                    &name_at) != 5 ||
        name_at <= 0) {
        return false;
    }
    if (num == 0 || den == 0 || num > kMaxTerm || den > kMaxTerm || position < 0 ||
        shift < -int64_t{UINT32_MAX} || shift > int64_t{UINT32_MAX}) {
        return false;
    }
    out.name = line.substr(static_cast<size_t>(name_at));
    if (!usable_name(out.name.c_str())) return false;
    out.size = size;
    out.entry.map = {shift, num, den};
    out.entry.position = position;
    return true;
}

bool parse_second(const std::string& line, second_entry& out) {
    long long own = 0;
    long long shift = 0;
    unsigned num = 0, den = 0;
    int name_at = 0;
    if (std::sscanf(line.c_str(), "= %lld %lld %u %u %n", &own, &shift, &num, &den, &name_at) !=
            4 ||
        name_at <= 0) {
        return false;
    }
    if (num == 0 || den == 0 || num > kMaxTerm || den > kMaxTerm || own < INT32_MIN ||
        own > INT32_MAX || shift < -int64_t{UINT32_MAX} || shift > int64_t{UINT32_MAX}) {
        return false;
    }
    out.name = line.substr(static_cast<size_t>(name_at));
    if (!usable_name(out.name.c_str())) return false;
    out.map = {shift, num, den};
    out.shift_ms = static_cast<int32_t>(own);
    return true;
}

// As the settings: a file of its own, on the disk, then renamed over the old one.
bool write_all(const std::vector<stored>& entries) {
    FILE* f = hw_fopen(kTemporary, "w");
    if (f == nullptr) return false;
    bool ok = std::fprintf(f, "%s\n", kHeader) > 0;
    for (const stored& s : entries) {
        ok = ok &&
             std::fprintf(f, "%llu %lld %u %u %d %s\n", static_cast<unsigned long long>(s.size),
                          static_cast<long long>(s.entry.map.shift_ms), s.entry.map.num,
                          s.entry.map.den, static_cast<int>(s.entry.position), s.name.c_str()) > 0;
        const second_entry& second = s.entry.second;
        if (ok && usable_name(second.name.c_str())) {
            ok = std::fprintf(f, "= %d %lld %u %u %s\n", static_cast<int>(second.shift_ms),
                              static_cast<long long>(second.map.shift_ms), second.map.num,
                              second.map.den, second.name.c_str()) > 0;
        }
    }
    ok = std::fflush(f) == 0 && ok;
    ok = hw_fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || hw_rename(kTemporary, kPath) != 0) {
        hw_unlink(kTemporary);
        return false;
    }
    const int dir = hw_open(kDirectory, O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        hw_fsync(dir);
        hw_close(dir);
    }
    return true;
}

// A name the file can hold on one line and give back as it was.
bool usable_name(const char* name) {
    if (name == nullptr || *name == '\0' || std::strlen(name) > kLineSize / 2) return false;
    if (*name == ' ') return false;
    return std::strchr(name, '\n') == nullptr && std::strchr(name, '\r') == nullptr;
}

}  // namespace
