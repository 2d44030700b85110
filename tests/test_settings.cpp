// The settings file: what is taken from it, when it is written, and that a write
// interrupted at any moment leaves either the old or the new record.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "app/settings.h"
#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "sim/model.h"
#include "tests/support/support.h"

namespace {

constexpr const char* kConf = "/var/tuxbox/Tresk/tresk.conf";

std::string record(std::array<uint8_t, 4> bytes, int32_t position, int32_t bottom, int32_t top) {
    std::string s(16, '\0');
    std::memcpy(s.data(), bytes.data(), 4);
    std::memcpy(s.data() + 4, &position, 4);
    std::memcpy(s.data() + 8, &bottom, 4);
    std::memcpy(s.data() + 12, &top, 4);
    return s;
}

class Settings : public ::testing::Test {
  protected:
    testsup::box_root root{""};
    void SetUp() override {
        sim::reset();
        sim::set_root(root.path());
        // As at program start, also when cases share a process.
        saved_settings = stored_settings{1, 0, 0, 0, 0, 0, 0};
        zoom = 1;
        background_level = 1;
        palette_index = 0;
        palette = palettes[0].data();
        colour_scheme = 0;
        bottom_shift = 0;
        top_shift = 0;
    }
};

TEST_F(Settings, WithoutAFileTheDefaultsHoldAndTheFirstExitWritesThem) {
    app_read_settings();
    EXPECT_EQ(zoom, 1);
    EXPECT_EQ(background_level, 1);
    EXPECT_EQ(palette_index, 0);
    EXPECT_EQ(colour_scheme, 0);
    EXPECT_EQ(saved_settings.position, 0);
    EXPECT_FALSE(root.exists(kConf));
    app_save_settings(0);
    // The record starts with transparency 0, the level in force is 1: so it is written.
    EXPECT_EQ(root.read(kConf), record({1, 1, 0, 0}, 0, 0, 0));
}

TEST_F(Settings, NothingWrittenWhenTransparencyZeroMatchesTheInitialRecord) {
    app_read_settings();
    background_level = 0;
    app_save_settings(0);
    EXPECT_FALSE(root.exists(kConf));
}

TEST_F(Settings, ValuesAreTakenAndNothingIsWrittenWhenUnchanged) {
    root.write(kConf, record({5, 2, 1, 3}, 57, 5 * 2880, 10 * 2880));
    app_read_settings();
    EXPECT_EQ(zoom, 5);
    EXPECT_EQ(background_level, 2);
    EXPECT_EQ(palette_index, 1);
    EXPECT_EQ(palette.load(), palettes[1].data());
    EXPECT_EQ(colour_scheme, 3);
    EXPECT_EQ(saved_settings.position, 57);
    EXPECT_EQ(bottom_shift, 5 * 2880);
    EXPECT_EQ(top_shift, 10 * 2880);
    // Replace the file behind the player's back: an unneeded write would overwrite it.
    root.write(kConf, "sentinel");
    app_save_settings(57);
    EXPECT_EQ(root.read(kConf), "sentinel");
}

TEST_F(Settings, OutOfRangeBytesFallBackFieldByField) {
    root.write(kConf, record({9, 3, 3, 4}, 0, 0, 0));
    app_read_settings();
    EXPECT_EQ(zoom, 1);
    EXPECT_EQ(background_level, 1);
    EXPECT_EQ(palette_index, 1) << "the palette byte keeps only bit 0";
    EXPECT_EQ(colour_scheme, 0);
    root.write(kConf, record({0xff, 0x80, 0xfe, 0xff}, 0, 0, 0));
    app_read_settings();
    EXPECT_EQ(zoom, 1) << "bytes are tested as unsigned";
    EXPECT_EQ(background_level, 1);
    EXPECT_EQ(palette_index, 0);
    EXPECT_EQ(colour_scheme, 0);
}

TEST_F(Settings, ShortFileTakesNothingNotEvenThePosition) {
    root.write(kConf, record({3, 2, 1, 2}, 40, 0, 0).substr(0, 15));
    app_read_settings();
    EXPECT_EQ(zoom, 1);
    EXPECT_EQ(background_level, 1);
    EXPECT_EQ(palette_index, 0);
    EXPECT_EQ(colour_scheme, 0);
    EXPECT_EQ(saved_settings.position, 0);
}

TEST_F(Settings, PositionAndChangedValuesAreStored) {
    root.write(kConf, record({1, 1, 0, 0}, 57, 0, 0));
    app_read_settings();
    zoom = 7;
    colour_scheme = 2;
    top_shift = 15 * 2880;
    app_save_settings(0);
    EXPECT_EQ(root.read(kConf), record({7, 1, 0, 2}, 0, 0, 15 * 2880));
    app_save_settings(123);
    EXPECT_EQ(root.read(kConf), record({7, 1, 0, 2}, 123, 0, 15 * 2880));
}

TEST_F(Settings, FailedWriteLeavesTheOldFileAndSaysNothing) {
    root.write(kConf, record({1, 1, 0, 0}, 9, 0, 0));
    app_read_settings();
    // A directory where the new record would go makes the write fail.
    std::filesystem::create_directory(root.host(std::string(kConf) + ".new"));
    std::string out = testsup::capture_output([] { app_save_settings(0); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(root.read(kConf), record({1, 1, 0, 0}, 9, 0, 0));
}

TEST_F(Settings, MissingDirectoryIsSilent) {
    testsup::box_root bare{""};
    sim::set_root(bare.path() + "/nowhere");
    app_read_settings();
    std::string out = testsup::capture_output([] { app_save_settings(5); });
    EXPECT_EQ(out, "");
}

// Kills a writer at random moments: the file must always hold one whole record.
TEST_F(Settings, KilledWriterLeavesTheOldOrTheNewRecord) {
    const std::string a = record({1, 1, 0, 0}, 1111, 0, 0);
    const std::string b = record({7, 2, 1, 3}, 2222, 5 * 2880, 0);
    root.write(kConf, a);
    std::mt19937 rng(12345);
    int seen_a = 0, seen_b = 0;
    for (int round = 0; round < 100; ++round) {
        int saves[2];
        ASSERT_EQ(::pipe(saves), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(saves[0]);
            // Alternate the two records as fast as possible until killed, telling the
            // parent of every finished save.
            for (int i = 0;; ++i) {
                app_read_settings();
                bool to_b = saved_settings.position == 1111;
                zoom = to_b ? 7 : 1;
                background_level = to_b ? 2 : 1;
                palette_index = to_b ? 1 : 0;
                colour_scheme = to_b ? 3 : 0;
                bottom_shift = to_b ? 5 * 2880 : 0;
                top_shift = 0;
                app_save_settings(to_b ? 2222 : 1111);
                char done = 1;
                if (::write(saves[1], &done, 1) != 1) ::_exit(0);
            }
        }
        ::close(saves[1]);
        // Wait for a random number of finished saves, so both records are reached on a
        // slow machine (or under an emulator) too, then kill after a random moment more.
        for (int wanted = 1 + static_cast<int>(rng() % 3); wanted > 0; --wanted) {
            char done;
            ASSERT_EQ(::read(saves[0], &done, 1), 1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(saves[0]);
        std::string now = root.read(kConf);
        ASSERT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " bytes";
        (now == a ? seen_a : seen_b)++;
    }
    // Both records were seen, so the kills landed all through the alternation.
    EXPECT_GT(seen_a, 0);
    EXPECT_GT(seen_b, 0);
}

}  // namespace
