// Offering the rate two syncs give, in the player's own yes/no dialog.
#include "menu/sync_offer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>

#include "app/sync_memory.h"
#include "fb/status.h"
#include "hw/device.h"
#include "menu/window.h"
#include "sub/retime.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"
#include "tmr/sync.h"
#include "web/bridge.h"

namespace {

// Width of the question's box in units of 20 pixels; the dialog widens it to fit.
constexpr int kQuestionWidth = 15;
constexpr int kQuestionLines = 1;
constexpr const char* kDirectory = "/var/tuxbox/Tresk/tit/";
constexpr const char* kLink = "/var/tuxbox/Tresk/tit/tresk.qst";
constexpr const char* kSpecialName = "tresk.tkx";

// The file playing, as the memory knows it: its name in the subtitle directory and
// its size. Empty while none is known.
std::string playing_name;
uint64_t playing_size = 0;

// An entry taken at shut-down, still to be written.
bool entry_taken = false;
sync_entry taken;

bool file_size(const std::string& name, uint64_t& size);
void remember();
sync_entry entry_now();
void restore_second(const second_entry& second);

}  // namespace

void menu_sync_started(uint32_t started_from_ms) {
    const rate_estimate rate = tmr_sync_started(started_from_ms);
    if (rate.kind != rate_kind::standard && rate.kind != rate_kind::measured) return;
    char question[96];
    tmr_sync_question(rate, question, sizeof question);
    // The web page shows the question with its own yes and no while the TV asks it.
    web_set_question(question);
    const int answer = menu_dialog(kQuestionLines, kQuestionWidth, question);
    web_set_question({});
    if (answer != 0) {
        tmr_sync_apply(rate);
        remember();
    } else {
        tmr_sync_decline(rate);
    }
    // The dialog cleared the band.
    tmr_restore_band();
}

void menu_sync_stopped() {
    tmr_sync_stopped();
}

void menu_sync_file_loaded(const char* name, bool chosen) {
    tmr_sync_reset({});
    playing_name.clear();
    // The second language belongs to the file it was chosen with.
    tmr_release_second();
    uint64_t size = 0;
    if (name == nullptr || !file_size(name, size)) return;
    playing_name = name;
    playing_size = size;
    sync_entry entry;
    if (!app_sync_memory_recall(name, size, entry)) return;
    restore_second(entry.second);
    const bool restored = !(entry.map == time_map{});
    if (restored) {
        tmr_apply_map(entry.map);
        tmr_sync_reset(entry.map);
    }
    // Positioning shows the clock's time on the status line: the restore text comes
    // after it, so that the viewer sees it.
    if (chosen && entry.position > 0) tmr_go_to_subtitle(entry.position);
    if (restored) menu_sync_show_restored();
}

void menu_sync_show_restored() {
    const time_map applied = tmr_sync_applied();
    const subtitle* records = subtitles;
    const int32_t count = subtitle_count;
    if (records == nullptr || count <= 0 || applied == time_map{}) return;
    // The line at the clock's time or the next after it (the last after the end of
    // the film); not current_index, which the subtitle thread moves on once it has
    // shown the line.
    const int32_t at = std::clamp<int32_t>(sub_find(clock_ms, -1), 0, count - 1);
    char text[96];
    tmr_sync_restored_text(applied, records[at].own_start, text, sizeof text);
    fb_show_status(text);
}

void menu_sync_startup_file_loaded() {
    char target[256];
    const ssize_t n = hw_readlink(kLink, target, sizeof target - 1);
    uint64_t size = 0;
    if (n > 0) {
        target[n] = '\0';
        if (file_size(target, size)) {
            menu_sync_file_loaded(target, false);
            return;
        }
    }
    menu_sync_file_loaded(kSpecialName, false);
}

void menu_sync_file_leaving() {
    if (subtitles == nullptr) return;
    remember();
}

void menu_sync_take_leaving() {
    entry_taken = subtitles != nullptr && !playing_name.empty();
    taken = entry_now();
}

void menu_sync_write_taken() {
    if (!entry_taken) return;
    entry_taken = false;
    app_sync_memory_store(playing_name.c_str(), playing_size, taken);
}

bool menu_sync_is_playing(const char* name) {
    return name != nullptr && !playing_name.empty() && playing_name == name;
}

void menu_sync_remember() {
    if (subtitles != nullptr) remember();
}

void menu_sync_original() {
    tmr_apply_map({});
    tmr_sync_reset({});
    if (!playing_name.empty()) app_sync_memory_forget(playing_name.c_str(), playing_size);
}

namespace {

bool file_size(const std::string& name, uint64_t& size) {
    struct stat st;
    if (hw_stat((kDirectory + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

void remember() {
    if (playing_name.empty()) return;
    app_sync_memory_store(playing_name.c_str(), playing_size, entry_now());
}

// What is remembered of the file playing now, with its second language.
sync_entry entry_now() {
    sync_entry entry{tmr_sync_applied(), tmr_resume_index(), {}};
    if (second_subtitles != nullptr) {
        entry.second = {second_name.data(), second_map, second_shift_ms};
    }
    return entry;
}

// Shows the remembered second language again, on its correction and with its own
// shift. A file that is gone, or no longer reads, is forgotten quietly: the next
// memory of the file is written without it.
void restore_second(const second_entry& second) {
    if (second.name.empty() || second.name == playing_name) return;
    if (tmr_load_second(second.name.c_str()) != 0) return;
    {
        std::lock_guard lock(subtitles_mutex);
        sub_map_second_locked(second.map);
    }
    tmr_shift_second(second.shift_ms);
}

}  // namespace
