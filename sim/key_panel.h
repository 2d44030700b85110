// The key panel beside the simulator's picture: which keyboard key stands for which
// remote-control key. Its width comes from its widest row measured with the font it is
// drawn in, at each scale; on a screen too narrow for that, descriptions wrap onto
// further lines instead of being cut. Needs only FreeType, so its layout can be checked
// without a window.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/options.h"
#include "sim/picture.h"

namespace sim {

// One line of text where the panel draws it.
struct panel_line {
    std::string text;
    uint32_t colour = 0;
    int x = 0, baseline = 0;  // pen start and baseline, pixels in the panel
    int width = 0;            // from x to the pen's end or the ink's right edge, the further
    bool continued = false;   // goes on with the text of the line before, wrapped there
};

// The colour square before a colour key's name.
struct panel_swatch {
    int x = 0, y = 0, width = 0, height = 0;
    uint32_t colour = 0;
};

struct panel_layout {
    int scale = 1;
    int width = 0, height = 0;    // the panel, pixels
    int margin = 0;               // kept free at its left and right edges, pixels
    int ascent = 0, descent = 0;  // the font's reach above and below a baseline, pixels
    std::vector<panel_line> lines;
    std::vector<panel_swatch> swatches;
    bool wrapped = false;     // some text went onto a further line
    bool compressed = false;  // lines were moved closer to fit the panel's height
};

class key_panel {
  public:
    key_panel();
    ~key_panel();
    key_panel(const key_panel&) = delete;
    key_panel& operator=(const key_panel&) = delete;

    // Opens the panel's font: DejaVu Sans of the system, else its condensed cut, else
    // box_font (the box's own font, a host path). False when none opens.
    bool open(const std::string& box_font);
    // Opens the first of these font files that opens. False when none does.
    bool open_first(std::span<const std::string> paths);
    void close();
    bool has_font() const;

    // Width at scale f (1 to kMaxScale) with no text wrapped; 0 without a font.
    int natural_width(int f);
    // The least width at scale f: each text then takes at most two lines.
    int least_width(int f);
    // The width for `room` pixels at scale f: room, but no more than the natural
    // width and no less than the least.
    int width_for(int f, int room);

    // Where everything goes on a panel `width` pixels wide (no less than the least
    // width) and as high as the picture at scale f; last_key is what the bottom line
    // says was sent last ("" = that line is left out).
    panel_layout layout(int f, int width, std::string_view last_key);
    // The panel drawn as laid out.
    void draw(const panel_layout& l, picture& out);

  private:
    struct fonts;
    struct widths {
        int natural = 0, least = 0;
    };
    std::unique_ptr<fonts> ft_;
    std::array<widths, kMaxScale + 1> widths_{};  // by scale; 0 = not measured yet

    void set_scale(int f);
    int text_width(std::string_view text);
    const widths& measured(int f);
};

}  // namespace sim
