// The input-event record as the platform lays it out, and key records of that
// size read one at a time through the device layer and rc_read_key. The box
// (32-bit MIPS) has 16-byte records with 32-bit time fields; the PC has 24 bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/time.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hw/device.h"
#include "rc/remote.h"
#include "sim/model.h"
#include "tests/support/support.h"

namespace {

#if defined(__mips__) && _MIPS_SIM == _ABIO32
constexpr size_t kExpected = 16;
#elif defined(__x86_64__)
constexpr size_t kExpected = 24;
#else
constexpr size_t kExpected = 0;  // not one of the platforms this test knows
#endif
constexpr size_t kRecord = sizeof(input_event);

// Little-endian reads at a byte offset, as the box's kernel writes the record.
uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

class InputEventAbi : public ::testing::Test {
  protected:
    void SetUp() override {
        if (kExpected == 0) GTEST_SKIP() << "no known input_event size for this platform";
        testsup::setup_box(root_);
        sim::set_sleep_scale(0);
    }
    void TearDown() override {
        rc_deinit();
        sim::reset();
    }
    testsup::box_root root_;
};

TEST_F(InputEventAbi, RecordSizeAndLayoutMatchThePlatform) {
    EXPECT_EQ(sizeof(input_event), kExpected);
    EXPECT_EQ(sizeof rc_ev, kExpected);
    // type, code and value are the last 8 bytes whatever the width of the time fields.
    EXPECT_EQ(offsetof(input_event, type), kRecord - 8);
    EXPECT_EQ(offsetof(input_event, code), kRecord - 6);
    EXPECT_EQ(offsetof(input_event, value), kRecord - 4);
#if defined(__mips__)
    EXPECT_EQ(sizeof(long), 4u);
    EXPECT_EQ(sizeof(void*), 4u);
    EXPECT_EQ(offsetof(input_event, input_event_usec), 4u);
#endif
}

TEST_F(InputEventAbi, DeviceHandsOutWholeRecordsInTheBoxLayout) {
    int fd = hw_open("/dev/input/event0", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    timeval before{};
    ::gettimeofday(&before, nullptr);
    sim::push_event(0, EV_KEY, KEY_RED, 1);
    sim::push_event(0, EV_SYN, 0xfffe, -2);

    // Room for two records and a half: exactly two whole ones come back.
    std::array<unsigned char, 5 * kRecord / 2> buf{};
    ASSERT_EQ(hw_read(fd, buf.data(), buf.size()), static_cast<ssize_t>(2 * kRecord));

    const unsigned char* first = buf.data();
    const unsigned char* second = buf.data() + kRecord;
    EXPECT_EQ(le16(first + kRecord - 8), EV_KEY);
    EXPECT_EQ(le16(first + kRecord - 6), KEY_RED);
    EXPECT_EQ(le32(first + kRecord - 4), 1u);
    EXPECT_EQ(le16(second + kRecord - 8), EV_SYN);
    EXPECT_EQ(le16(second + kRecord - 6), 0xfffe);
    EXPECT_EQ(le32(second + kRecord - 4), static_cast<uint32_t>(-2));
    // The seconds field starts the record and holds the time of sending.
    int64_t sec = kRecord == 16 ? static_cast<int32_t>(le32(first))
                                : static_cast<int64_t>(le32(first)) |
                                      static_cast<int64_t>(le32(first + 4)) << 32;
    EXPECT_GE(sec, static_cast<int64_t>(before.tv_sec));
    EXPECT_LE(sec, static_cast<int64_t>(before.tv_sec) + 60);

    // A buffer smaller than one record gets nothing.
    sim::push_event(0, EV_KEY, KEY_OK, 1);
    std::array<unsigned char, kRecord - 1> small{};
    EXPECT_LT(hw_read(fd, small.data(), small.size()), 0);
    EXPECT_EQ(sim::input_pending(0), 1u);
    hw_close(fd);
}

TEST_F(InputEventAbi, EachCallConsumesOneKeyRecordOfThePlatformSize) {
    ASSERT_EQ(rc_init(), 1);
    // A burst queued at once, each key record followed by its report record: if a read
    // took the wrong size, the types, codes and values would come from the wrong bytes
    // and the sequence below would not hold. A call reads the report records before its
    // key record and leaves the one after it.
    testsup::key(KEY_RED, 1);
    testsup::key(KEY_RED, 0);
    testsup::key(KEY_GREEN, 1);
    testsup::key(KEY_GREEN, 2);
    testsup::key(KEY_GREEN, 0);
    testsup::key(KEY_GREEN, 1);
    testsup::key(0xfffe, 1);  // codes above 32767 stay positive
    ASSERT_EQ(sim::input_pending(0), 14u);

    const std::array<int, 7> expected{KEY_RED, -1, KEY_GREEN, -1, -1, KEY_GREEN, 0xfffe};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(rc_read_key(), expected[i]) << "record " << i;
        EXPECT_EQ(sim::input_pending(0), 2 * (expected.size() - i) - 1) << "record " << i;
    }
    EXPECT_EQ(rc_ev.type, EV_KEY);
    EXPECT_EQ(rc_ev.code, 0xfffe);
    EXPECT_EQ(rc_ev.value, 1);
    EXPECT_EQ(last_code, 0xfffe);
    EXPECT_EQ(rc_read_key(), -1) << "only the last report record is left";
    EXPECT_EQ(rc_ev.type, EV_SYN);
    EXPECT_EQ(sim::input_pending(0), 0u);
}

TEST_F(InputEventAbi, SecondDeviceRecordsAreReadWhole) {
    testsup::setup_box(root_, {}, 2);
    ASSERT_EQ(rc_init(), 1);
    ASSERT_NE(rc_fd[1], -1);
    testsup::key(KEY_BLUE, 1, 1);
    testsup::key(KEY_BLUE, 0, 1);
    testsup::key(KEY_YELLOW, 1, 1);
    EXPECT_EQ(rc_read_key(), KEY_BLUE);
    EXPECT_EQ(rc_read_key(), -1);
    EXPECT_EQ(rc_read_key(), KEY_YELLOW);
    EXPECT_EQ(rc_ev.value, 1);
    EXPECT_EQ(sim::input_pending(1), 1u) << "YELLOW's report record waits for the next call";
}

}  // namespace
