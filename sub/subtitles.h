// The subtitle store: the record, the file loader, release and replacement,
// search by time, and the frame-rate rescale.
//
// The main thread loads, replaces, rescales and releases; the subtitle thread
// reads the records. Both sides hold subtitles_mutex while they touch the array, so
// the thread never reads a record that is being released or rewritten.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>

#include "app/relaxed.h"

// One subtitle.
struct subtitle {
    int32_t line_count;  // number of text lines, 1..4
    int32_t flags;       // bits 0-7 line colours, 0x100 top position, 0x200 end of part
    uint32_t start_ms;   // start, ms from the start of the film
    uint32_t end_ms;     // end, ms; always after start_ms
    std::unique_ptr<char[]> lines[4];  // line texts; only the first line_count are set
    uint32_t own_start = 0;            // start_ms and end_ms as the file gave them, before
    uint32_t own_end = 0;              // any rate or sync correction (sub/retime.h)
};

// The loaded array (null = none), owned by subtitles_owner; the count of its records.
// Written by the main thread under subtitles_mutex, read by the thread under it.
extern relaxed<subtitle*> subtitles;
extern std::unique_ptr<subtitle[]> subtitles_owner;
extern relaxed<int32_t> subtitle_count;
// Whether any subtitles were ever loaded in this run (the settings save tests this). Main thread.
extern bool subtitles_ever_loaded;
// Time offset of the loaded file in ms (header offset x 40). Main thread.
extern int32_t time_offset_ms;
// End time in ms of the last subtitle line read. Main thread.
extern int32_t last_end_ms;
// Error number of the last failed load (3 also when a line text cannot be allocated). Main thread.
extern int32_t sub_error;
// Guards the array and its records between the loader/rescale and the subtitle thread;
// the clock takes it around a replacement or a rescale together with its own update.
extern std::mutex subtitles_mutex;

// Loads a file; returns the new array (subtitle_count set) or null (sub_error set).
// It writes subtitle_count: while the thread runs, call it only with subtitles_mutex held,
// as sub_replace does, which puts the count back when the load fails.
std::unique_ptr<subtitle[]> sub_load_file(const char* path);
// Reads one subtitle line into a zeroed record: 0 at end of file, -1 malformed, else success.
int sub_read_line(FILE* file, subtitle* record);
// Releases the texts of the first count records and the array; subtitle_count = 0.
// Releasing the installed array also clears subtitles and painted_record (hold subtitles_mutex).
void sub_release(std::unique_ptr<subtitle[]>& records, int32_t count);
// A file of the subtitle directory, loaded beside the installed one: its array (null
// when it did not load, sub_error saying why), count, time offset and last end.
struct directory_file {
    std::unique_ptr<subtitle[]> records;
    int32_t count = 0;
    int32_t offset = 0;
    int32_t last_end = 0;
};
// Loads a file of the subtitle directory by its bare name (null: none). The installed
// file's count, offset and last end are as they were afterwards, whatever the outcome.
// The caller holds subtitles_mutex.
directory_file sub_load_from_directory(const char* name);
// Replaces the loaded subtitles by a file of the subtitle directory; 0 or an error
// number. The old subtitles go only once the new file has loaded: after a failure
// they, their offset and their last end are as they were. The caller holds
// subtitles_mutex and sets the clock to the new records before letting it go
// (tmr_load_subtitles).
int sub_replace(const char* name);
// The start-up load: the file named by the link, else the special file.
void sub_load_at_start();
// Index for time time_ms; hint is tried first.
int32_t sub_find(uint32_t time_ms, int32_t hint);
// Multiplies every start and end time by factor in single precision; false when no
// subtitles are loaded. The factor is passed by reference so that callers need no
// floating-point register: on the box only this function pays for the software
// floating point. The caller holds subtitles_mutex and moves the end of the film with
// the records (tmr_rescale).
bool sub_rescale(const float& factor);

// The second language: a second array beside the first, played on the same clock and
// guarded by the same subtitles_mutex (the main thread writes under it, the thread
// reads under it). The FPS rescale moves both; the first file's shift and sync do not
// move this one, which has its own shift, added to its times when they are compared
// with the clock.
extern relaxed<subtitle*> second_subtitles;
extern std::unique_ptr<subtitle[]> second_owner;
extern relaxed<int32_t> second_count;
extern relaxed<int32_t> second_shift_ms;
// The bare name (with extension) of the second file; empty when none. Main thread.
inline constexpr size_t kSecondNameSize = 256;
extern std::array<char, kSecondNameSize> second_name;
// Loads a file of the subtitle directory (a bare name) as the second language in place
// of the one before, with no own shift; 0 or an error number, the one before kept then.
// The first file's count, offset and last end are left as they were. The caller holds
// subtitles_mutex.
int sub_load_second(const char* name);
// Releases the second language (none loaded: nothing happens). Holds subtitles_mutex.
void sub_release_second();
// A second-language time with its own shift, held within 0 .. 2^32 - 1.
uint32_t sub_second_time(uint32_t time_ms);
// The index of the first second-language record whose shifted end is not before
// time_ms; the count when all are. The caller holds subtitles_mutex.
int32_t sub_find_second(uint32_t time_ms);
