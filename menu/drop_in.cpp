// The drop-in pass on the status line: what the library reports while it converts
// dropped files and what it could not do, in the viewer's words.
#include "menu/drop_in.h"

#include <linux/input.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "fb/screen.h"
#include "fb/status.h"
#include "library/library.h"
#include "menu/window.h"
#include "rc/remote.h"

namespace {

constexpr const char* kConvertingText = "Ondertitels omzetten...";
constexpr std::string_view kAligningText = "Uitlijnen op opname (EXIT stopt): ";
constexpr const char* kAligningSubtitlesText = "Ondertitels uitlijnen...";
// A name longer than this many characters is shown by its start and its end, so that
// the reason still fits the line (about 60 characters of the box font); one drawn too
// wide for that even so loses more characters, in the same proportion.
constexpr size_t kShownNameCharacters = 24;
constexpr size_t kShownStart = 16;
constexpr size_t kShownEnd = 7;
constexpr const char* kLeftOut = "\u2026";  // the ellipsis

bool show_progress(const library_progress& progress, bool& converting_shown, bool& aligning_shown);
void show_failures(const library_pass& pass);

}  // namespace

library_pass menu_convert_dropped_files(const library_progress_fn& also) {
    // The converting text is shown once a pass: after a recording's progress the line
    // keeps that until the pass ends.
    // One reference captured, so that the callback fits std::function's own room: a pass
    // must start even when memory is short.
    struct progress_state {
        bool converting_shown = false, aligning_shown = false;
        const library_progress_fn* also;
    } state{false, false, &also};
    library_pass pass = library_convert_dropped_files([&state](const library_progress& p) {
        const bool stop = show_progress(p, state.converting_shown, state.aligning_shown);
        return *state.also ? (*state.also)(p) || stop : stop;
    });
    const bool news = pass.failures > 0 || pass.misalignments > 0 || !pass.first_aligned.empty();
    if (news) {
        try {
            show_failures(pass);
            return pass;
        } catch (const std::bad_alloc&) {
            // No text: the line is cleared below.
        }
    }
    if (pass.tried || news) {
        fb_clear_status();
        fb_show_icons();
    }
    return pass;
}

namespace {

// Shows what the pass is doing; true when the viewer pressed EXIT while a recording
// is read or aligned to, which stops that.
bool show_progress(const library_progress& progress, bool& converting_shown, bool& aligning_shown) {
    switch (progress.step) {
        case library_step::converting:
            if (!converting_shown) fb_show_status(kConvertingText);
            converting_shown = true;
            return false;
        case library_step::reading: {
            aligning_shown = false;
            const std::string text =
                std::string(kAligningText) + std::to_string(progress.percent) + "%";
            fb_show_status(text.c_str());
            return rc_read_key() == KEY_EXIT;
        }
        case library_step::aligning:
            // Asked several times an alignment: the line is drawn once.
            if (!aligning_shown) fb_show_status(kAligningSubtitlesText);
            aligning_shown = true;
            return rc_read_key() == KEY_EXIT;
    }
    return false;
}

// A file name and what follows it as the status line can show them: no control bytes
// in the name (they are drawing codes there), and a long name by its start and its
// end, shortened further while the line would cut what follows.
std::string status_text(std::string_view name, std::string_view after) {
    std::vector<size_t> starts;  // where each UTF-8 character begins
    std::string shown;
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if ((c & 0xC0) != 0x80) starts.push_back(shown.size());
        shown += c < 32 || c == 0x7F ? '?' : name[i];
    }
    std::string text = shown + std::string(after);
    const int32_t width = fb_status_width();
    // Characters of the name shown besides the ellipsis, fewer each time.
    for (size_t kept = std::min(starts.size(), kShownNameCharacters); kept > 0; --kept) {
        if (kept < starts.size()) {
            const size_t end = (kept - 1) * kShownEnd / (kShownStart + kShownEnd);
            const size_t start = kept - 1 - end;
            text = shown.substr(0, starts[start]) + kLeftOut +
                   shown.substr(end > 0 ? starts[starts.size() - end] : shown.size()) +
                   std::string(after);
        }
        size_t length = 0;
        menu_measure_text(text.c_str(), sx, width, &length);
        if (length == text.size()) break;
    }
    return text;
}

// Shows on the status line which file could not be converted and why (and how many
// more could not), or else which file's alignment to a recording went wrong and how
// (and with how many more it did), or else that a file was aligned; it stays there
// until the viewer starts the subtitles, like the start message.
void show_failures(const library_pass& pass) {
    std::string_view name = pass.first_aligned;
    std::string after = ": " + std::string(library_alignment_text(library_alignment::aligned));
    int more = 0;
    if (pass.failures > 0) {
        name = pass.first_failed;
        after = ": " + library_failure_text(pass.first_error);
        more = pass.failures - 1;
    } else if (pass.misalignments > 0) {
        name = pass.first_misaligned;
        after = ": " + std::string(library_alignment_text(pass.misalignment));
        more = pass.misalignments - 1;
    }
    if (more > 0) after += " (+" + std::to_string(more) + ")";
    fb_show_status(status_text(name, after).c_str());
}

}  // namespace
