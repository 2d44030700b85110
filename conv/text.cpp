// Text helpers shared by the format readers and the timeline: line reading, clock
// times, tag markup, entities, the cleanup every line gets and wrapping.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "conv/model.h"

namespace conv {
namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

struct Entity {
    std::string_view name;
    uint32_t code_point;
};
constexpr std::array<Entity, 14> kEntities = {{
    {"amp", '&'},
    {"lt", '<'},
    {"gt", '>'},
    {"quot", '"'},
    {"apos", '\''},
    {"nbsp", ' '},
    {"lrm", 0},
    {"rlm", 0},
    {"hellip", 0x2026},
    {"ndash", 0x2013},
    {"mdash", 0x2014},
    {"laquo", 0xAB},
    {"raquo", 0xBB},
    {"shy", 0},
}};

// Decodes the entity at the front of s ("&amp;", "&#233;", "&#xE9;"); false when
// it is a plain "&".
bool take_entity(std::string_view& s, std::string& out) {
    size_t end = s.find(';');
    if (end == std::string_view::npos || end < 2 || end > 10) return false;
    std::string_view body = s.substr(1, end - 1);
    uint32_t c = 0;
    if (body[0] == '#') {
        bool hex = body.size() > 1 && (body[1] == 'x' || body[1] == 'X');
        std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty()) return false;
        for (char d : digits) {
            uint32_t v;
            if (is_digit(d))
                v = static_cast<uint32_t>(d - '0');
            else if (hex && lower(d) >= 'a' && lower(d) <= 'f')
                v = static_cast<uint32_t>(lower(d) - 'a' + 10);
            else
                return false;
            c = c * (hex ? 16 : 10) + v;
        }
        if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    } else {
        auto it = std::find_if(kEntities.begin(), kEntities.end(),
                               [&](const Entity& e) { return e.name == body; });
        if (it == kEntities.end()) return false;
        c = it->code_point;
    }
    if (c != 0) append_utf8(out, c);
    s.remove_prefix(end + 1);
    return true;
}

// The letters of MicroDVD's control codes: style, colour, font, size, position,
// character set and offset.
constexpr std::string_view kMicroDvdLetters = "yYcCfFsSPHoO";

// Characters of a UTF-8 string (continuation bytes not counted).
size_t characters(std::string_view s) {
    return static_cast<size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

}  // namespace

void TextBuilder::add(std::string_view text, bool italic) {
    for (char c : text)
        if (!is_space(c)) (italic ? any_italic_ : any_plain_) = true;
    current_ += text;
}

void TextBuilder::line_break() {
    lines_.push_back({current_, any_italic_ && !any_plain_});
    current_.clear();
    any_italic_ = false;
    any_plain_ = false;
}

std::vector<CueLine> TextBuilder::finish() {
    line_break();
    std::vector<CueLine> out;
    out.swap(lines_);
    return out;
}

bool LineReader::next(std::string_view& line) {
    if (position_ >= text_.size()) return false;
    size_t end = text_.find('\n', position_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(position_, end - position_);
    position_ = end + 1;
    ++number_;
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (is_space(s.front()) || s.front() == '\f' || s.front() == '\v'))
        s.remove_prefix(1);
    while (!s.empty() && (is_space(s.back()) || s.back() == '\f' || s.back() == '\v'))
        s.remove_suffix(1);
    return s;
}

bool starts_with_ignoring_case(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (lower(s[i]) != lower(prefix[i])) return false;
    return true;
}

bool take_number(std::string_view& s, int64_t& value) {
    size_t n = 0;
    value = 0;
    while (n < s.size() && is_digit(s[n])) {
        if (n == 9) return false;  // no time field of a sane file is this long
        value = value * 10 + (s[n] - '0');
        ++n;
    }
    if (n == 0) return false;
    s.remove_prefix(n);
    return true;
}

namespace {

bool take_signed_number(std::string_view& s, int64_t& value) {
    std::string_view p = s;
    bool negative = !p.empty() && p[0] == '-';
    if (negative) p.remove_prefix(1);
    if (!take_number(p, value)) return false;
    if (negative) value = -value;
    s = p;
    return true;
}

// The characters of a damaged arrow besides "-" and ">": dashes and an arrow a word
// processor put in, and the no-break space it puts around them.
constexpr std::array<std::string_view, 4> kArrowMarks = {
    "\xE2\x80\x93",  // en dash
    "\xE2\x80\x94",  // em dash
    "\xE2\x88\x92",  // minus sign
    "\xE2\x86\x92",  // rightwards arrow
};
constexpr std::string_view kNoBreakSpace = "\xC2\xA0";

// Length of the arrow character at the front of s, or 0.
size_t arrow_mark(std::string_view s) {
    if (!s.empty() && (s[0] == '-' || s[0] == '>')) return 1;
    for (std::string_view mark : kArrowMarks)
        if (s.substr(0, mark.size()) == mark) return mark.size();
    return 0;
}

size_t blank(std::string_view s) {
    if (!s.empty() && is_space(s[0])) return 1;
    return s.substr(0, kNoBreakSpace.size()) == kNoBreakSpace ? kNoBreakSpace.size() : 0;
}

// Reads the separator of a time line: a run of arrow characters and blanks with at
// least one arrow character. A "-" right before the end's digits, after a ">", is
// the end's sign ("--> -00:00:01,000").
bool take_arrow(std::string_view& s) {
    std::string_view p = s;
    bool mark = false;
    bool pointed = false;
    for (;;) {
        if (size_t n = arrow_mark(p)) {
            if (pointed && n == 1 && p[0] == '-' && p.size() > 1 && is_digit(p[1])) break;
            mark = true;
            pointed = pointed || p[0] == '>' || n == 3;
            p.remove_prefix(n);
        } else if (size_t b = blank(p)) {
            p.remove_prefix(b);
        } else {
            break;
        }
    }
    if (!mark) return false;
    s = p;
    return true;
}

}  // namespace

bool take_pair(std::string_view& s, char open, char close, int64_t& first,
               std::optional<int64_t>& second) {
    std::string_view p = s;
    if (p.empty() || p[0] != open) return false;
    p.remove_prefix(1);
    if (!take_signed_number(p, first) || p.size() < 2 || p[0] != close || p[1] != open)
        return false;
    p.remove_prefix(2);
    second.reset();
    if (!p.empty() && p[0] != close) {
        int64_t value = 0;
        if (!take_signed_number(p, value)) return false;
        second = value;
    }
    if (p.empty() || p[0] != close) return false;
    p.remove_prefix(1);
    s = p;
    return true;
}

void ReadResult::skip(int line, std::string_view why) {
    ++skipped;
    if (skipped <= kSkipNotes)
        notes.push_back("line " + std::to_string(line) + ": " + std::string(why) + ", cue skipped");
}

void TaggedLines::flush(std::vector<Cue>& cues) {
    // Without lines there is nothing to set: a cue that had none stays empty, and one
    // flushed already keeps its lines.
    if (!cues.empty() && !lines_.empty()) {
        TextBuilder builder;
        bool italic = false;
        bool top = cues.back().top;
        for (size_t j = 0; j < lines_.size(); ++j) {
            if (j > 0) builder.line_break();
            add_tagged_text(lines_[j], builder, italic, top);
        }
        cues.back().lines = builder.finish();
        cues.back().top = top;
    }
    lines_.clear();
}

bool take_clock(std::string_view& s, int64_t& ms, BareClock bare) {
    std::string_view p = s;
    std::array<int64_t, 3> parts{};
    int count = 0;
    size_t last_digits = 0;  // of the seconds, once the loop ends
    for (;;) {
        size_t before = p.size();
        if (count == 3 || !take_number(p, parts[static_cast<size_t>(count)])) return false;
        last_digits = before - p.size();
        ++count;
        if (p.empty() || p[0] != ':' || count == 3) break;
        // "0:00:01:" (TMPlayer) ends with a colon and no number after it.
        if (p.size() < 2 || !is_digit(p[1])) break;
        p.remove_prefix(1);
    }
    if (count < 2) return false;
    int64_t hours = count == 3 ? parts[0] : 0;
    int64_t minutes = parts[static_cast<size_t>(count - 2)];
    int64_t seconds = parts[static_cast<size_t>(count - 1)];
    if (seconds >= 60 || (count == 3 && minutes >= 60)) return false;
    int64_t fraction = 0;
    if (!p.empty() && (p[0] == ',' || p[0] == '.') && p.size() > 1 && is_digit(p[1])) {
        p.remove_prefix(1);
        int64_t scale = 100;
        size_t n = 0;
        while (n < p.size() && is_digit(p[n])) {
            if (scale > 0) fraction += (p[n] - '0') * scale;
            scale /= 10;
            ++n;
        }
        p.remove_prefix(n);
    } else if (bare == BareClock::kWithHours &&
               (count < 3 || last_digits != 2 ||
                (!p.empty() && (is_letter(p[0]) || p[0] == ',' || p[0] == '.' || p[0] == ':')))) {
        // Without a fraction only "H:MM:SS" is whole, and only where no more of a time
        // follows: "00:00:0" is cut, "00:00:05X,000" mistyped; neither is a time.
        return false;
    }
    ms = ((hours * 60 + minutes) * 60 + seconds) * 1000 + fraction;
    s = p;
    return true;
}

bool take_signed_clock(std::string_view& s, int64_t& ms, BareClock bare) {
    std::string_view p = s;
    bool negative = !p.empty() && p[0] == '-';
    if (negative) p.remove_prefix(1);
    if (!take_clock(p, ms, bare)) return false;
    if (negative) ms = -ms;
    s = p;
    return true;
}

bool take_time_span(std::string_view line, int64_t& start, int64_t& end, std::string_view& rest) {
    std::string_view s = line;
    if (!take_signed_clock(s, start, BareClock::kWithHours) || !take_arrow(s) ||
        !take_signed_clock(s, end, BareClock::kWithHours))
        return false;
    rest = trim(s);
    return true;
}

bool looks_like_time_line(std::string_view line, bool with_arrow) {
    std::string_view s = trim(line);
    if (s.empty() || !(is_digit(s[0]) || (s[0] == '-' && s.size() > 1 && is_digit(s[1]))))
        return false;
    int digits = 0;
    int colons = 0;
    int letters = 0;
    bool arrow = false;
    while (!s.empty()) {
        char c = s[0];
        size_t n = 1;
        if (is_digit(c)) {
            ++digits;
        } else if (c == ':') {
            ++colons;
        } else if (is_letter(c)) {
            ++letters;
        } else if (size_t m = arrow_mark(s)) {
            // "->" or any dash but a lone "-" (a sign) counts as an arrow.
            arrow = arrow || m == 3 || c == '>' || (s.size() > 1 && s[1] == '-');
            n = m;
        } else if (size_t b = blank(s)) {
            n = b;
        } else if (c != ',' && c != '.' && c != ';') {
            return false;
        }
        s.remove_prefix(n);
    }
    return digits >= 2 && colons >= 1 && letters <= 2 && (arrow || !with_arrow);
}

bool MicroDvdCode::italic() const {
    return (letter == 'y' || letter == 'Y') && value.find('i') != std::string_view::npos;
}

bool MicroDvdCode::top() const {
    return letter == 'P' && trim(value) == "0";
}

bool take_microdvd_code(std::string_view& s, MicroDvdCode& code) {
    if (s.size() < 5 || s[0] != '{' || s[2] != ':' ||
        kMicroDvdLetters.find(s[1]) == std::string_view::npos)
        return false;
    // "{y:i" left open, "{y:}" and a brace inside are text.
    size_t close = s.find_first_of("{}", 3);
    if (close == std::string_view::npos || s[close] != '}' || close == 3) return false;
    code = {s[1], s.substr(3, close - 3)};
    s.remove_prefix(close + 1);
    return true;
}

void add_tagged_text(std::string_view line, TextBuilder& builder, bool& italic, bool& top) {
    std::string_view s = line;
    bool line_italic = false;  // a MicroDVD "{y:i}" holds for its line only
    while (!s.empty()) {
        size_t stop = s.find_first_of("<{");
        if (stop == std::string_view::npos) {
            builder.add(s, italic || line_italic);
            return;
        }
        builder.add(s.substr(0, stop), italic || line_italic);
        s.remove_prefix(stop);
        MicroDvdCode code;
        if (take_microdvd_code(s, code)) {
            if (code.italic()) (code.whole_cue() ? italic : line_italic) = true;
            top = top || code.top();
            continue;
        }
        if (s[0] == '<') {
            // A tag is "<" or "</" and a letter up to ">" on the same line, or a time
            // stamp such as "<00:01.500>"; anything else is a literal "<".
            size_t close = s.find('>');
            bool closing = s.size() > 1 && s[1] == '/';
            size_t name_at = closing ? 2 : 1;
            bool stamp =
                close != std::string_view::npos && close > 1 &&
                s.substr(1, close - 1).find_first_not_of("0123456789:.") == std::string_view::npos;
            if (close == std::string_view::npos || name_at >= s.size() ||
                !(is_letter(s[name_at]) || stamp)) {
                builder.add(s.substr(0, 1), italic || line_italic);
                s.remove_prefix(1);
                continue;
            }
            std::string_view tag = s.substr(name_at, close - name_at);
            if (tag.size() >= 1 && lower(tag[0]) == 'i' && (tag.size() == 1 || !is_letter(tag[1])))
                italic = !closing;
            s.remove_prefix(close + 1);
        } else {
            // "{\an8}" and other override blocks some SubRip files carry.
            size_t close = s.find('}');
            if (s.size() < 2 || s[1] != '\\' || close == std::string_view::npos) {
                builder.add(s.substr(0, 1), italic || line_italic);
                s.remove_prefix(1);
                continue;
            }
            std::string_view block = s.substr(2, close - 2);
            if (block.size() == 3 && block.substr(0, 2) == "an" && block[2] >= '7' &&
                block[2] <= '9')
                top = true;
            if (block == "i1") italic = true;
            if (block == "i0") italic = false;
            s.remove_prefix(close + 1);
        }
    }
}

std::string clock_text(int64_t ms) {
    char buffer[40];
    const char* sign = ms < 0 ? "-" : "";
    if (ms < 0) ms = -ms;
    std::snprintf(buffer, sizeof buffer, "%s%lld:%02lld:%02lld,%03lld", sign,
                  static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return buffer;
}

std::string clean_line(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    std::string_view s = line;
    while (!s.empty()) {
        unsigned char c = static_cast<unsigned char>(s[0]);
        if (c == '&' && take_entity(s, out)) continue;
        MicroDvdCode code;
        if (c == '{' && take_microdvd_code(s, code)) continue;
        s.remove_prefix(1);
        if (c == '\t') {
            out += ' ';
        } else if (c < 32 || c == 0x7F) {
            // The player reads these as its own control codes.
        } else if (c == 0xC2 && !s.empty() && static_cast<unsigned char>(s[0]) < 0xA0) {
            s.remove_prefix(1);  // C1 control codes print nothing useful either
        } else if (c == 0xC2 && !s.empty() && static_cast<unsigned char>(s[0]) == 0xA0) {
            s.remove_prefix(1);
            out += ' ';
        } else if (c == '|') {
            out += "\xC2\xA6";  // "¦": a "|" would split the line
        } else {
            out += static_cast<char>(c);
        }
    }
    // One space between words, none at the ends.
    std::string collapsed;
    collapsed.reserve(out.size());
    for (char c : out) {
        if (c == ' ' && (collapsed.empty() || collapsed.back() == ' ')) continue;
        collapsed += c;
    }
    while (!collapsed.empty() && collapsed.back() == ' ') collapsed.pop_back();
    return collapsed;
}

std::vector<std::string> wrap_line(std::string_view line, int width) {
    if (width <= 0 || characters(line) <= static_cast<size_t>(width)) return {std::string(line)};
    std::vector<std::string_view> words;
    size_t at = 0;
    while (at < line.size()) {
        size_t end = line.find(' ', at);
        if (end == std::string_view::npos) end = line.size();
        if (end > at) words.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    // Fewest lines first, then the most even lengths (least sum of squares); a word
    // longer than the width stands on a line of its own.
    size_t n = words.size();
    std::vector<size_t> lengths(n);
    for (size_t i = 0; i < n; ++i) lengths[i] = characters(words[i]);
    constexpr int64_t kInfinite = std::numeric_limits<int64_t>::max() / 4;
    std::vector<int64_t> count(n + 1, kInfinite);
    std::vector<int64_t> cost(n + 1, kInfinite);
    std::vector<size_t> from(n + 1, 0);
    count[0] = 0;
    cost[0] = 0;
    for (size_t end = 1; end <= n; ++end) {
        size_t length = 0;
        for (size_t begin = end; begin-- > 0;) {
            length += lengths[begin] + (begin + 1 < end ? 1 : 0);
            if (length > static_cast<size_t>(width) && begin + 1 < end) break;
            int64_t c = count[begin] + 1;
            int64_t q = cost[begin] + static_cast<int64_t>(length * length);
            if (c < count[end] || (c == count[end] && q < cost[end])) {
                count[end] = c;
                cost[end] = q;
                from[end] = begin;
            }
        }
    }
    std::vector<std::string> out;
    for (size_t end = n; end > 0; end = from[end]) {
        std::string text;
        for (size_t i = from[end]; i < end; ++i) {
            if (i > from[end]) text += ' ';
            text += words[i];
        }
        out.push_back(std::move(text));
    }
    std::reverse(out.begin(), out.end());
    return out;
}

}  // namespace conv
