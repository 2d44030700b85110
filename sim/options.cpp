// Parsing of the simulator's command line.
#include "sim/options.h"

#include <charconv>
#include <cmath>

namespace {

constexpr std::string_view kUsage =
    "Usage: lumetra-sim [OPTION]...\n"
    "Runs the Lumetra subtitle player on a simulated set-top box.\n"
    "\n"
    "  --root DIR         the box's file system: /var/tuxbox/Tresk/... is DIR/var/tuxbox/...\n"
    "                     (default: the demo root bundled with the sources)\n"
    "  --keys FILE        play a key script; - reads it from standard input\n"
    "  --headless         no window\n"
    "  --mode WxH         the mode the framebuffer driver starts in (default 1280x720)\n"
    "  --pages N          the driver lays out N pages, 1 to 4, for double-buffered menus\n"
    "                     (default 1)\n"
    "  --shown-page N     the page it shows at start, counted from 0 (default 0)\n"
    "  --manual-blit      the driver is in manual-blit mode: the screen shows only what\n"
    "                     the player blitted (FBIO_BLIT)\n"
    "  --driver-state FILE\n"
    "                     write the driver's mode, page and request counts after the end\n"
    "  --remotes N        simulated remote controls, 0 to 8 (default 1)\n"
    "  --timeout S        stop after S seconds with exit status 124\n"
    "  --snapshot FILE    write the framebuffer as the player shuts down\n"
    "                     (.png: what the viewer sees; other names: the raw memory)\n"
    "  --background FILE  the television picture behind the display, PNG or JPEG\n"
    "                     (default: a built-in test picture)\n"
    "  --scale N          window scale, 1 to 8 (default: the largest that fits the screen)\n"
    "  --no-fb            no framebuffer device\n"
    "  --video            a video decoder whose film the subtitle clock follows\n"
    "  --help             this text\n"
    "\n"
    "Key script, one command a line, # starts a comment:\n"
    "  wait MS, press KEY, down KEY, repeat KEY, up KEY, raw TYPE CODE VALUE,\n"
    "  snap FILE (the framebuffer), compose FILE (the picture the window shows, PNG)\n"
    "  video play, video pause, video seek +S or -S, video wrap (the film, with --video)\n"
    "KEY: OK EXIT UP DOWN LEFT RIGHT RED GREEN YELLOW BLUE HELP MENU TV VIDEO VOLUMEUP\n"
    "  VOLUMEDOWN CHANNELUP CHANNELDOWN 0..9, or a Linux key code (two or more digits)\n"
    "\n"
    "Exit status: the player's own; 124 after --timeout; 2 for a bad option or script.\n";

bool parse_uint(std::string_view s, uint32_t& out);
bool parse_mode(std::string_view s, uint32_t& w, uint32_t& h);
bool parse_seconds(std::string_view s, double& out);

}  // namespace

namespace sim {

bool parse_options(std::span<const char* const> args, options& out, std::string& err) {
    options o;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i] != nullptr ? args[i] : "";
        std::string_view name = arg, value;
        bool inline_value = false;
        if (arg.starts_with("--")) {
            size_t eq = arg.find('=');
            if (eq != std::string_view::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
                inline_value = true;
            }
        } else if (arg != "-h") {
            err = "unexpected argument '" + std::string(arg) + "'";
            return false;
        }
        auto flag = [&](bool& f) {
            if (inline_value) {
                err = "option '" + std::string(name) + "' takes no value";
                return false;
            }
            f = true;
            return true;
        };
        // The option's value: after "=" or the next argument.
        auto take = [&](std::string& v) {
            if (!inline_value) {
                if (i + 1 >= args.size() || args[i + 1] == nullptr) {
                    err = "option '" + std::string(name) + "' needs a value";
                    return false;
                }
                value = args[++i];
            }
            if (value.empty()) {
                err = "option '" + std::string(name) + "' needs a value";
                return false;
            }
            v = std::string(value);
            return true;
        };
        std::string v;
        if (name == "--help" || name == "-h") {
            if (!flag(o.help)) return false;
        } else if (name == "--headless") {
            if (!flag(o.headless)) return false;
        } else if (name == "--no-fb") {
            if (!flag(o.no_fb)) return false;
        } else if (name == "--video") {
            if (!flag(o.video)) return false;
        } else if (name == "--manual-blit") {
            if (!flag(o.manual_blit)) return false;
        } else if (name == "--driver-state") {
            if (!take(o.driver_state)) return false;
        } else if (name == "--pages" || name == "--shown-page") {
            if (!take(v)) return false;
            uint32_t n = 0;
            const bool pages = name == "--pages";
            if (!parse_uint(v, n) || (pages && (n < 1 || n > kMaxPages)) ||
                (!pages && n >= kMaxPages)) {
                err = std::string(name) + ": bad number '" + v + "' (" +
                      (pages ? "1 to " + std::to_string(kMaxPages)
                             : "0 to " + std::to_string(kMaxPages - 1)) +
                      ")";
                return false;
            }
            (pages ? o.pages : o.shown_page) = n;
        } else if (name == "--root") {
            if (!take(o.root)) return false;
        } else if (name == "--keys") {
            if (!take(o.keys)) return false;
        } else if (name == "--snapshot") {
            if (!take(o.snapshot)) return false;
        } else if (name == "--background") {
            if (!take(o.background)) return false;
        } else if (name == "--mode") {
            if (!take(v)) return false;
            if (!parse_mode(v, o.mode_width, o.mode_height)) {
                err = "--mode: bad mode '" + v + "' (WIDTHxHEIGHT, each 1 to " +
                      std::to_string(kMaxModeSide) + ")";
                return false;
            }
        } else if (name == "--remotes") {
            if (!take(v)) return false;
            uint32_t n = 0;
            if (!parse_uint(v, n) || n > kMaxRemotes) {
                err =
                    "--remotes: bad number '" + v + "' (0 to " + std::to_string(kMaxRemotes) + ")";
                return false;
            }
            o.remotes = static_cast<int>(n);
        } else if (name == "--timeout") {
            if (!take(v)) return false;
            if (!parse_seconds(v, o.timeout)) {
                err = "--timeout: bad time '" + v + "' (seconds, more than 0)";
                return false;
            }
        } else if (name == "--scale") {
            if (!take(v)) return false;
            uint32_t n = 0;
            if (!parse_uint(v, n) || n < 1 || n > kMaxScale) {
                err = "--scale: bad factor '" + v + "' (1 to " + std::to_string(kMaxScale) + ")";
                return false;
            }
            o.scale = static_cast<int>(n);
        } else {
            err = "unknown option '" + std::string(name) + "'";
            return false;
        }
    }
    if (o.shown_page >= o.pages) {
        err = "--shown-page: page " + std::to_string(o.shown_page) + " needs --pages " +
              std::to_string(o.shown_page + 1) + " or more";
        return false;
    }
    out = std::move(o);
    return true;
}

std::string_view usage() {
    return kUsage;
}

}  // namespace sim

namespace {

bool parse_uint(std::string_view s, uint32_t& out) {
    if (s.empty()) return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc{} && end == s.data() + s.size();
}

bool parse_mode(std::string_view s, uint32_t& w, uint32_t& h) {
    size_t x = s.find_first_of("xX");
    if (x == std::string_view::npos) return false;
    return parse_uint(s.substr(0, x), w) && parse_uint(s.substr(x + 1), h) && w >= 1 && h >= 1 &&
           w <= sim::kMaxModeSide && h <= sim::kMaxModeSide;
}

bool parse_seconds(std::string_view s, double& out) {
    if (s.empty()) return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc{} && end == s.data() + s.size() && std::isfinite(out) && out > 0 &&
           out <= 1e6;
}

}  // namespace
