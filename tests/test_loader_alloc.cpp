// Allocation failures in the loader: the record array, a line text, the path of a
// replacement. The non-throwing array allocation is replaced in this test program
// so that a chosen one can fail.
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <string>

#include "sub/subtitles.h"
#include "tests/support/store_support.h"

namespace {

// The allocation (counting from 1) that fails; 0: none.
std::atomic<int> fail_at{0};
std::atomic<int> counted{0};

void fail_nth(int n) {
    counted = 0;
    fail_at = n;
}

}  // namespace

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    if (fail_at != 0 && ++counted == fail_at) return nullptr;
    try {
        // The throwing form, so that the sanitizers pair it with delete[].
        return ::operator new[](n);
    } catch (...) {
        return nullptr;
    }
}

namespace {

using testsup::ClockTest;
using testsup::StoreTest;

constexpr const char* kFile = "[KTF2: 2 0 ]\n{1}{2}a|b\n{3}{4}c\n";

class LoaderAlloc : public StoreTest {
  protected:
    void TearDown() override {
        fail_at = 0;
        StoreTest::TearDown();
    }
};

TEST_F(LoaderAlloc, RecordArray) {
    write_sub("a.tkx", kFile);
    subtitle_count = 5;
    fail_nth(1);
    EXPECT_FALSE(sub_load_file("/var/tuxbox/Tresk/tit/a.tkx"));
    EXPECT_EQ(sub_error, 3);
    EXPECT_EQ(subtitle_count, 5);
}

TEST_F(LoaderAlloc, EachLineText) {
    write_sub("a.tkx", kFile);
    // Allocation 1 is the array; 2..4 are the texts a, b and c.
    for (int n = 2; n <= 4; ++n) {
        sub_error = 0;
        subtitle_count = 5;
        fail_nth(n);
        EXPECT_FALSE(sub_load_file("/var/tuxbox/Tresk/tit/a.tkx")) << n;
        EXPECT_EQ(sub_error, 3) << n;
        EXPECT_EQ(subtitle_count, 0) << n;
    }
    fail_nth(5);
    EXPECT_TRUE(sub_load_file("/var/tuxbox/Tresk/tit/a.tkx"));
}

class ReplaceAlloc : public ClockTest {
  protected:
    void TearDown() override {
        fail_at = 0;
        ClockTest::TearDown();
    }
};

TEST_F(ReplaceAlloc, PathBlockLeavesTheLoadedSubtitles) {
    ASSERT_TRUE(install("old.tkx", kFile));
    subtitle* old = subtitles;
    write_sub("new.tkx", kFile);
    fail_nth(1);
    EXPECT_EQ(sub_load_new("new.tkx"), 3);
    fail_at = 0;
    EXPECT_EQ(subtitles.load(), old);
    EXPECT_EQ(subtitle_count, 2);
}

}  // namespace
