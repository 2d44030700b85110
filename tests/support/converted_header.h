// What the header line of a converted file says, spelled out independently of the
// converter: the source's name as it is written there, the size and time of the
// source as it is recorded, and the checksum of what follows the header line.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace testsup {

// The player reads a line into 1000 bytes: the header and its line end must fit.
constexpr size_t kLongestHeader = 998;

// A name as the header writes it: control bytes, backslashes and ";" as \xHH.
inline std::string header_name(std::string_view name) {
    std::string out;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 0x7F || c == '\\' || c == ';') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

// "; SIZE bytes, modified SECONDS.NANOSECONDS" for the file at path as it is now.
inline std::string stamp_part(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "<no " + path + ">";
    char modified[48];
    std::snprintf(modified, sizeof modified, "%lld.%09ld",
                  static_cast<long long>(st.st_mtim.tv_sec), static_cast<long>(st.st_mtim.tv_nsec));
    return "; " + std::to_string(st.st_size) + " bytes, modified " + modified;
}

// The text converted with only a source name (the header ends with the name or with
// "; OPTIONS") given the stamp of the file at path.
inline std::string with_stamp(std::string converted, const std::string& path) {
    const size_t line_end = converted.find('\n');
    const size_t options = converted.substr(0, line_end).find("; ");
    converted.insert(options != std::string::npos ? options : line_end - 1, stamp_part(path));
    return converted;
}

// "; checksum XXXXXXXX": FNV-1a (32 bits) of the bytes after the header line.
inline std::string checksum_part(std::string_view content) {
    uint32_t hash = 2166136261u;
    for (char c : content) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(hash));
    return std::string("; checksum ") + hex;
}

// The end of the header line of a file converted from source (at path) with the
// default options, content following the header line.
inline std::string header_end(std::string_view source, const std::string& path,
                              std::string_view content) {
    return " 0 converted from " + header_name(source) + stamp_part(path) + checksum_part(content) +
           "]";
}

// What follows the header line of a file.
inline std::string_view after_header(std::string_view file) {
    const size_t end = file.find('\n');
    return end == std::string_view::npos ? std::string_view() : file.substr(end + 1);
}

}  // namespace testsup
