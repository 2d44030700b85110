// URL decoding, name rules, Host and Origin checks and JSON for the web server.
#include "web/http.h"

#include <arpa/inet.h>

#include <array>
#include <cstdio>

namespace {

// The extensions an upload may carry: the converter's sources (conv/convert.cpp, in
// its order) and the player's own format.
constexpr std::array<std::string_view, 7> kUploadExtensions{".srt", ".ass", ".ssa", ".vtt",
                                                            ".sub", ".txt", ".tkx"};

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_text(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes one UTF-8 sequence at s[i]; its length, or 0 when it is not well-formed.
size_t utf8_length(std::string_view s, size_t i, uint32_t& cp) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char c = b(0);
    size_t n = 0;
    uint32_t min = 0;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        n = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(k) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (b(k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The rules a stored or listed name follows, whatever its extension.
bool plain_name(std::string_view name) {
    if (name.empty() || name.size() > kWebLongestName || name.front() == '.') return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '/' || c == '\\') return false;
    }
    return web_valid_utf8(name);
}

bool upload_extension(std::string_view name) {
    for (std::string_view e : kUploadExtensions) {
        if (name.size() > e.size() && same_text(name.substr(name.size() - e.size()), e))
            return true;
    }
    return false;
}

// A JSON text's reader for the one shape the page sends.
class json_reader {
  public:
    explicit json_reader(std::string_view text) : s_(text) {}

    std::optional<web_json_fields> object() {
        web_json_fields fields;
        skip_space();
        if (!take('{')) return std::nullopt;
        skip_space();
        if (!take('}')) {
            for (;;) {
                skip_space();
                std::string name, value;
                if (!string(name)) return std::nullopt;
                skip_space();
                if (!take(':')) return std::nullopt;
                skip_space();
                if (!string(value)) return std::nullopt;
                if (web_json_field(fields, name) != nullptr) return std::nullopt;
                fields.emplace_back(std::move(name), std::move(value));
                skip_space();
                if (take('}')) break;
                if (!take(',')) return std::nullopt;
            }
        }
        skip_space();
        if (i_ != s_.size()) return std::nullopt;
        return fields;
    }

  private:
    bool take(char c) {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    void skip_space() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
            ++i_;
    }
    bool hex4(uint32_t& v) {
        if (s_.size() - i_ < 4) return false;
        v = 0;
        for (int k = 0; k < 4; ++k) {
            const int h = hex_value(s_[i_++]);
            if (h < 0) return false;
            v = v << 4 | static_cast<uint32_t>(h);
        }
        return true;
    }
    bool string(std::string& out) {
        if (!take('"')) return false;
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (c == '"') {
                ++i_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                uint32_t cp = 0;
                const size_t n = utf8_length(s_, i_, cp);
                if (n == 0) return false;
                out.append(s_.substr(i_, n));
                i_ += n;
                continue;
            }
            ++i_;
            if (i_ >= s_.size()) return false;
            const char e = s_[i_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    uint32_t cp = 0;
                    if (!hex4(cp)) return false;
                    if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        uint32_t low = 0;
                        if (!take('\\') || !take('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF)
                            return false;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    append_utf8(out, cp);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }

    std::string_view s_;
    size_t i_ = 0;
};

void append_member(std::string& out, std::string_view name, std::string_view json_value) {
    if (out.size() > 1) out += ',';
    out += web_json_string(name);
    out += ':';
    out += json_value;
}

std::string string_array(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += ',';
        out += web_json_string(items[i]);
    }
    return out + "]";
}

}  // namespace

std::optional<std::string> web_percent_decode(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size()) return std::nullopt;
        const int hi = hex_value(s[i + 1]), lo = hex_value(s[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi << 4 | lo);
        i += 2;
    }
    return out;
}

bool web_valid_utf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        uint32_t cp = 0;
        const size_t n = utf8_length(s, i, cp);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::optional<std::string> web_upload_name(std::string_view name) {
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    if (!plain_name(name) || !upload_extension(name)) return std::nullopt;
    return std::string(name);
}

bool web_listed_name_ok(std::string_view name) {
    return plain_name(name);
}

bool web_host_allowed(std::string_view host, std::string_view host_name) {
    std::string_view name = host;
    std::string_view port;
    if (name.starts_with('[')) {
        const size_t close = name.find(']');
        if (close == std::string_view::npos) return false;
        port = name.substr(close + 1);
        name = name.substr(1, close - 1);
        if (!port.empty() && !port.starts_with(':')) return false;
        const std::string literal(name);
        in6_addr v6{};
        if (inet_pton(AF_INET6, literal.c_str(), &v6) != 1) return false;
    } else {
        const size_t colon = name.find(':');
        if (colon != std::string_view::npos) {
            port = name.substr(colon);
            name = name.substr(0, colon);
        }
    }
    if (!port.empty()) {
        port.remove_prefix(1);
        if (port.empty() || port.size() > 5) return false;
        for (char c : port) {
            if (c < '0' || c > '9') return false;
        }
    }
    if (host.starts_with('[')) return true;
    if (name.empty()) return false;
    const std::string literal(name);
    in_addr v4{};
    if (inet_pton(AF_INET, literal.c_str(), &v4) == 1) return true;
    return same_text(name, "localhost") || (!host_name.empty() && same_text(name, host_name));
}

bool web_origin_allowed(std::string_view origin, std::string_view host) {
    constexpr std::string_view kScheme = "http://";
    return origin.size() == kScheme.size() + host.size() &&
           same_text(origin.substr(0, 7), kScheme) &&
           same_text(origin.substr(kScheme.size()), host);
}

std::optional<web_json_fields> web_parse_json_object(std::string_view text) {
    return json_reader(text).object();
}

const std::string* web_json_field(const web_json_fields& fields, std::string_view name) {
    for (const auto& [n, v] : fields) {
        if (n == name) return &v;
    }
    return nullptr;
}

std::string web_json_string(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t n = utf8_length(text, i, cp);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp < 0x20 || cp == 0x7F || cp == 0x2028 || cp == 0x2029) {
            std::array<char, 8> esc{};
            std::snprintf(esc.data(), esc.size(), "\\u%04x", static_cast<unsigned>(cp));
            out += esc.data();
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    return out + "\"";
}

std::string web_clock_text(uint32_t ms) {
    const uint32_t s = ms / 1000;
    std::array<char, 24> text{};
    std::snprintf(text.data(), text.size(), "%u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
    return text.data();
}

std::string web_state_json(const web_state& st) {
    const auto flag = [](bool b) { return std::string(b ? "true" : "false"); };
    std::string out = "{";
    append_member(out, "serial", std::to_string(st.serial));
    append_member(out, "loaded", flag(st.loaded));
    append_member(out, "file", web_json_string(st.file));
    append_member(out, "clock_ms", std::to_string(st.clock_ms));
    append_member(out, "clock", web_json_string(web_clock_text(st.clock_ms)));
    append_member(out, "playing", flag(st.playing));
    append_member(out, "subtitle", web_json_string(st.subtitle));
    append_member(out, "shift_ms", std::to_string(st.shift_ms));
    append_member(out, "rate", web_json_string(st.rate));
    append_member(out, "second", web_json_string(st.second));
    append_member(out, "second_shift_ms", std::to_string(st.second_shift_ms));
    append_member(out, "second_subtitle", web_json_string(st.second_subtitle));
    append_member(out, "question", flag(st.question));
    append_member(out, "question_text", web_json_string(st.question_text));
    append_member(out, "status", web_json_string(st.status));
    append_member(out, "busy", flag(st.busy));
    std::string jobs = "[";
    for (const web_job& j : st.jobs) {
        if (jobs.size() > 1) jobs += ',';
        std::string job = "{";
        append_member(job, "name", web_json_string(j.name));
        append_member(job, "step", web_json_string(j.step));
        append_member(job, "percent", std::to_string(j.percent));
        append_member(job, "text", web_json_string(j.text));
        jobs += job + "}";
    }
    append_member(out, "jobs", jobs + "]");
    append_member(out, "files", string_array(st.files));
    return out + "}";
}

std::string web_files_json(const web_state& st) {
    std::string out = "{";
    append_member(out, "files", string_array(st.files));
    append_member(out, "current", web_json_string(st.file));
    return out + "}";
}
