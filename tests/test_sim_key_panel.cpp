// The simulator's key panel laid out and drawn without a window: every text whole and
// inside the panel at every scale, at the width that wraps nothing and at the least one.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "sim/key_panel.h"
#include "sim/script.h"
#include "tests/support/support.h"

namespace {

constexpr uint32_t kBack = 0xff1c2026;

// The texts of a layout, the pieces of a wrapped one joined again, and how many lines
// each took.
std::map<std::string, int> texts_of(const sim::panel_layout& l) {
    std::map<std::string, int> out;
    std::string text;
    int lines = 0;
    auto flush = [&] {
        if (lines > 0) out[text] = std::max(out[text], lines);
    };
    for (const sim::panel_line& line : l.lines) {
        if (line.continued) {
            text += " " + line.text;
            ++lines;
        } else {
            flush();
            text = line.text;
            lines = 1;
        }
    }
    flush();
    return out;
}

// What is wrong with where the lines are: outside the panel or its margins, or on top
// of each other. "" when nothing.
std::string misplaced(const sim::panel_layout& l) {
    std::string why;
    for (size_t i = 0; i < l.lines.size(); ++i) {
        const sim::panel_line& a = l.lines[i];
        if (a.x < l.margin || a.x + a.width > l.width - l.margin) {
            why += "\"" + a.text + "\" spans " + std::to_string(a.x) + ".." +
                   std::to_string(a.x + a.width) + " of " + std::to_string(l.width) + "\n";
        }
        if (a.baseline - l.ascent < 0 || a.baseline + l.descent > l.height) {
            why += "\"" + a.text + "\" at baseline " + std::to_string(a.baseline) + " of " +
                   std::to_string(l.height) + "\n";
        }
        if (i == 0) continue;
        const sim::panel_line& b = l.lines[i - 1];
        bool same_line = a.baseline == b.baseline;
        if (same_line ? b.x + b.width > a.x : a.baseline - b.baseline < l.ascent + l.descent) {
            why += "\"" + b.text + "\" and \"" + a.text + "\" overlap\n";
        }
    }
    return why;
}

// The drawn panel against its layout: the ink in each line's band ends where the
// longest line on that baseline ends (so nothing was cut), none in the right margin.
std::string drawn_differently(const sim::panel_layout& l, const sim::picture& p) {
    std::map<int, int> ends;  // baseline -> where its last line ends
    for (const sim::panel_line& line : l.lines) {
        ends[line.baseline] = std::max(ends[line.baseline], line.x + line.width);
    }
    std::string why;
    for (auto [baseline, end] : ends) {
        int ink = -1;
        for (int y = std::max(0, baseline - l.ascent); y < baseline + l.descent; ++y) {
            for (int x = 0; x < static_cast<int>(p.width); ++x) {
                if (p.argb[size_t(y) * p.width + size_t(x)] != kBack) ink = std::max(ink, x);
            }
        }
        // The last column of ink is the measured end's, give or take a faint edge.
        if (ink >= end || ink < end - 2 * l.scale - 1) {
            why += "baseline " + std::to_string(baseline) + ": ink to " + std::to_string(ink) +
                   ", text to " + std::to_string(end) + "\n";
        }
    }
    for (uint32_t y = 0; y < p.height; ++y) {
        for (int x = l.width - l.margin; x < l.width; ++x) {
            if (p.argb[size_t(y) * p.width + size_t(x)] != kBack) {
                return why + "ink in the right margin at " + std::to_string(x) + ", " +
                       std::to_string(y) + "\n";
            }
        }
    }
    return why;
}

class KeyPanel : public ::testing::Test {
  protected:
    testsup::box_root root;
    sim::key_panel panel;
    void SetUp() override { ASSERT_TRUE(panel.open(root.host("/var/tuxbox/Tresk/Tresk.ttf"))); }
};

TEST_F(KeyPanel, EveryTextWholeAndInsideAtEveryScale) {
    for (int f = 1; f <= sim::kMaxScale; ++f) {
        SCOPED_TRACE("scale " + std::to_string(f));
        const int natural = panel.natural_width(f), least = panel.least_width(f);
        ASSERT_GT(least, 0);
        ASSERT_LT(least, natural) << "some description can go onto two lines";
        const sim::panel_layout wide = panel.layout(f, natural, "");
        EXPECT_EQ(wide.scale, f);
        EXPECT_EQ(wide.height, 576 * f);
        EXPECT_FALSE(wide.wrapped);
        EXPECT_FALSE(wide.compressed);
        EXPECT_EQ(misplaced(wide), "");
        // A pixel less and the widest text wraps.
        EXPECT_TRUE(panel.layout(f, natural - 1, "").wrapped);

        // From the natural width down to the least, the same texts, each on at most two lines.
        const std::map<std::string, int> whole = texts_of(wide);
        EXPECT_EQ(whole.count("film: seek \u221210\u00a0s, +10\u00a0s"), 1u);
        for (int width : {(natural + least) / 2, least}) {
            SCOPED_TRACE("width " + std::to_string(width));
            const sim::panel_layout narrow = panel.layout(f, width, "");
            EXPECT_TRUE(narrow.wrapped);
            EXPECT_EQ(misplaced(narrow), "");
            std::map<std::string, int> texts = texts_of(narrow);
            ASSERT_EQ(texts.size(), whole.size());
            for (const auto& [text, lines] : texts) {
                EXPECT_EQ(whole.count(text), 1u) << text;
                EXPECT_LE(lines, 2) << text;
            }
        }
    }
}

TEST_F(KeyPanel, DrawnTextEndsWhereMeasuredInsideThePanel) {
    for (int f : {1, 2, 3, 5}) {
        for (bool narrow : {false, true}) {
            SCOPED_TRACE("scale " + std::to_string(f) + (narrow ? ", least width" : ""));
            int width = narrow ? panel.least_width(f) : panel.natural_width(f);
            sim::panel_layout l = panel.layout(f, width, "CHANNELDOWN (held)");
            sim::picture p;
            panel.draw(l, p);
            ASSERT_EQ(p.width, static_cast<uint32_t>(width));
            ASSERT_EQ(p.height, 576u * f);
            EXPECT_EQ(drawn_differently(l, p), "");
        }
    }
}

TEST_F(KeyPanel, WhatWasSentLastFitsBesideTheRows) {
    // Every name the panel can show on its bottom line, held down the longest.
    std::vector<std::string> sent{"film \u221210\u00a0s", "film +10\u00a0s", "film pause",
                                  "film play"};
    for (uint16_t code = 0; code < 0x300; ++code) {
        if (!sim::key_name(code).empty())
            sent.push_back(std::string(sim::key_name(code)) + " (held)");
    }
    ASSERT_GT(sent.size(), 20u);
    for (int f : {1, 4, sim::kMaxScale}) {
        for (const std::string& key : sent) {
            sim::panel_layout wide = panel.layout(f, panel.natural_width(f), key);
            EXPECT_FALSE(wide.wrapped) << key << " at scale " << f;
            EXPECT_EQ(misplaced(wide), "") << key << " at scale " << f;
            ASSERT_TRUE(!wide.lines.empty() && wide.lines.back().text == key);
            EXPECT_EQ(misplaced(panel.layout(f, panel.least_width(f), key)), "")
                << key << " at scale " << f;
        }
    }
}

TEST_F(KeyPanel, WidthForTheRoomBesideThePicture) {
    const int least = panel.least_width(1), natural = panel.natural_width(1);
    const struct {
        int room, width;
    } cases[] = {
        {natural + 500, natural},
        {natural, natural},
        {natural - 1, natural - 1},
        {least + 1, least + 1},
        {least, least},
        {least - 1, least},
        {0, least},
        {-2000, least},
    };
    for (auto c : cases) EXPECT_EQ(panel.width_for(1, c.room), c.width) << c.room;
    // Scales out of range are taken as the nearest there is.
    EXPECT_EQ(panel.natural_width(0), natural);
    EXPECT_EQ(panel.natural_width(sim::kMaxScale + 5), panel.natural_width(sim::kMaxScale));
    EXPECT_GT(panel.natural_width(2), natural);
}

TEST(KeyPanelFonts, FilesThatAreNoFontArePassedOverAndWithoutOneThereIsNoPanel) {
    testsup::box_root root;
    root.write("/var/tuxbox/Tresk/broken.ttf", "not a font");
    const std::string broken = root.host("/var/tuxbox/Tresk/broken.ttf");
    sim::key_panel sans, condensed, none;
    ASSERT_TRUE(sans.open_first(std::vector<std::string>{testsup::dejavu_sans()}));
    ASSERT_TRUE(condensed.open_first(
        std::vector<std::string>{"", "/nonexistent.ttf", broken, testsup::dejavu_condensed()}));
    // The condensed cut was taken: its rows are narrower.
    EXPECT_LT(condensed.natural_width(1), sans.natural_width(1));
    EXPECT_GT(condensed.natural_width(1), 0);

    EXPECT_FALSE(none.open_first(std::vector<std::string>{"/nonexistent.ttf", broken}));
    EXPECT_FALSE(none.has_font());
    EXPECT_EQ(none.natural_width(1), 0);
    EXPECT_EQ(none.width_for(2, 400), 0);
    sim::panel_layout l = none.layout(1, 0, "OK");
    EXPECT_TRUE(l.lines.empty());
    sim::picture p;
    none.draw(l, p);
    EXPECT_EQ(p.width, 0u);
    // Closing forgets the font and what was measured with it.
    sans.close();
    EXPECT_FALSE(sans.has_font());
    EXPECT_EQ(sans.natural_width(1), 0);
}

}  // namespace
