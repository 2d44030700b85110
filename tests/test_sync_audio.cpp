// lumetra-convert --sync-to FILM: a subtitle file distorted by an offset, a frame-rate
// ratio or an advertising break, aligned back onto the speech of a film made here with
// espeak-ng and FFmpeg, also under music and noise and from a 5.1 film's centre
// channel; and films that give no reference refused with a clear line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/sim_support.h"
#include "tests/support/speech_film.h"
#include "tests/support/sync_samples.h"

namespace fs = std::filesystem;

namespace {

using Result = simtest::run_result;

Result convert(const std::vector<std::string>& args) {
    return simtest::run_convert(args, 120000);
}

void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// MPEG audio layer II encodes several times faster than AAC: the benchmark's films
// have AAC, as most films do.
const std::string kQuickCodec = "mp2 -b:a 64k";

// Why a speech film cannot be made and used here, or empty.
std::string why_skip() {
    if (!LUMETRA_HAVE_FFMPEG) return "lumetra-convert was built without FFmpeg's libraries";
    const std::string missing = testsup::speech_film_tools_missing();
    return missing.empty() ? "" : "no " + missing + " to make a speech film with";
}

// Thousandths of the copy's cues that the converted file at path starts within
// tolerance_ms of where they belong.
int placed_permille(const testsup::Distorted& copy, const std::string& path, int64_t tolerance_ms) {
    return testsup::converted_placed_permille(copy, testsup::file_text(path), tolerance_ms);
}

// The film's second half 35 s later: the copy was cut from a recording with a break.
testsup::Distorted with_break(const std::vector<conv::TimeSpan>& film) {
    testsup::Distorted copy;
    for (size_t i = 0; i < film.size(); ++i) {
        const int64_t move = i < film.size() / 2 ? -2'500 : 32'500;
        copy.cues.push_back({film[i].start_ms + move, film[i].end_ms + move});
        copy.belongs.push_back(film[i].start_ms);
    }
    return copy;
}

TEST(SyncAudio, DistortedCopiesGoBackOntoTheSpeech) {
    if (const std::string why = why_skip(); !why.empty()) GTEST_SKIP() << why;
    simtest::scratch_dir dir;
    // About six minutes: enough cues for a stretch on each side of a break.
    const std::vector<conv::TimeSpan> film = testsup::film_times(100, 31);
    std::string why;
    ASSERT_TRUE(testsup::make_speech_film(dir.path(), film, "film.mkv", why, kQuickCodec)) << why;
    const struct {
        const char* name;
        testsup::Distorted copy;
        const char* summary;  // what the summary line says was applied
    } cases[] = {
        {"offset", testsup::distort(film, testsup::kDistortions[0], 32), ", ratio 1, 0 splits"},
        {"ratio", testsup::distort(film, testsup::kDistortions[3], 33),
         ", ratio 23.976/25, 0 splits"},
        {"break", with_break(film), ", ratio 1, 1 split (-32."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write(dir.file("film.srt"), testsup::subrip(c.copy.cues));
        const Result r = convert({"--sync-to", dir.file("film.mkv"), dir.file("film.srt")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("; aligned to " + dir.file("film.mkv") + ": offset "),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find(c.summary), std::string::npos) << r.err;
        // 200 ms, and the 40 ms frames round by up to 20 ms more.
        EXPECT_GE(placed_permille(c.copy, dir.file("film.tkx"), 220), 900) << r.err;
        fs::remove(dir.file("film.tkx"));
    }
}

// Every usual frame-rate ratio, the file slow and fast by it, aligned onto the speech
// of one short film: each as exact as the others (the near-1 ratios gain only a few
// percent over none on six minutes).
TEST(SyncAudio, EveryRatioBothWaysOntoTheSpeech) {
    if (const std::string why = why_skip(); !why.empty()) GTEST_SKIP() << why;
    simtest::scratch_dir dir;
    const std::vector<conv::TimeSpan> film = testsup::film_times(100, 31);
    std::string why;
    std::vector<conv::TimeSpan> speech;
    ASSERT_TRUE(testsup::make_speech_film(dir.path(), film, "film.mkv", why, kQuickCodec) &&
                testsup::detected_speech(dir.path(), "film.mkv", speech, why))
        << why;
    const struct {
        int64_t numerator, denominator;
        const char* undone_by;
    } ratios[] = {
        {960, 1001, "25/23.976"}, {1001, 960, "23.976/25"},  {24, 25, "25/24"},
        {25, 24, "24/25"},        {1001, 1000, "23.976/24"}, {1000, 1001, "24/23.976"},
    };
    int64_t offset = -1500;
    for (const auto& r : ratios) {
        SCOPED_TRACE(r.undone_by);
        const testsup::Distortion d{"", r.numerator, r.denominator, offset};
        offset += 1100;
        const testsup::Distorted copy = testsup::distort(film, d, 35);
        const conv::Alignment a = conv::align_spans(copy.cues, speech);
        EXPECT_TRUE(a.reliable) << conv::refusal_text(a);
        EXPECT_STREQ(a.ratio_name, r.undone_by) << conv::alignment_text(a);
        EXPECT_GE(testsup::accuracy_permille(copy, a, 100), 980) << conv::alignment_text(a);
    }
}

// Dialogue under held and pulsing music, under pink noise, and in a 5.1 film whose
// other channels carry music: an offset copy goes back onto the speech through
// lumetra-convert, which reads the 5.1 film's centre channel alone.
TEST(SyncAudio, SpeechUnderMusicAndNoiseAndOnTheCentre) {
    if (const std::string why = why_skip(); !why.empty()) GTEST_SKIP() << why;
    simtest::scratch_dir dir;
    using testsup::Background;
    const struct {
        const char* name;
        testsup::FilmSound sound;
        const char* heard;  // what the report says was listened to
    } cases[] = {
        {"music 16 dB under", {Background::kMusic, 16}, "(mono)"},
        {"chords pulsing 10 to 20 dB under", {Background::kPulsingMusic, 10}, "(mono)"},
        {"pink noise 10 dB under", {Background::kPinkNoise, 10}, "(mono)"},
        {"5.1, music 20 dB under on the other channels",
         {Background::kMusic, 20, true},
         "(the centre channel of 6)"},
        // Mixed down, the music of five channels would drown the dialogue.
        {"5.1, music as loud on the other channels",
         {Background::kMusic, 0, true},
         "(the centre channel of 6)"},
    };
    uint64_t seed = 61;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // About three minutes each.
        const std::vector<conv::TimeSpan> film = testsup::film_times(50, seed++);
        std::string why;
        ASSERT_TRUE(
            testsup::make_speech_film(dir.path(), film, "film.mkv", why, kQuickCodec, c.sound))
            << why;
        const testsup::Distorted copy = testsup::distort(film, testsup::kDistortions[0], seed++);
        write(dir.file("film.srt"), testsup::subrip(copy.cues));
        const Result r = convert({"--sync-to", dir.file("film.mkv"), dir.file("film.srt")});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find(", ratio 1, 0 splits"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(std::string("film.mkv: speech heard in sound stream 0 ") + c.heard),
                  std::string::npos)
            << r.err;
        EXPECT_GE(placed_permille(copy, dir.file("film.tkx"), 220), 900) << r.err;
        fs::remove(dir.file("film.tkx"));
    }
}

TEST(SyncAudio, FilmsWithoutAReferenceAreRefused) {
    if (const std::string why = why_skip(); !why.empty()) GTEST_SKIP() << why;
    simtest::scratch_dir dir;
    const std::vector<conv::TimeSpan> film = testsup::film_times(20, 41);
    write(dir.file("film.srt"), testsup::subrip(film));
    std::string why;
    // Noise and hum for a minute, nobody speaking.
    ASSERT_TRUE(testsup::make_speech_track(dir.path(), {}, 60'000, why)) << why;
    ASSERT_TRUE(testsup::mux_film(dir.path(), "quiet.mkv", 60'000, why, kQuickCodec)) << why;
    // A picture and no sound.
    ASSERT_EQ(std::system(("ffmpeg -nostdin -y -v error -f lavfi -i color=s=64x36:r=5 -t 20 "
                           "-c:v mpeg4 '" +
                           dir.file("silent.mkv") + "'")
                              .c_str()),
              0);
    std::string noise(100'000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>(i * 7919 % 251);
    write(dir.file("noise.bin"), noise);
    const struct {
        std::string reference;
        int status;
        std::string says;
    } cases[] = {
        // What was listened to, then the refusal.
        {dir.file("quiet.mkv"), 1,
         "lumetra-convert: " + dir.file("quiet.mkv") + ": speech heard in sound stream 0 (mono): "},
        {dir.file("silent.mkv"), 1,
         "lumetra-convert: " + dir.file("silent.mkv") +
             ": not a text file; as a film: it has no sound\n"},
        {dir.file("noise.bin"), 1,
         "lumetra-convert: " + dir.file("noise.bin") +
             ": not a text file; as a film: FFmpeg cannot read it: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reference);
        const Result r = convert({"--sync-to", c.reference, dir.file("film.srt")});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err.substr(0, c.says.size()), c.says);
        if (c.reference == dir.file("quiet.mkv")) {
            EXPECT_NE(
                r.err.find("\n" + dir.file("film.srt") + ": no reliable match: left as it was\n"),
                std::string::npos)
                << r.err;
        }
        EXPECT_FALSE(fs::exists(dir.file("film.tkx")));
    }
}

}  // namespace
