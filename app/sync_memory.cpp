// The memory file of each subtitle file's sync: a header line, then one line per file,
// the most recently used first: size, shift, rate numerator and denominator,
// position, name (the rest of the line).
#include "app/sync_memory.h"

#include <fcntl.h>

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

std::vector<stored> read_all();
bool write_all(const std::vector<stored>& entries);
bool parse_line(const char* line, stored& out);
bool usable_name(const char* name);

}  // namespace

bool sync_memory_recall(const char* name, uint64_t size, sync_entry& out) {
    if (!usable_name(name)) return false;
    for (const stored& s : read_all()) {
        if (s.size == size && s.name == name) {
            out = s.entry;
            return true;
        }
    }
    return false;
}

bool sync_memory_store(const char* name, uint64_t size, const sync_entry& entry) {
    if (!usable_name(name)) return false;
    std::vector<stored> entries = read_all();
    std::vector<stored> kept;
    kept.push_back({name, size, entry});
    for (stored& s : entries) {
        // The same name with another size is a replaced file: its old sync goes.
        if (s.name == name) continue;
        if (static_cast<int>(kept.size()) == kSyncMemoryEntries) break;
        kept.push_back(std::move(s));
    }
    return write_all(kept);
}

void sync_memory_forget(const char* name, uint64_t size) {
    if (!usable_name(name)) return;
    std::vector<stored> entries = read_all();
    std::vector<stored> kept;
    for (stored& s : entries) {
        if (s.name == name && s.size == size) continue;
        kept.push_back(std::move(s));
    }
    if (kept.size() != entries.size()) write_all(kept);
}

namespace {

// Every entry, or none when the file is missing, foreign or damaged anywhere: a
// memory that cannot be trusted whole is not trusted at all, and the next store
// rewrites it.
std::vector<stored> read_all() {
    std::vector<stored> entries;
    FILE* f = hw_fopen(kPath, "r");
    if (f == nullptr) return entries;
    char line[kLineSize];
    bool ok = std::fgets(line, sizeof line, f) != nullptr &&
              std::strncmp(line, kHeader, std::strlen(kHeader)) == 0 &&
              line[std::strlen(kHeader)] == '\n';
    while (ok && std::fgets(line, sizeof line, f) != nullptr) {
        stored s;
        ok = parse_line(line, s) && static_cast<int>(entries.size()) < kSyncMemoryEntries;
        if (ok) entries.push_back(std::move(s));
    }
    std::fclose(f);
    if (!ok) entries.clear();
    return entries;
}

bool parse_line(const char* line, stored& out) {
    const size_t length = std::strlen(line);
    if (length == 0 || line[length - 1] != '\n') return false;
    long long shift = 0;
    unsigned long long size = 0;
    unsigned num = 0, den = 0;
    int position = 0, name_at = 0;
    if (std::sscanf(line, "%llu %lld %u %u %d %n", &size, &shift, &num, &den, &position,
                    &name_at) != 5 ||
        name_at <= 0) {
        return false;
    }
    if (num == 0 || den == 0 || num > kMaxTerm || den > kMaxTerm || position < 0 ||
        shift < -int64_t{UINT32_MAX} || shift > int64_t{UINT32_MAX}) {
        return false;
    }
    out.name.assign(line + name_at, length - 1 - static_cast<size_t>(name_at));
    if (!usable_name(out.name.c_str())) return false;
    out.size = size;
    out.entry.map = {shift, num, den};
    out.entry.position = position;
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
