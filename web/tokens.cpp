// The paired browsers' file:
//
//   lumetra-web 1
//   <64 hex digits: SHA-256 of the token> <seconds since 1970 when paired>
//   ...
#include "web/tokens.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "hw/device.h"

namespace {

constexpr std::string_view kHeader = "lumetra-web 1";
constexpr const char* kPartPath = "/var/tuxbox/Tresk/tresk.web.part";
constexpr const char* kDirectory = "/var/tuxbox/Tresk";
// A file longer than the header and kWebMaxPaired full lines is no file of ours.
constexpr size_t kLongestFile = 64 + kWebMaxPaired * 96;

struct file_closer {
    void operator()(FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool parse_line(std::string_view line, web_paired& p) {
    if (line.size() < 66 || line[64] != ' ') return false;
    for (size_t i = 0; i < 32; ++i) {
        const int hi = hex_digit(line[2 * i]), lo = hex_digit(line[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        p.hash[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    const std::string_view number = line.substr(65);
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), p.created);
    return ec == std::errc{} && end == number.data() + number.size() && p.created >= 0;
}

}  // namespace

web_paired_file web_read_paired(std::vector<web_paired>& out) {
    out.clear();
    file_ptr f(hw_fopen(kWebPairedPath, "rb"));
    if (!f) return errno == ENOENT ? web_paired_file::missing : web_paired_file::damaged;
    std::string text(kLongestFile + 1, '\0');
    const size_t n = std::fread(text.data(), 1, text.size(), f.get());
    if (n > kLongestFile || std::ferror(f.get())) return web_paired_file::damaged;
    text.resize(n);
    std::string_view rest = text;
    bool header = true;
    std::vector<web_paired> list;
    while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        if (nl == std::string_view::npos) return web_paired_file::damaged;
        const std::string_view line = rest.substr(0, nl);
        rest.remove_prefix(nl + 1);
        if (header) {
            if (line != kHeader) return web_paired_file::damaged;
            header = false;
            continue;
        }
        web_paired p;
        if (list.size() == kWebMaxPaired || !parse_line(line, p)) return web_paired_file::damaged;
        list.push_back(p);
    }
    if (header) return web_paired_file::damaged;
    out = std::move(list);
    return web_paired_file::read;
}

bool web_write_paired(std::span<const web_paired> list) {
    std::string text(kHeader);
    text += '\n';
    for (const web_paired& p : list) {
        std::array<char, 100> line{};
        int len = 0;
        for (uint8_t b : p.hash) len += std::snprintf(line.data() + len, 3, "%02x", b);
        std::snprintf(line.data() + len, line.size() - static_cast<size_t>(len), " %lld\n",
                      static_cast<long long>(p.created));
        text += line.data();
    }
    {
        file_ptr f(hw_fopen(kPartPath, "wb"));
        if (!f) return false;
        const bool written = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size() &&
                             std::fflush(f.get()) == 0 && hw_fsync(fileno(f.get())) == 0;
        if (!written) {
            f.reset();
            hw_unlink(kPartPath);
            return false;
        }
    }
    if (hw_rename(kPartPath, kWebPairedPath) != 0) {
        hw_unlink(kPartPath);
        return false;
    }
    // The rename itself reaches the disk before the answer says "paired".
    const int dir = hw_open(kDirectory, O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        hw_fsync(dir);
        hw_close(dir);
    }
    return true;
}
