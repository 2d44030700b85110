// The converter on a small file of each format and encoding, and on damaged files as
// they come: the exact file it writes, which the player's loader must accept, the
// times the player's search finds there against the source's times, and the notes
// that say what was left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "conv/convert.h"
#include "sub/subtitles.h"
#include "tests/support/convert_samples.h"
#include "tests/support/converted_header.h"
#include "tests/support/store_support.h"

namespace {

using testsup::all_samples;
using testsup::bytes;
using testsup::Sample;
using testsup::samples;

class ConvertSamples : public testsup::StoreTest {};

TEST_F(ConvertSamples, ExactOutputLoadsWithSourceTimes) {
    for (const Sample& s : all_samples()) {
        SCOPED_TRACE(s.name);
        ASSERT_FALSE(s.input.empty() || s.expected.empty()) << "sample file missing";
        conv::ConvertOptions options;
        options.source_name = s.name;
        std::string output;
        conv::ConvertReport report;
        ASSERT_EQ(conv::convert_subtitles(bytes(s.input), options, output, report),
                  conv::kConvertOk)
            << report.error;
        EXPECT_EQ(report.format, s.format);
        EXPECT_EQ(report.encoding, s.encoding);
        EXPECT_EQ(output, "[KTF2: " + std::to_string(s.source.size()) + " 0 converted from " +
                              s.name + testsup::checksum_part(s.expected) + "]\n" + s.expected);
        EXPECT_EQ(report.cues_written, static_cast<int>(s.source.size()));
        for (const std::string& note : s.notes)
            EXPECT_NE(std::find(report.notes.begin(), report.notes.end(), note), report.notes.end())
                << note;

        ASSERT_TRUE(install(s.name + ".tkx", output)) << "loader error " << sub_error;
        ASSERT_EQ(subtitle_count, static_cast<int32_t>(s.source.size()));
        for (size_t i = 0; i < s.source.size(); ++i) {
            SCOPED_TRACE(i);
            const subtitle& t = subtitles_owner[i];
            EXPECT_LE(std::abs(static_cast<int64_t>(t.start_ms) - s.source[i].start), s.tolerance);
            EXPECT_LE(std::abs(static_cast<int64_t>(t.end_ms) - s.source[i].end), s.tolerance);
            uint32_t middle = (s.source[i].start + s.source[i].end) / 2;
            EXPECT_EQ(sub_find(middle, -1), static_cast<int32_t>(i));
        }
    }
}

TEST_F(ConvertSamples, ReportCountsWhatHappened) {
    const auto all = samples();
    auto report_of = [&](std::string_view name) {
        for (const Sample& s : all) {
            if (s.name != name) continue;
            std::string output;
            conv::ConvertReport report;
            conv::convert_subtitles(bytes(s.input), {}, output, report);
            return report;
        }
        return conv::ConvertReport{};
    };
    conv::ConvertReport overlap = report_of("overlap.srt");
    EXPECT_EQ(overlap.cues_read, 3);
    EXPECT_EQ(overlap.cues_split, 1);   // "First" in three pieces
    EXPECT_EQ(overlap.cues_merged, 1);  // the piece showing both
    EXPECT_EQ(overlap.cues_dropped, 0);

    conv::ConvertReport five = report_of("five.srt");
    EXPECT_EQ(five.cues_read, 4);
    EXPECT_EQ(five.cues_dropped, 2);  // the empty cue and the duplicate
    EXPECT_EQ(five.cues_skipped, 0);
    std::string notes;
    for (const std::string& n : five.notes) notes += n + "\n";
    EXPECT_NE(notes.find("1 subtitle wrapped wider than 40 characters or joined to fit in four "
                         "lines"),
              std::string::npos)
        << notes;
    EXPECT_NE(notes.find("1 empty subtitle dropped"), std::string::npos) << notes;
    EXPECT_NE(notes.find("1 duplicate dropped"), std::string::npos) << notes;
}

}  // namespace
