// The main thread's side of the web page: carries out the page's commands with the
// code of the remote and the file menu, runs the conversion of uploaded files with
// the drop-in's pass, and publishes what the page shows.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "conv/convert.h"
#include "fb/status.h"
#include "hw/device.h"
#include "library/library.h"
#include "menu/drop_in.h"
#include "menu/second_language.h"
#include "menu/sync_offer.h"
#include "menu/window.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"
#include "tmr/sync.h"
#include "web/bridge.h"

namespace {

constexpr const char* kLink = "/var/tuxbox/Tresk/tit/tresk.qst";
constexpr std::string_view kExtension = ".tkx";
constexpr int32_t kPublishEveryMs = 100;
// The file list is read again this often even when the page changed nothing: files
// come by FTP too.
constexpr int32_t kListEveryMs = 3000;
constexpr int32_t kPairingShownMs = 120000;
// While the code is live it is put back this often when another text took the line.
constexpr int32_t kPairingRedrawMs = 1000;
constexpr size_t kKeptJobs = 8;
constexpr std::string_view kPairingText = "Koppelcode voor de telefoon: ";

std::vector<web_job> jobs;
std::vector<size_t> waiting_jobs;  // indices into jobs, to be converted
std::vector<std::string> files;
bool files_read = false;
int32_t last_published_ms = 0;
int32_t last_listed_ms = 0;
bool published_once = false;
bool busy_published = false;

std::string pairing_code;
int32_t pairing_since_ms = 0;
int32_t pairing_drawn_ms = 0;

uint32_t generation_seen = 0;

// A server started again (in this process) starts from an empty page: no jobs, the
// directory read afresh, no code on the TV.
void start_afresh() {
    const uint32_t generation = web_serving_generation();
    if (generation == generation_seen) return;
    generation_seen = generation;
    jobs.clear();
    waiting_jobs.clear();
    files.clear();
    files_read = false;
    published_once = false;
    busy_published = false;
    pairing_code.clear();
}

bool elapsed(int32_t since, int32_t now, int32_t ms) {
    return now - since >= ms;
}

bool listed(std::string_view name) {
    return std::find(files.begin(), files.end(), name) != files.end();
}

void read_files() {
    library_names names;
    std::vector<std::string> fresh;
    if (library_list(names)) {
        fresh.reserve(names.size());
        for (const auto& n : names) fresh.emplace_back(n.get());
    }
    files.swap(fresh);
    files_read = true;
}

std::string failure_of_choice(int error) {
    if (error >= 1 && error <= static_cast<int>(error_rows.size())) {
        return error_rows[static_cast<size_t>(error - 1)].message;
    }
    return "kan niet laden";
}

// The file menu's choice, between the main loop's KEY_MENU and the menu's own steps:
// the clock stops, the file playing keeps its sync and position, the new one is loaded
// and its remembered correction applied; a failed load leaves everything as it was.
web_result choose(const std::string& name) {
    const bool followed = tmr_following();
    tmr_stop();
    menu_sync_file_leaving();
    const std::string file = name + std::string(kExtension);
    const int error = library_choose(file.c_str());
    if (error > 0) {
        if (followed) {
            tmr_rejoin_film();
            fb_show_icons();
        }
        tmr_restore_band();
        return {500, failure_of_choice(error)};
    }
    menu_sync_file_loaded(file.c_str(), true);
    fb_show_icons();
    tmr_restore_band();
    return {200, {}};
}

web_result add(web_command& c) {
    std::string error;
    if (c.name.find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
        return {400, "naam niet toegestaan"};
    }
    const std::string_view base = conv::name_base(c.name);
    const bool converted_file =
        c.name.size() > kExtension.size() && std::string_view(c.name).ends_with(kExtension);
    // A ".tkx" of the viewer's is never replaced by a conversion: the viewer is asked
    // first, and agreeing removes it so that the upload takes its place.
    if (!converted_file && library_converted_file_is_viewers(base)) {
        if (!c.replace) return {409, std::string(base) + std::string(kExtension) + " bestaat al"};
        const std::string path =
            "/var/tuxbox/Tresk/tit/" + std::string(base) + std::string(kExtension);
        if (library_remove_path(path.c_str()) != 0) return {500, "kan niet vervangen"};
    }
    if (!library_add_file(c.name, c.bytes, error, c.replace)) {
        if (error == "name taken") return {409, "bestaat al"};
        if (error == "file too large") return {413, "te groot (max. 4 MB)"};
        if (error == "name not allowed" || error == "name too long")
            return {400, "naam niet toegestaan"};
        return {500, "kan niet schrijven"};
    }
    // The oldest job goes once it has run (a waiting one is kept until it has).
    if (jobs.size() >= kKeptJobs &&
        std::find(waiting_jobs.begin(), waiting_jobs.end(), 0) == waiting_jobs.end()) {
        jobs.erase(jobs.begin());
        for (size_t& i : waiting_jobs) --i;
    }
    jobs.push_back({c.name, "wacht", 0, {}});
    waiting_jobs.push_back(jobs.size() - 1);
    return {201, {}};
}

web_result carry_out(web_command& c, bool& changed) {
    switch (c.kind) {
        case web_command_kind::add: {
            web_result r = add(c);
            changed = changed || r.status == 201;
            return r;
        }
        case web_command_kind::choose:
            if (!files_read) read_files();
            if (!listed(c.name)) return {404, "onbekend bestand"};
            return choose(c.name);
        case web_command_kind::second: {
            if (!files_read) read_files();
            if (!listed(c.name)) return {404, "onbekend bestand"};
            if (subtitles == nullptr) return {409, "eerst een ondertitel kiezen"};
            const std::string file = c.name + std::string(kExtension);
            if (menu_second_is(file.c_str())) {
                menu_second_off();
                return {200, {}};
            }
            const int error = menu_second_choose(file.c_str(), menu_second_stop_on_exit);
            if (error > 0) return {500, failure_of_choice(error)};
            return {200, {}};
        }
        case web_command_kind::second_off:
            menu_second_off();
            return {200, {}};
        case web_command_kind::second_shift:
            if (second_subtitles == nullptr) return {409, "geen 2e taal"};
            menu_second_shift(c.delta_ms);
            return {200, {}};
        case web_command_kind::remove:
            if (!files_read) read_files();
            if (!listed(c.name)) return {404, "onbekend bestand"};
            // A file that goes cannot stay the second language.
            if (menu_second_is((c.name + std::string(kExtension)).c_str())) menu_second_off();
            if (library_delete_entry(c.name) != 0) return {500, "kan niet verwijderen"};
            changed = true;
            return {200, {}};
    }
    return {400, "onbekende opdracht"};
}

// Converts what was uploaded with the drop-in's pass (which shows its progress on the
// TV's status line as it does for the file menu), following it in the jobs.
void convert_uploads() {
    if (waiting_jobs.empty()) return;
    const std::vector<size_t> now = std::move(waiting_jobs);
    waiting_jobs.clear();
    for (size_t i : now) jobs[i].step = "omzetten";
    const library_pass pass = menu_convert_dropped_files([&](const library_progress& p) {
        for (size_t i : now) {
            if (p.step == library_step::reading || p.step == library_step::aligning) {
                jobs[i].step = "uitlijnen op opname";
                jobs[i].percent = p.step == library_step::reading ? p.percent : 99;
            }
        }
        return false;
    });
    read_files();
    for (size_t i : now) {
        web_job& j = jobs[i];
        const std::string base(conv::name_base(j.name));
        j.percent = 0;
        if (pass.failures > 0 && pass.first_failed == j.name) {
            j.step = "mislukt";
            j.text = library_failure_text(pass.first_error);
        } else if (!listed(base)) {
            j.step = "mislukt";
            j.text = "niet omgezet";
        } else {
            j.step = "klaar";
            if (pass.first_aligned == j.name) {
                j.text = library_alignment_text(library_alignment::aligned);
            } else if (pass.misalignments > 0 && pass.first_misaligned == j.name) {
                j.text = library_alignment_text(pass.misalignment);
            } else {
                j.text = "in de lijst als " + base;
            }
        }
    }
}

// The status line's inline codes as the page can show them: the key symbols by their
// names, colour switches and other codes left out.
std::string readable(std::string_view shown) {
    std::string out;
    for (size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        if (c >= 0x20) {
            out += shown[i];
            continue;
        }
        switch (c) {
            case 0x0E:
                out += "OK";
                break;
            case 0x10:
                out += "MENU";
                break;
            case 0x12:
                out += "EXIT";
                break;
            case 0x16:
                out += "+";
                break;
            case 0x18:
                out += "-";
                break;
            case 0x07:
                out += "\u2190";
                break;
            case 0x08:
                out += "\u2192";
                break;
            case 0x1A:
                out += "\u2191";
                break;
            case 0x1B:
                out += "\u2193";
                break;
            default:
                break;
        }
    }
    // A line cut to the copy's size may end inside a character.
    size_t end = out.size();
    size_t start = end;
    while (start > 0 && (static_cast<unsigned char>(out[start - 1]) & 0xC0) == 0x80) --start;
    if (start > 0) {
        const auto lead = static_cast<unsigned char>(out[start - 1]);
        const size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (want > 1 && end - (start - 1) < want) out.resize(start - 1);
    }
    return out;
}

std::string playing_file() {
    std::array<char, 256> target{};
    const ssize_t n = hw_readlink(kLink, target.data(), target.size() - 1);
    if (n <= 0) return {};
    std::string_view t(target.data(), static_cast<size_t>(n));
    if (const size_t slash = t.rfind('/'); slash != std::string_view::npos)
        t.remove_prefix(slash + 1);
    if (t.ends_with(kExtension)) t.remove_suffix(kExtension.size());
    return std::string(t);
}

std::string rate_text(const time_map& map) {
    if (map.den == 0) return "1";
    // Four decimals in integer arithmetic, rounded.
    const uint64_t scaled = (uint64_t{map.num} * 10000 + map.den / 2) / map.den;
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%04llu", static_cast<unsigned long long>(scaled / 10000),
                  static_cast<unsigned long long>(scaled % 10000));
    return text;
}

void publish(bool busy) {
    web_state s;
    s.busy = busy;
    s.loaded = subtitles != nullptr;
    s.file = playing_file();
    s.playing = clock_running != 0;
    uint32_t now = clock_ms;
    if (s.playing) now += static_cast<uint32_t>(tmr_get_ms() - last_tick_ms);
    s.clock_ms = now;
    {
        std::lock_guard lock(subtitles_mutex);
        const subtitle* records = subtitles;
        const int32_t count = subtitle_count;
        const int32_t at = current_index;
        for (int32_t i = std::max(0, at - 1); records != nullptr && i < count && i <= at; ++i) {
            const subtitle& r = records[i];
            if (r.start_ms <= now && now < r.end_ms) {
                for (int32_t l = 0; l < r.line_count && l < 4; ++l) {
                    if (l > 0) s.subtitle += '\n';
                    if (r.lines[l]) s.subtitle += readable(r.lines[l].get());
                }
                break;
            }
        }
    }
    {
        std::lock_guard lock(subtitles_mutex);
        const subtitle* records = second_subtitles;
        const int32_t count = second_count;
        if (records != nullptr) {
            std::string_view name(second_name.data());
            if (name.ends_with(kExtension)) name.remove_suffix(kExtension.size());
            s.second = std::string(name);
            s.second_shift_ms = second_shift_ms;
            const int32_t at = sub_find_second(now);
            if (at < count && sub_second_time(records[at].start_ms) <= now) {
                const subtitle& r = records[at];
                for (int32_t l = 0; l < r.line_count && l < 4; ++l) {
                    if (l > 0) s.second_subtitle += '\n';
                    if (r.lines[l]) s.second_subtitle += readable(r.lines[l].get());
                }
            }
        }
    }
    const time_map applied = tmr_sync_applied();
    s.shift_ms = static_cast<int32_t>(std::clamp<int64_t>(applied.shift_ms, INT32_MIN, INT32_MAX));
    s.rate = rate_text(applied);
    std::array<char, 256> status{};
    fb_copy_status(status.data(), status.size());
    s.status = readable(status.data());
    s.question_text = readable(web_question());
    s.question = !s.question_text.empty();
    s.jobs = jobs;
    s.files = files;
    web_publish(std::move(s));
}

void follow_pairing_code(int32_t now) {
    std::string asked;
    if (web_take_pairing_code(asked)) {
        const bool was_shown = !pairing_code.empty();
        pairing_code = std::move(asked);
        if (!pairing_code.empty()) {
            pairing_since_ms = now;
            pairing_drawn_ms = now - kPairingRedrawMs;
        } else if (was_shown) {
            fb_clear_status();
            fb_show_icons();
        }
    }
    if (pairing_code.empty()) return;
    if (elapsed(pairing_since_ms, now, kPairingShownMs)) {
        pairing_code.clear();
        fb_clear_status();
        fb_show_icons();
        return;
    }
    if (!elapsed(pairing_drawn_ms, now, kPairingRedrawMs)) return;
    pairing_drawn_ms = now;
    const std::string text = std::string(kPairingText) + pairing_code;
    std::array<char, 256> shown{};
    fb_copy_status(shown.data(), shown.size());
    if (text != shown.data()) fb_show_status(text.c_str());
}

}  // namespace

int web_main_pass(web_place place) {
    if (!web_serving()) return 0;
    start_afresh();
    if (place == web_place::busy) {
        const int32_t now = tmr_get_ms();
        if (!busy_published || elapsed(last_published_ms, now, kPublishEveryMs)) {
            try {
                publish(true);
            } catch (const std::bad_alloc&) {
                // The page keeps what it saw.
            }
            last_published_ms = now;
            busy_published = true;
        }
        return 0;
    }
    busy_published = false;
    bool changed = false;
    bool chose = false;
    try {
        const int32_t now = tmr_get_ms();
        follow_pairing_code(now);
        web_command c;
        while (web_take_command(c)) {
            web_result r = carry_out(c, changed);
            chose = chose || (c.kind == web_command_kind::choose && r.status == 200);
            web_finish_command(std::move(r));
        }
        if (!waiting_jobs.empty()) {
            publish(false);  // the page sees its upload taken before the conversion runs
            convert_uploads();
            changed = true;
        }
        if (changed || !files_read || elapsed(last_listed_ms, now, kListEveryMs)) {
            read_files();
            last_listed_ms = now;
        }
        if (changed || !published_once || elapsed(last_published_ms, now, kPublishEveryMs)) {
            publish(false);
            last_published_ms = now;
            published_once = true;
        }
    } catch (const std::bad_alloc&) {
        // What the page sees stays as it was; the next pass tries again.
    }
    return (changed ? kWebListChanged : 0) | (chose ? kWebFileChosen : 0);
}
