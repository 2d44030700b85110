// lumetra-sim: the player on a simulated box. See sim/options.cpp for the command line.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>

#include "sim/frontend.h"
#include "sim/options.h"

#ifndef LUMETRA_VERSION
#define LUMETRA_VERSION "unknown"
#endif

namespace fs = std::filesystem;

namespace {

// The box font of the demo: DejaVu Sans Condensed, whose narrow face lets the player's
// fixed-width boxes hold their texts. It is linked in, not shipped.
constexpr const char* kDemoFont = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf";
constexpr const char* kBoxFont = "var/tuxbox/Tresk/Tresk.ttf";

std::string find_demo_root();
void provide_demo_font(const std::string& root);

}  // namespace

int main(int argc, char** argv) {
    sim::options o;
    std::string err;
    std::span<const char* const> args(argv + 1, static_cast<size_t>(argc > 0 ? argc - 1 : 0));
    if (!sim::parse_options(args, o, err)) {
        std::fprintf(stderr, "lumetra-sim: %s\nlumetra-sim: --help lists the options\n",
                     err.c_str());
        return 2;
    }
    if (o.help) {
        std::string_view u = sim::usage();
        std::fwrite(u.data(), 1, u.size(), stdout);
        return 0;
    }
    if (o.version) {
        std::printf("lumetra-sim %s\n", LUMETRA_VERSION);
        return 0;
    }
    if (o.root.empty()) {
        o.root = find_demo_root();
        if (o.root.empty()) {
            std::fputs(
                "lumetra-sim: the demo root (demo/root in the sources) was not found; "
                "give --root DIR\n",
                stderr);
            return 2;
        }
        provide_demo_font(o.root);
    }
    return sim::run_frontend(o);
}

namespace {

// The demo root of the source tree: named at build time, else found above the binary
// (a build directory usually sits in or beside the sources).
std::string find_demo_root() {
    std::error_code ec;
#ifdef LUMETRA_DEMO_ROOT
    if (fs::is_directory(LUMETRA_DEMO_ROOT, ec)) return LUMETRA_DEMO_ROOT;
#endif
    fs::path dir = fs::read_symlink("/proc/self/exe", ec).parent_path();
    for (int up = 0; up < 4 && !ec && !dir.empty(); ++up) {
        fs::path candidate = dir / "demo" / "root";
        std::error_code missing;
        if (fs::is_directory(candidate / "var" / "tuxbox" / "Tresk", missing)) {
            return candidate.string();
        }
        if (dir == dir.parent_path()) break;
        dir = dir.parent_path();
    }
    return {};
}

void provide_demo_font(const std::string& root) {
    fs::path font = fs::path(root) / kBoxFont;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(font, ec)) || !fs::exists(kDemoFont, ec)) return;
    fs::create_symlink(kDemoFont, font, ec);
}

}  // namespace
