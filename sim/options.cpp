// Parsing of the simulator's command line.
#include "sim/options.h"

#include <getopt.h>

#include <array>
#include <charconv>
#include <cmath>
#include <vector>

#include "tools/getopt_refusal.h"

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
    "                     write the driver's mode, page and request counts at the end,\n"
    "                     signals and --timeout included\n"
    "  --remotes N        simulated remote controls, 0 to 8 (default 1)\n"
    "  --timeout S        stop after S seconds with exit status 124\n"
    "  --snapshot FILE    write the framebuffer as the player shuts down\n"
    "                     (.png: what the viewer sees; other names: the raw memory)\n"
    "  --background FILE  the television picture behind the display, PNG or JPEG\n"
    "                     (default: a built-in test picture)\n"
    "  --scale N          window scale, 1 to 8 (default: the largest that fits the screen)\n"
    "  --no-fb            no framebuffer device\n"
    "  --video            a video decoder whose film the subtitle clock follows\n"
    "  --web PORT         serve the box's web page on 127.0.0.1:PORT (0: a free port,\n"
    "                     logged as \"web: listening on 127.0.0.1:PORT\"); default: none\n"
    "  -h, --help         this text\n"
    "  --version          the simulator's version\n"
    "\n"
    "Key script, one command a line, # starts a comment:\n"
    "  wait MS, press KEY, down KEY, repeat KEY, up KEY, raw TYPE CODE VALUE,\n"
    "  snap FILE (the framebuffer), compose FILE (the picture the window shows, PNG)\n"
    "  video play, video pause, video seek +S or -S, video wrap (the film, with --video)\n"
    "KEY: OK EXIT UP DOWN LEFT RIGHT RED GREEN YELLOW BLUE HELP MENU TV VIDEO VOLUMEUP\n"
    "  VOLUMEDOWN CHANNELUP CHANNELDOWN 0..9, or a Linux key code (two or more digits)\n"
    "\n"
    "Exit status: the player's own; 124 after --timeout; 2 for a bad option or script.\n";

// The values getopt_long gives the options without a short form.
enum long_option : int {
    kRoot = 256,
    kKeys,
    kHeadless,
    kMode,
    kRemotes,
    kTimeout,
    kSnapshot,
    kBackground,
    kScale,
    kNoFb,
    kVideo,
    kVersion,
    kPages,
    kShownPage,
    kManualBlit,
    kDriverState,
    kWeb,
};

constexpr std::array<option, 19> kOptions{{
    {"root", required_argument, nullptr, kRoot},
    {"keys", required_argument, nullptr, kKeys},
    {"headless", no_argument, nullptr, kHeadless},
    {"mode", required_argument, nullptr, kMode},
    {"remotes", required_argument, nullptr, kRemotes},
    {"timeout", required_argument, nullptr, kTimeout},
    {"snapshot", required_argument, nullptr, kSnapshot},
    {"background", required_argument, nullptr, kBackground},
    {"scale", required_argument, nullptr, kScale},
    {"no-fb", no_argument, nullptr, kNoFb},
    {"video", no_argument, nullptr, kVideo},
    {"pages", required_argument, nullptr, kPages},
    {"shown-page", required_argument, nullptr, kShownPage},
    {"manual-blit", no_argument, nullptr, kManualBlit},
    {"driver-state", required_argument, nullptr, kDriverState},
    {"web", required_argument, nullptr, kWeb},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
}};
// ":" first: a missing value is told from an unknown option.
constexpr const char* kShortOptions = ":h";

const option* option_of(int code) {
    for (const option& o : kOptions) {
        if (o.name != nullptr && o.val == code) return &o;
    }
    return nullptr;
}

// The reason for an argument getopt_long refused.
std::string refused_option(int code, char** argv) {
    const tools::getopt_refusal r = tools::refused_by_getopt(code, argv, kOptions.data());
    const std::string quoted = "'" + r.option + "'";
    switch (r.kind) {
        case tools::getopt_refusal::kAmbiguous:
            return "ambiguous option " + quoted;
        case tools::getopt_refusal::kNeedsValue:
            return "option " + quoted + " needs a value";
        case tools::getopt_refusal::kTakesNoValue:
            return "option " + quoted + " takes no value";
        case tools::getopt_refusal::kUnknown:
            break;
    }
    return "unknown option " + quoted;
}

bool parse_uint(std::string_view s, uint32_t& out);
bool parse_mode(std::string_view s, uint32_t& w, uint32_t& h);
bool parse_seconds(std::string_view s, double& out);

}  // namespace

namespace sim {

bool parse_options(std::span<const char* const> args, options& out, std::string& err) {
    // getopt_long reorders the pointers it is given, never the strings: a copy of the
    // list, with a program name in front as it expects.
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>("lumetra-sim"));
    for (const char* a : args) argv.push_back(const_cast<char*>(a != nullptr ? a : ""));
    argv.push_back(nullptr);
    const int argc = static_cast<int>(argv.size() - 1);
    optind = 0;  // a fresh scan
    opterr = 0;  // the messages are the simulator's own
    options o;
    for (;;) {
        const int code = getopt_long(argc, argv.data(), kShortOptions, kOptions.data(), nullptr);
        if (code == -1) break;
        if (code == '?' || code == ':') {
            err = refused_option(code, argv.data());
            return false;
        }
        const option* named = option_of(code);
        const std::string name = "--" + std::string(named != nullptr ? named->name : "");
        const std::string v = optarg != nullptr ? optarg : "";
        if (named != nullptr && named->has_arg == required_argument && v.empty()) {
            err = "option '" + name + "' needs a value";
            return false;
        }
        switch (code) {
            case 'h':
                o.help = true;
                break;
            case kVersion:
                o.version = true;
                break;
            case kHeadless:
                o.headless = true;
                break;
            case kNoFb:
                o.no_fb = true;
                break;
            case kVideo:
                o.video = true;
                break;
            case kManualBlit:
                o.manual_blit = true;
                break;
            case kDriverState:
                o.driver_state = v;
                break;
            case kPages:
            case kShownPage: {
                uint32_t n = 0;
                const bool pages = code == kPages;
                if (!parse_uint(v, n) || (pages && (n < 1 || n > kMaxPages)) ||
                    (!pages && n >= kMaxPages)) {
                    err = name + ": bad number '" + v + "' (" +
                          (pages ? "1 to " + std::to_string(kMaxPages)
                                 : "0 to " + std::to_string(kMaxPages - 1)) +
                          ")";
                    return false;
                }
                (pages ? o.pages : o.shown_page) = n;
                break;
            }
            case kRoot:
                o.root = v;
                break;
            case kKeys:
                o.keys = v;
                break;
            case kSnapshot:
                o.snapshot = v;
                break;
            case kBackground:
                o.background = v;
                break;
            case kMode:
                if (!parse_mode(v, o.mode_width, o.mode_height)) {
                    err = "--mode: bad mode '" + v + "' (WIDTHxHEIGHT, each 1 to " +
                          std::to_string(kMaxModeSide) + ")";
                    return false;
                }
                break;
            case kWeb: {
                uint32_t n = 0;
                if (!parse_uint(v, n) || n > 65535) {
                    err = "--web: bad port '" + v + "' (0 to 65535)";
                    return false;
                }
                o.web_port = static_cast<int>(n);
                break;
            }
            case kRemotes: {
                uint32_t n = 0;
                if (!parse_uint(v, n) || n > kMaxRemotes) {
                    err = "--remotes: bad number '" + v + "' (0 to " + std::to_string(kMaxRemotes) +
                          ")";
                    return false;
                }
                o.remotes = static_cast<int>(n);
                break;
            }
            case kTimeout:
                if (!parse_seconds(v, o.timeout)) {
                    err = "--timeout: bad time '" + v + "' (seconds, more than 0)";
                    return false;
                }
                break;
            case kScale: {
                uint32_t n = 0;
                if (!parse_uint(v, n) || n < 1 || n > kMaxScale) {
                    err =
                        "--scale: bad factor '" + v + "' (1 to " + std::to_string(kMaxScale) + ")";
                    return false;
                }
                o.scale = static_cast<int>(n);
                break;
            }
            default:
                err = "unknown option '" + std::string(argv[optind - 1]) + "'";
                return false;
        }
    }
    if (optind < argc) {
        err = "unexpected argument '" + std::string(argv[optind]) + "'";
        return false;
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
