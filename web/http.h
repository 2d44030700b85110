// The pieces of the web server that look only at text: URL decoding, the rules for
// file names, the Host and Origin checks, and the small JSON the page and the server
// exchange. Pure functions, callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "web/bridge.h"

// The longest file name the page may hand over or name, in bytes.
inline constexpr size_t kWebLongestName = 200;

// Percent-decodes s once; nullopt for a "%" not followed by two hex digits.
std::optional<std::string> web_percent_decode(std::string_view s);
// Whether s is well-formed UTF-8 (no overlong forms, surrogates or code points past
// U+10FFFF).
bool web_valid_utf8(std::string_view s);
// An uploaded file's name as it is stored: the part after the last "/" or "\", when
// that is a plain name of at most kWebLongestName bytes of UTF-8 without control bytes,
// not starting with ".", with a subtitle file's extension (any case); else nullopt.
std::optional<std::string> web_upload_name(std::string_view name);
// Whether name (a listed file, without ".tkx") is a plain name under the same rules,
// taken as it is: no "/" or "\" at all.
bool web_listed_name_ok(std::string_view name);

// Whether a request's Host header names this box: an IPv4 or bracketed IPv6 address,
// "localhost" or the box's host name, each with or without a port. Any other name may
// be a stranger's DNS name pointing at the box (DNS rebinding).
bool web_host_allowed(std::string_view host, std::string_view host_name);
// Whether a state-changing request's Origin header (when sent) is the page's own:
// "http://" followed by the Host header.
bool web_origin_allowed(std::string_view origin, std::string_view host);

// A JSON object whose members are all strings, as the page sends them ({"code":"..."},
// {"key":"OK"}); nullopt for anything else (other value types, duplicate names,
// trailing bytes, bad escapes, invalid UTF-8).
using web_json_fields = std::vector<std::pair<std::string, std::string>>;
std::optional<web_json_fields> web_parse_json_object(std::string_view text);
// The value of a member, or nullptr.
const std::string* web_json_field(const web_json_fields& fields, std::string_view name);
// text as a JSON string, quotes included; bytes that are no UTF-8 become U+FFFD.
std::string web_json_string(std::string_view text);
// The clock as the TV shows it: "h:mm:ss".
std::string web_clock_text(uint32_t ms);
// GET /api/state's answer.
std::string web_state_json(const web_state& state);
// GET /api/files's answer: {"files":[...],"current":"..."}.
std::string web_files_json(const web_state& state);
