// The simulator's key scripts: one command a line, "#" starts a comment.
//
//   wait MS              sleep MS milliseconds
//   press KEY            a key record with value 1, then one with value 0
//   down KEY | repeat KEY | up KEY
//                        one key record with value 1, 2 or 0
//   raw TYPE CODE VALUE  one record as given (numbers; TYPE may be EV_KEY, EV_SYN...,
//                        CODE a key name of two or more letters)
//   snap FILE            the framebuffer now (.png: the visible area, else raw memory)
//   compose FILE         the television picture now (framebuffer over the background), PNG
//   video play | pause   the film on the video decoder (needs --video)
//   video seek ±SECONDS  the film jumps by SECONDS (whole seconds, either way)
//   video wrap           the decoder's time stamp goes to 2 s before its 33-bit wrap
//
// Each key record of press, down, repeat and up is followed by the report record the
// kernel sends after it (EV_SYN, SYN_REPORT); raw records come alone.
//
// KEY is a remote-control key name (OK EXIT UP DOWN LEFT RIGHT RED GREEN YELLOW BLUE
// HELP MENU TV VIDEO VOLUMEUP VOLUMEDOWN CHANNELUP CHANNELDOWN TEXT, a single digit 0..9),
// in any case and with or without "KEY_", or a Linux key code of two or more digits
// (decimal, or hexadecimal with 0x). The parser is pure: it touches nothing else.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class script_op { wait, press, event, snap, compose, video };
enum class video_action { play, pause, seek, wrap };

struct script_command {
    script_op op = script_op::wait;
    int line = 0;         // line number in the script, from 1
    uint32_t ms = 0;      // wait: milliseconds
    uint16_t type = 0;    // event: record type (EV_KEY for down, repeat and up)
    uint16_t code = 0;    // press, event: key code
    int32_t value = 0;    // event: record value; video seek: seconds
    bool report = false;  // event: a key record followed by its report record (not raw)
    video_action video = video_action::play;
    std::string file;  // snap, compose: output path, relative to the working directory
};

struct script_error {
    int line = 0;
    std::string message;
};

// The longest wait a script may ask for, in milliseconds (one day).
constexpr uint32_t kMaxScriptWait = 24u * 3600u * 1000u;

// Linux key code of a key name or number as KEY above; nullopt if it is neither.
std::optional<uint16_t> key_code(std::string_view name);
// Name of a remote-control key code ("OK", "7"), or "" for a code without one.
std::string_view key_name(uint16_t code);

// Parses one line. Returns 1 with cmd filled (its line field untouched), 0 for a blank
// or comment line, -1 with a message for a bad line.
int parse_script_line(std::string_view line, script_command& cmd, std::string& message);

// Parses a whole script. On the first bad line returns false with err filled; out then
// holds the commands before it.
bool parse_script(std::string_view text, std::vector<script_command>& out, script_error& err);

}  // namespace sim
