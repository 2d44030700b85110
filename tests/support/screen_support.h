// A display laid out by hand for tests of the geometry and the primitives: a heap
// block stands in for the mapped framebuffer, with guard words on both sides, so
// that a write outside it shows up in the guards (and under AddressSanitizer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsup {

class fake_display {
  public:
    // line_length and smem_len in bytes; height7 is the line height of zoom level 7.
    explicit fake_display(uint32_t line_length = 2880, uint32_t smem_len = 2880 * 576,
                          int32_t height7 = 51);
    ~fake_display();
    fake_display(const fake_display&) = delete;
    fake_display& operator=(const fake_display&) = delete;

    // Pixel (x, y) of the stand-in framebuffer / back buffer, by line_length.
    uint32_t& px(int64_t x, int64_t y);
    uint32_t& bb(int64_t x, int64_t y);
    // Every word of the mapping / back buffer set to v.
    void fill(uint32_t v);
    void fill_bb(uint32_t v);
    // The guard words around the mapping and after the back buffer are untouched.
    bool guards_intact() const;
    // Words of the mapping (not the guards) that differ from v.
    int64_t count_not(uint32_t v) const;
    int64_t count_bb_not(uint32_t v) const;

    static constexpr uint32_t kGuard = 0xa5a5a5a5;
    static constexpr size_t kGuardWords = 4096;

  private:
    std::vector<uint32_t> mem_;
    size_t words_;
    size_t bb_words_;
};

// Line heights used by the hand-made display for zoom levels 0..7.
constexpr int32_t kFakeLineHeights[8] = {31, 29, 34, 41, 44, 46, 49, 51};

}  // namespace testsup
