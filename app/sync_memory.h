// Each subtitle file's sync, kept in /var/tuxbox/Tresk/tresk.sync beside the
// settings: the correction applied to the file's own times and the position reached,
// for at most kSyncMemoryEntries files, the least recently used going first. A file
// is known by its name and size, so a file replaced by another of the same name
// starts clean. A bad line is skipped and a foreign memory file ignored, and the next
// store rewrites them; a memory file that cannot be read to its end is left as it is.
//
// Main thread only. The file is read and written whole at each call: it is small.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "sub/retime.h"

inline constexpr int kSyncMemoryEntries = 64;

// The second language shown with a file: its name in the subtitle directory (empty:
// none), the correction its own times were put on (the alignment to the file), and
// its own shift in ms.
struct second_entry {
    std::string name;
    time_map map;
    int32_t shift_ms = 0;
};

// What is remembered of one file.
struct sync_entry {
    time_map map;
    int32_t position = 0;  // the subtitle index to resume at; 0 from the start
    second_entry second;   // none for most files: it may be left out

    sync_entry() = default;
    sync_entry(const time_map& m, int32_t p, second_entry s = {})
        : map(m), position(p), second(std::move(s)) {}
};

// The entry of a file, if there is one.
bool app_sync_memory_recall(const char* name, uint64_t size, sync_entry& out);
// Puts a file's entry first, replacing its old one; false when it could not be written
// (nor when the memory file could not be read whole).
bool app_sync_memory_store(const char* name, uint64_t size, const sync_entry& entry);
// Forgets a file.
void app_sync_memory_forget(const char* name, uint64_t size);
