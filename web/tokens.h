// The browsers paired with the box: the SHA-256 of each one's token and when it was
// paired, kept in /var/tuxbox/Tresk/tresk.web through the device layer. The file
// holds hashes only, so that reading it pairs nobody.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "web/sha256.h"

struct web_paired {
    web_digest hash{};
    int64_t created = 0;  // seconds since 1970
};

inline constexpr const char* kWebPairedPath = "/var/tuxbox/Tresk/tresk.web";
// At most this many browsers are paired: a new one drops the oldest.
inline constexpr size_t kWebMaxPaired = 16;
// A pairing lasts 90 days (the cookie's Max-Age too).
inline constexpr int64_t kWebPairedSeconds = 90LL * 24 * 3600;

enum class web_paired_file { read, missing, damaged };
// Reads the file into out (emptied first); a damaged file leaves out empty.
web_paired_file web_read_paired(std::vector<web_paired>& out);
// Writes the list whole through a temporary file renamed into place; false when it
// could not be written (the file is then unchanged).
bool web_write_paired(std::span<const web_paired> list);
