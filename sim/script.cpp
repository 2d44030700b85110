// Parsing of the simulator's key scripts.
#include "sim/script.h"

#include <linux/input.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <limits>

#include "rc/remote.h"

namespace {

struct named_key {
    std::string_view name;
    uint16_t code;
};

constexpr std::array<named_key, 5> kEventTypes{{
    {"EV_SYN", EV_SYN},
    {"EV_KEY", EV_KEY},
    {"EV_REL", EV_REL},
    {"EV_ABS", EV_ABS},
    {"EV_MSC", EV_MSC},
}};

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}
std::string_view trim(std::string_view s);
std::string_view next_token(std::string_view& rest);
template <typename T>
bool parse_number(std::string_view s, T& out);
std::string quoted(std::string_view s) {
    return "'" + std::string(s) + "'";
}

}  // namespace

namespace sim {

std::optional<uint16_t> key_code(std::string_view name) {
    if (const int code = rc_key_from_name(name); code >= 0) return static_cast<uint16_t>(code);
    if (name.size() > 4 && rc_same_word(name.substr(0, 4), "KEY_")) name.remove_prefix(4);
    // A single digit is the digit key above; longer numbers are key codes.
    uint16_t code = 0;
    if (name.size() >= 2 && parse_number(name, code)) return code;
    return std::nullopt;
}

std::string_view key_name(uint16_t code) {
    return rc_key_name(code);
}

int parse_script_line(std::string_view line, script_command& cmd, std::string& message) {
    size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    std::string_view rest = trim(line);
    if (rest.empty()) return 0;
    std::string_view word = next_token(rest);

    auto key_argument = [&](std::string_view what, uint16_t& code) {
        std::string_view name = next_token(rest);
        if (name.empty()) {
            message = std::string(what) + " needs a key";
            return false;
        }
        std::optional<uint16_t> c = key_code(name);
        if (!c) {
            message = "unknown key " + quoted(name);
            return false;
        }
        code = *c;
        return true;
    };
    auto no_more = [&](std::string_view what) {
        if (trim(rest).empty()) return true;
        message = std::string(what) + ": unexpected " + quoted(trim(rest));
        return false;
    };

    script_command c;
    if (rc_same_word(word, "wait")) {
        std::string_view ms = next_token(rest);
        if (ms.empty()) {
            message = "wait needs a time in milliseconds";
            return -1;
        }
        if (!parse_number(ms, c.ms) || c.ms > kMaxScriptWait) {
            message = "wait: bad time " + quoted(ms) + " (milliseconds, 0 to " +
                      std::to_string(kMaxScriptWait) + ")";
            return -1;
        }
        if (!no_more("wait")) return -1;
        c.op = script_op::wait;
    } else if (rc_same_word(word, "press")) {
        if (!key_argument("press", c.code) || !no_more("press")) return -1;
        c.op = script_op::press;
    } else if (rc_same_word(word, "down") || rc_same_word(word, "repeat") ||
               rc_same_word(word, "up")) {
        std::string w(word);
        if (!key_argument(w, c.code) || !no_more(w)) return -1;
        c.op = script_op::event;
        c.type = EV_KEY;
        c.value = rc_same_word(word, "down") ? 1 : rc_same_word(word, "repeat") ? 2 : 0;
        c.report = true;
    } else if (rc_same_word(word, "raw")) {
        std::string_view type = next_token(rest);
        std::string_view code = next_token(rest);
        std::string_view value = next_token(rest);
        if (value.empty()) {
            message = "raw needs TYPE CODE VALUE";
            return -1;
        }
        bool type_ok = false;
        for (const named_key& t : kEventTypes) {
            if (rc_same_word(t.name, type)) {
                c.type = t.code;
                type_ok = true;
            }
        }
        if (!type_ok && !parse_number(type, c.type)) {
            message = "raw: bad type " + quoted(type) + " (0 to 65535 or EV_KEY, EV_SYN...)";
            return -1;
        }
        std::optional<uint16_t> k = key_code(code);
        if (code.size() == 1 && code[0] >= '0' && code[0] <= '9') {
            // In a raw record a lone digit is the number itself, not the digit key.
            k = static_cast<uint16_t>(code[0] - '0');
        }
        if (!k) {
            message = "raw: bad code " + quoted(code) + " (0 to 65535 or a key name)";
            return -1;
        }
        c.code = *k;
        if (!parse_number(value, c.value)) {
            message = "raw: bad value " + quoted(value) + " (a 32-bit signed number)";
            return -1;
        }
        if (!no_more("raw")) return -1;
        c.op = script_op::event;
    } else if (rc_same_word(word, "snap") || rc_same_word(word, "compose")) {
        std::string_view file = trim(rest);
        if (file.empty()) {
            message = std::string(word) + " needs a file name";
            return -1;
        }
        c.op = rc_same_word(word, "snap") ? script_op::snap : script_op::compose;
        c.file = std::string(file);
    } else if (rc_same_word(word, "video")) {
        std::string_view action = next_token(rest);
        c.op = script_op::video;
        if (rc_same_word(action, "play")) {
            c.video = video_action::play;
        } else if (rc_same_word(action, "pause")) {
            c.video = video_action::pause;
        } else if (rc_same_word(action, "wrap")) {
            c.video = video_action::wrap;
        } else if (rc_same_word(action, "seek")) {
            c.video = video_action::seek;
            std::string_view seconds = next_token(rest);
            if (!parse_number(seconds, c.value)) {
                message =
                    "video seek: bad time " + quoted(seconds) + " (whole seconds, +60 or -60)";
                return -1;
            }
        } else {
            message = "video needs play, pause, seek SECONDS or wrap";
            return -1;
        }
        if (!no_more("video")) return -1;
    } else {
        message = "unknown command " + quoted(word) +
                  " (wait, press, down, repeat, up, raw, snap, compose, video)";
        return -1;
    }
    c.line = cmd.line;
    cmd = std::move(c);
    return 1;
}

bool parse_script(std::string_view text, std::vector<script_command>& out, script_error& err) {
    int line_no = 0;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        ++line_no;
        script_command cmd;
        std::string message;
        int r = parse_script_line(line, cmd, message);
        if (r < 0) {
            err = script_error{line_no, message};
            return false;
        }
        if (r > 0) {
            cmd.line = line_no;
            out.push_back(std::move(cmd));
        }
    }
    return true;
}

}  // namespace sim

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
    return s;
}

// Cuts the next blank-separated word off rest; "" when none is left.
std::string_view next_token(std::string_view& rest) {
    rest = trim(rest);
    size_t n = 0;
    while (n < rest.size() && !is_space(rest[n])) ++n;
    std::string_view word = rest.substr(0, n);
    rest.remove_prefix(n);
    return word;
}

// A whole decimal number (with a sign only for signed T) or 0x hexadecimal, in range of T.
template <typename T>
bool parse_number(std::string_view s, T& out) {
    int base = 10;
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        if (negative && !std::numeric_limits<T>::is_signed) return false;
        s.remove_prefix(1);
    }
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty() || s[0] == '-' || s[0] == '+') return false;
    int64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (ec != std::errc{} || end != s.data() + s.size()) return false;
    if (negative) v = -v;
    if (v < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
        v > static_cast<int64_t>(std::numeric_limits<T>::max())) {
        return false;
    }
    out = static_cast<T>(v);
    return true;
}

}  // namespace
