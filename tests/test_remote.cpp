// Finding the remote control and turning its records into single key presses.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <string>

#include "rc/remote.h"
#include "sim/model.h"
#include "tests/support/support.h"

namespace {

class Remote : public ::testing::Test {
  protected:
    void SetUp() override { sim::reset(); }
    void TearDown() override {
        rc_deinit();
        sim::reset();
    }
    static std::string init_output(int& result) {
        return testsup::capture_output([&] { result = rc_init(); });
    }
};

TEST_F(Remote, SearchStopsAtTheFirstMissingNumber) {
    sim::add_input({"front panel keys"});
    sim::add_input({"dreambox remote control"});
    int r = 0;
    std::string out = init_output(r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(out, "");
    EXPECT_FALSE(sim::input_open(0)) << "a device whose name doesn't match is closed";
    EXPECT_TRUE(sim::input_open(1));
    EXPECT_NE(rc_fd[0], -1);
    EXPECT_EQ(rc_fd[1], -1);
}

TEST_F(Remote, NoDevicesAtAllFails) {
    int r = 1;
    std::string out = init_output(r);
    EXPECT_EQ(r, 0);
    EXPECT_NE(out.find("rc_init: No RC?"), std::string::npos) << out;
}

TEST_F(Remote, NoMatchingNameFails) {
    sim::add_input({"keyboard"});
    sim::add_input({"Remote Control"});  // the test is case-sensitive
    int r = 1;
    std::string out = init_output(r);
    EXPECT_EQ(r, 0);
    EXPECT_NE(out.find("rc_init: No RC?"), std::string::npos) << out;
    EXPECT_EQ(sim::open_descriptors(), 0);
}

TEST_F(Remote, AtMostTwoDevicesAreKept) {
    sim::add_input({"a remote control"});
    sim::add_input({"b remote control"});
    sim::add_input({"c remote control"});
    int r = 0;
    init_output(r);
    EXPECT_EQ(r, 1);
    EXPECT_TRUE(sim::input_open(0));
    EXPECT_TRUE(sim::input_open(1));
    EXPECT_FALSE(sim::input_open(2));
}

TEST_F(Remote, DeviceThatCannotBeOpenedEndsTheSearchWithFailure) {
    sim::add_input({"a remote control"});
    sim::input_config locked{"b remote control"};
    locked.fail_open = true;
    sim::add_input(locked);
    int r = 1;
    std::string out = init_output(r);
    EXPECT_EQ(r, 0) << "a device that can't be opened fails rc_init even after a match";
    EXPECT_NE(out.find("rc_init: open"), std::string::npos) << out;
}

TEST_F(Remote, FailedNameRequestReportsAndSkipsTheDevice) {
    sim::input_config nameless{"x remote control"};
    nameless.fail_name = true;
    sim::add_input(nameless);
    sim::add_input({"y remote control"});
    int r = 0;
    std::string out = init_output(r);
    EXPECT_EQ(r, 1);
    EXPECT_NE(out.find("rc_init: EVIOCGNAME"), std::string::npos) << out;
    EXPECT_FALSE(sim::input_open(0));
    EXPECT_TRUE(sim::input_open(1));
}

TEST_F(Remote, NameLongerThanTheBufferIsCutNotOverrun) {
    // The match lies beyond the 127 characters that fit.
    sim::add_input({std::string(140, 'x') + " remote control"});
    sim::add_input({std::string(100, 'y') + " remote control"});
    int r = 0;
    init_output(r);
    EXPECT_EQ(r, 1);
    EXPECT_FALSE(sim::input_open(0));
    EXPECT_TRUE(sim::input_open(1));
}

class Keys : public Remote {
  protected:
    void SetUp() override {
        Remote::SetUp();
        sim::add_input({"a remote control"});
        sim::add_input({"b remote control"});
        ASSERT_EQ(rc_init(), 1);
    }
};

TEST_F(Keys, NothingPendingGivesMinusOne) {
    EXPECT_EQ(rc_read_key(), -1);
}

TEST_F(Keys, FirstOkIsIgnoredUntilAKeyWasReleased) {
    // Records of other types with value 0 are no release.
    sim::push_event(0, EV_SYN, SYN_REPORT, 0);
    sim::push_event(0, EV_MSC, MSC_SCAN, 0);
    testsup::key(KEY_OK, 1);
    for (int calls = 0; sim::input_pending(0) > 0 && calls < 10; ++calls) {
        EXPECT_EQ(rc_read_key(), -1) << "call " << calls;
    }
    testsup::key(KEY_OK, 0);
    EXPECT_EQ(rc_read_key(), -1);
    testsup::key(KEY_OK, 1);
    EXPECT_EQ(rc_read_key(), KEY_OK);
}

TEST_F(Keys, HeldKeyIsReportedOnce) {
    testsup::key(KEY_RED, 1);
    testsup::key(KEY_RED, 2);
    testsup::key(KEY_RED, 2);
    testsup::key(KEY_RED, 0);
    testsup::key(KEY_RED, 1);
    EXPECT_EQ(rc_read_key(), KEY_RED);
    EXPECT_EQ(rc_read_key(), -1);
    EXPECT_EQ(rc_read_key(), -1);
    EXPECT_EQ(rc_read_key(), -1);  // the release
    EXPECT_EQ(rc_read_key(), KEY_RED) << "after a release the same key counts again";
    EXPECT_EQ(rc_read_key(), -1);
}

TEST_F(Keys, ReportRecordsBetweenRepeatsLeaveAHeldKeyOnePress) {
    // As the kernel sends a held key: a scan code before the press, and a report record
    // after every key record (value 1 after an auto-repeat).
    sim::push_event(0, EV_MSC, MSC_SCAN, 0x70052);
    testsup::key(KEY_UP, 1);
    ASSERT_EQ(sim::input_pending(0), 3u) << "the key record is followed by its report";
    for (int i = 0; i < 3; ++i) testsup::key(KEY_UP, 2);
    sim::push_event(0, EV_MSC, MSC_SCAN, 0);
    testsup::key(KEY_UP, 2);
    EXPECT_EQ(rc_read_key(), KEY_UP);
    for (int calls = 0; sim::input_pending(0) > 0 && calls < 20; ++calls) {
        EXPECT_EQ(rc_read_key(), -1) << "call " << calls;
    }
    EXPECT_EQ(sim::input_pending(0), 0u);
    testsup::key(KEY_UP, 0);
    testsup::key(KEY_UP, 1);
    EXPECT_EQ(rc_read_key(), -1);
    EXPECT_EQ(rc_read_key(), KEY_UP) << "after a release the same key counts again";
}

TEST_F(Keys, AnotherKeyWhileHeldThenRepeatsOfTheFirst) {
    testsup::key(KEY_LEFT, 1);
    testsup::key(KEY_RIGHT, 1);
    testsup::key(KEY_LEFT, 2);
    EXPECT_EQ(rc_read_key(), KEY_LEFT);
    EXPECT_EQ(rc_read_key(), KEY_RIGHT);
    EXPECT_EQ(rc_read_key(), KEY_LEFT);
}

TEST_F(Keys, SecondDeviceIsReadOnlyWhenTheFirstHasNothing) {
    testsup::key(KEY_1, 1, 1);
    testsup::key(KEY_2, 1, 0);
    testsup::key(KEY_3, 1, 0);
    EXPECT_EQ(rc_read_key(), KEY_2);
    EXPECT_EQ(rc_read_key(), KEY_3);
    EXPECT_EQ(rc_read_key(), KEY_1);
    EXPECT_EQ(rc_read_key(), -1);
}

TEST_F(Keys, OneKeyRecordPerCall) {
    testsup::press(KEY_BLUE);
    testsup::press(KEY_GREEN);
    EXPECT_EQ(sim::input_pending_keys(0), 4u);
    EXPECT_EQ(rc_read_key(), KEY_BLUE);
    EXPECT_EQ(sim::input_pending_keys(0), 3u);
    EXPECT_EQ(rc_read_key(), -1);
    EXPECT_EQ(sim::input_pending_keys(0), 2u)
        << "the report record before the release is read past";
}

TEST_F(Keys, DeinitDrainsAndClosesBoth) {
    testsup::press(KEY_BLUE);
    testsup::press(KEY_GREEN, 1);
    rc_deinit();
    EXPECT_EQ(rc_fd[0], -1);
    EXPECT_EQ(rc_fd[1], -1);
    EXPECT_FALSE(sim::input_open(0));
    EXPECT_FALSE(sim::input_open(1));
    EXPECT_EQ(sim::open_descriptors(), 0);
}

TEST_F(Remote, ShortReadsAndErrorsAreNoKey) {
    sim::input_config shorty{"a remote control"};
    shorty.short_reads = true;
    sim::add_input(shorty);
    sim::input_config broken{"b remote control"};
    broken.read_errors = true;
    sim::add_input(broken);
    ASSERT_EQ(rc_init(), 1);
    testsup::key(KEY_RED, 1, 0);
    testsup::key(KEY_RED, 1, 1);
    EXPECT_EQ(rc_read_key(), -1);
    EXPECT_EQ(rc_read_key(), -1);
}

}  // namespace
