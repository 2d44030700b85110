// The simulator's command line.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace sim {

struct options {
    std::string root;       // box root directory; "" = the bundled demo root
    std::string keys;       // key script file; "-" = standard input; "" = none
    bool headless = false;  // no window
    uint32_t mode_width = 1280, mode_height = 720;  // the driver's starting mode
    int remotes = 1;                                // simulated remote-control devices
    double timeout = 0;        // seconds until the run is stopped with status 124; 0 = never
    std::string snapshot;      // framebuffer file written at shut-down; "" = none
    std::string background;    // television picture file; "" = the built-in test picture
    int scale = 0;             // window scale factor; 0 = the largest that fits the screen
    bool no_fb = false;        // no framebuffer device at all
    bool video = false;        // a video decoder whose film plays from the start
    uint32_t pages = 1;        // pages the framebuffer driver lays out (virtual height)
    uint32_t shown_page = 0;   // the page it shows at start
    bool manual_blit = false;  // the driver shows only what FBIO_BLIT put on screen
    std::string driver_state;  // file for the driver's state after the end; "" = none
    int web_port = -1;         // the web page's port on 127.0.0.1 (0: a free one); -1 = none
    bool help = false;         // print the usage and exit
    bool version = false;      // print the version and exit
};

constexpr int kMaxRemotes = 8;
constexpr int kMaxScale = 8;
constexpr uint32_t kMaxModeSide = 4096;
constexpr uint32_t kMaxPages = 4;

// Parses the arguments after the program name with getopt_long ("--opt VALUE",
// "--opt=VALUE", or an unambiguous start of the option's name). False with a
// one-line reason in err.
bool parse_options(std::span<const char* const> args, options& out, std::string& err);

// The --help text.
std::string_view usage();

}  // namespace sim
