#include "tests/support/painter_support.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>

#include "fb/screen.h"

namespace testsup {

subtitle make_record(std::initializer_list<const char*> lines, int32_t flags) {
    return make_record(std::vector<std::string>(lines.begin(), lines.end()), flags);
}

subtitle make_record(const std::vector<std::string>& lines, int32_t flags) {
    subtitle t{};
    t.line_count = static_cast<int32_t>(lines.size());
    t.flags = flags;
    t.start_ms = 0;
    t.end_ms = 1000;
    for (size_t i = 0; i < lines.size() && i < 4; ++i) {
        t.lines[i] = std::make_unique<char[]>(lines[i].size() + 1);
        std::memcpy(t.lines[i].get(), lines[i].c_str(), lines[i].size() + 1);
    }
    return t;
}

bb_bounds bb_find(uint32_t v) {
    bb_bounds b;
    std::span<uint32_t> px = fb_pixels(1);
    int32_t w = static_cast<int32_t>(px_per_line);
    for (size_t i = 0; i < px.size(); ++i) {
        if (px[i] != v) continue;
        int32_t x = static_cast<int32_t>(i % static_cast<size_t>(w));
        int32_t y = static_cast<int32_t>(i / static_cast<size_t>(w));
        b.left = std::min(b.left, x);
        b.right = std::max(b.right, x);
        b.top = std::min(b.top, y);
        b.bottom = std::max(b.bottom, y);
    }
    return b;
}

std::set<uint32_t> bb_values(int32_t top, int32_t bottom) {
    std::set<uint32_t> v;
    std::span<uint32_t> px = fb_pixels(1);
    size_t w = px_per_line;
    for (size_t i = static_cast<size_t>(top) * w;
         i < static_cast<size_t>(bottom) * w && i < px.size(); ++i) {
        v.insert(px[i]);
    }
    return v;
}

bool screen_shows_bb_at(int64_t line) {
    std::span<uint32_t> scr = fb_pixels(0);
    std::span<uint32_t> bb = fb_pixels(1);
    int64_t w = px_per_line;
    int64_t rows = static_cast<int64_t>(bb.size()) / w;
    for (int64_t r = 0; r < rows; ++r) {
        int64_t s = line + r;
        if (s < 0) continue;
        if ((s + 1) * w > static_cast<int64_t>(scr.size())) break;
        if (std::memcmp(&scr[static_cast<size_t>(s * w)], &bb[static_cast<size_t>(r * w)],
                        static_cast<size_t>(w) * 4) != 0) {
            return false;
        }
    }
    return true;
}

int64_t target_line(int position) {
    int64_t off = static_cast<int64_t>(reinterpret_cast<uintptr_t>(bb_targets[position].load()) -
                                       reinterpret_cast<uintptr_t>(fb_mem));
    return off / fb_fix.line_length;
}

}  // namespace testsup
