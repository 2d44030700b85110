// The simulator's key-script parser and command line.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <string>
#include <vector>

#include "sim/options.h"
#include "sim/script.h"

namespace {

sim::script_command parse_ok(const std::string& line) {
    sim::script_command c;
    std::string message;
    EXPECT_EQ(sim::parse_script_line(line, c, message), 1) << line << ": " << message;
    return c;
}

std::string parse_bad(const std::string& line) {
    sim::script_command c;
    std::string message;
    EXPECT_EQ(sim::parse_script_line(line, c, message), -1) << line;
    EXPECT_FALSE(message.empty()) << line;
    return message;
}

bool parse_args(std::vector<const char*> args, sim::options& o, std::string& err) {
    return sim::parse_options(args, o, err);
}

}  // namespace

TEST(SimScriptKeys, EveryRemoteKeyNameHasItsLinuxCode) {
    const std::vector<std::pair<std::string, int>> keys = {
        {"OK", KEY_OK},
        {"EXIT", KEY_EXIT},
        {"UP", KEY_UP},
        {"DOWN", KEY_DOWN},
        {"LEFT", KEY_LEFT},
        {"RIGHT", KEY_RIGHT},
        {"RED", KEY_RED},
        {"GREEN", KEY_GREEN},
        {"YELLOW", KEY_YELLOW},
        {"BLUE", KEY_BLUE},
        {"HELP", KEY_HELP},
        {"MENU", KEY_MENU},
        {"TV", KEY_TV},
        {"VIDEO", KEY_VIDEO},
        {"VOLUMEUP", KEY_VOLUMEUP},
        {"VOLUMEDOWN", KEY_VOLUMEDOWN},
        {"CHANNELUP", KEY_CHANNELUP},
        {"CHANNELDOWN", KEY_CHANNELDOWN},
        {"0", KEY_0},
        {"1", KEY_1},
        {"5", KEY_5},
        {"9", KEY_9},
    };
    for (const auto& [name, code] : keys) {
        ASSERT_TRUE(sim::key_code(name).has_value()) << name;
        EXPECT_EQ(*sim::key_code(name), code) << name;
        EXPECT_EQ(sim::key_name(static_cast<uint16_t>(code)), name);
    }
    EXPECT_EQ(sim::key_code("ok"), KEY_OK);
    EXPECT_EQ(sim::key_code("Key_Red"), KEY_RED);
    EXPECT_EQ(sim::key_code("KEY_0"), KEY_0);
    EXPECT_EQ(sim::key_name(KEY_ESC), "");
}

TEST(SimScriptKeys, NumbersOfTwoOrMoreDigitsAreKeyCodes) {
    EXPECT_EQ(sim::key_code("352"), 352);
    EXPECT_EQ(sim::key_code("0x160"), 352);
    EXPECT_EQ(sim::key_code("01"), 1);  // KEY_ESC, not the digit key
    EXPECT_EQ(sim::key_code("65535"), 65535);
    EXPECT_FALSE(sim::key_code("65536"));
    EXPECT_FALSE(sim::key_code("-1"));
    EXPECT_FALSE(sim::key_code("OKAY"));
    EXPECT_FALSE(sim::key_code(""));
    EXPECT_FALSE(sim::key_code("KEY_"));
    EXPECT_FALSE(sim::key_code("12a"));
}

TEST(SimScript, EachCommandParses) {
    sim::script_command c = parse_ok("wait 250");
    EXPECT_EQ(c.op, sim::script_op::wait);
    EXPECT_EQ(c.ms, 250u);

    c = parse_ok("press EXIT");
    EXPECT_EQ(c.op, sim::script_op::press);
    EXPECT_EQ(c.code, KEY_EXIT);

    c = parse_ok("down RED");
    EXPECT_EQ(c.op, sim::script_op::event);
    EXPECT_EQ(c.type, EV_KEY);
    EXPECT_EQ(c.code, KEY_RED);
    EXPECT_EQ(c.value, 1);
    EXPECT_TRUE(c.report);
    EXPECT_EQ(parse_ok("repeat RED").value, 2);
    EXPECT_EQ(parse_ok("up RED").value, 0);
    EXPECT_TRUE(parse_ok("up RED").report);

    c = parse_ok("raw 4 4 -7");
    EXPECT_EQ(c.op, sim::script_op::event);
    EXPECT_EQ(c.type, EV_MSC);
    EXPECT_EQ(c.code, 4);  // in a raw record a lone digit is a number, not a digit key
    EXPECT_EQ(c.value, -7);
    c = parse_ok("raw EV_KEY OK 2147483647");
    EXPECT_EQ(c.type, EV_KEY);
    EXPECT_FALSE(c.report) << "a raw record comes alone";
    EXPECT_EQ(c.code, KEY_OK);
    EXPECT_EQ(c.value, 2147483647);
    c = parse_ok("raw ev_syn 0 0");
    EXPECT_EQ(c.type, EV_SYN);

    c = parse_ok("snap out/frame one.png");
    EXPECT_EQ(c.op, sim::script_op::snap);
    EXPECT_EQ(c.file, "out/frame one.png");
    c = parse_ok("compose tv.png");
    EXPECT_EQ(c.op, sim::script_op::compose);
    EXPECT_EQ(c.file, "tv.png");

    const std::pair<const char*, sim::video_action> film[] = {
        {"video play", sim::video_action::play},
        {"VIDEO Pause", sim::video_action::pause},
        {"video wrap", sim::video_action::wrap},
        {"video seek -60", sim::video_action::seek},
    };
    for (const auto& [line, action] : film) {
        c = parse_ok(line);
        EXPECT_EQ(c.op, sim::script_op::video) << line;
        EXPECT_EQ(c.video, action) << line;
    }
    EXPECT_EQ(c.value, -60);
    EXPECT_EQ(parse_ok("video seek +5").value, 5);
}

TEST(SimScript, CommentsBlanksCaseAndLineEnds) {
    sim::script_command c;
    std::string message;
    EXPECT_EQ(sim::parse_script_line("", c, message), 0);
    EXPECT_EQ(sim::parse_script_line("   \t ", c, message), 0);
    EXPECT_EQ(sim::parse_script_line("# press OK", c, message), 0);
    EXPECT_EQ(sim::parse_script_line("  #", c, message), 0);
    EXPECT_EQ(parse_ok("PRESS ok   # the OK key").code, KEY_OK);
    EXPECT_EQ(parse_ok("\tWait\t10\r").ms, 10u);
    EXPECT_EQ(parse_ok("snap a.png # not part of the name").file, "a.png");
    EXPECT_EQ(parse_ok("wait 0").ms, 0u);
    EXPECT_EQ(parse_ok("wait 86400000").ms, 86400000u);
}

TEST(SimScript, BadLinesSayWhatIsWrong) {
    EXPECT_NE(parse_bad("jump 3").find("unknown command 'jump'"), std::string::npos);
    EXPECT_NE(parse_bad("press").find("press needs a key"), std::string::npos);
    EXPECT_NE(parse_bad("press OKAY").find("unknown key 'OKAY'"), std::string::npos);
    EXPECT_NE(parse_bad("press OK EXIT").find("unexpected 'EXIT'"), std::string::npos);
    EXPECT_NE(parse_bad("up").find("up needs a key"), std::string::npos);
    EXPECT_NE(parse_bad("wait").find("wait needs a time"), std::string::npos);
    EXPECT_NE(parse_bad("wait -5").find("bad time '-5'"), std::string::npos);
    EXPECT_NE(parse_bad("wait 1.5").find("bad time"), std::string::npos);
    EXPECT_NE(parse_bad("wait 86400001").find("bad time"), std::string::npos);
    EXPECT_NE(parse_bad("wait 99999999999999999999").find("bad time"), std::string::npos);
    EXPECT_NE(parse_bad("wait 10 20").find("unexpected '20'"), std::string::npos);
    EXPECT_NE(parse_bad("raw 1 2").find("raw needs TYPE CODE VALUE"), std::string::npos);
    EXPECT_NE(parse_bad("raw 65536 1 1").find("bad type"), std::string::npos);
    EXPECT_NE(parse_bad("raw 1 x 1").find("bad code 'x'"), std::string::npos);
    EXPECT_NE(parse_bad("raw 1 1 2147483648").find("bad value"), std::string::npos);
    EXPECT_NE(parse_bad("raw 1 1 1 1").find("unexpected"), std::string::npos);
    EXPECT_NE(parse_bad("snap").find("snap needs a file name"), std::string::npos);
    EXPECT_NE(parse_bad("compose   # x").find("compose needs a file name"), std::string::npos);
    EXPECT_NE(parse_bad("video").find("video needs play"), std::string::npos);
    EXPECT_NE(parse_bad("video rewind").find("video needs play"), std::string::npos);
    EXPECT_NE(parse_bad("video seek").find("bad time"), std::string::npos);
    EXPECT_NE(parse_bad("video seek 1.5").find("bad time '1.5'"), std::string::npos);
    EXPECT_NE(parse_bad("video play now").find("unexpected 'now'"), std::string::npos);
}

TEST(SimScript, WholeScriptNumbersLinesAndStopsAtTheFirstError) {
    std::vector<sim::script_command> out;
    sim::script_error err;
    ASSERT_TRUE(sim::parse_script("# demo\n\nwait 5\r\npress OK\nsnap x.raw", out, err));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].line, 3);
    EXPECT_EQ(out[1].line, 4);
    EXPECT_EQ(out[2].line, 5);
    EXPECT_EQ(out[2].file, "x.raw");

    out.clear();
    EXPECT_FALSE(sim::parse_script("press OK\nwait 1\npress NOPE\npress EXIT\n", out, err));
    EXPECT_EQ(err.line, 3);
    EXPECT_NE(err.message.find("NOPE"), std::string::npos);
    EXPECT_EQ(out.size(), 2u);

    out.clear();
    EXPECT_TRUE(sim::parse_script("", out, err));
    EXPECT_TRUE(out.empty());
}

TEST(SimOptions, DefaultsAndEveryOption) {
    sim::options o;
    std::string err;
    ASSERT_TRUE(parse_args({}, o, err)) << err;
    EXPECT_TRUE(o.root.empty());
    EXPECT_FALSE(o.headless);
    EXPECT_EQ(o.mode_width, 1280u);
    EXPECT_EQ(o.mode_height, 720u);
    EXPECT_EQ(o.remotes, 1);
    EXPECT_EQ(o.timeout, 0);
    EXPECT_EQ(o.scale, 0);
    EXPECT_FALSE(o.video);
    EXPECT_EQ(o.web_port, -1);

    ASSERT_TRUE(parse_args({"--root", "/r", "--keys", "-", "--headless", "--mode", "720x480",
                            "--remotes", "0", "--timeout", "2.5", "--snapshot", "s.png",
                            "--background=bg.jpg", "--scale=3", "--no-fb", "--video", "--web", "0"},
                           o, err))
        << err;
    EXPECT_EQ(o.root, "/r");
    EXPECT_EQ(o.keys, "-");
    EXPECT_TRUE(o.headless);
    EXPECT_EQ(o.mode_width, 720u);
    EXPECT_EQ(o.mode_height, 480u);
    EXPECT_EQ(o.remotes, 0);
    EXPECT_DOUBLE_EQ(o.timeout, 2.5);
    EXPECT_EQ(o.snapshot, "s.png");
    EXPECT_EQ(o.background, "bg.jpg");
    EXPECT_EQ(o.scale, 3);
    EXPECT_TRUE(o.no_fb);
    EXPECT_TRUE(o.video);
    EXPECT_EQ(o.web_port, 0);
    ASSERT_TRUE(parse_args({"--web=8765"}, o, err)) << err;
    EXPECT_EQ(o.web_port, 8765);

    ASSERT_TRUE(parse_args({"--help"}, o, err));
    EXPECT_TRUE(o.help);
    EXPECT_NE(sim::usage().find("--background"), std::string_view::npos);
}

TEST(SimOptions, BadOptionsAreRefusedWithAReason) {
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
        {{"--bogus"}, "unknown option '--bogus'"}, {{"stray"}, "unexpected argument 'stray'"},
        {{"--root"}, "'--root' needs a value"},    {{"--keys="}, "'--keys' needs a value"},
        {{"--headless=yes"}, "takes no value"},    {{"--mode", "720"}, "bad mode '720'"},
        {{"--mode", "0x576"}, "bad mode"},         {{"--mode", "5000x576"}, "bad mode"},
        {{"--mode", "720x576x32"}, "bad mode"},    {{"--remotes", "9"}, "bad number '9'"},
        {{"--remotes", "-1"}, "bad number"},       {{"--timeout", "0"}, "bad time '0'"},
        {{"--timeout", "soon"}, "bad time"},       {{"--timeout", "nan"}, "bad time"},
        {{"--scale", "0"}, "bad factor '0'"},      {{"--scale", "9"}, "bad factor"},
        {{"--web", "65536"}, "bad port '65536'"},  {{"--web", "-1"}, "bad port"},
        {{"--web", "http"}, "bad port"},           {{"--web"}, "'--web' needs a value"},
    };
    for (const auto& [args, want] : cases) {
        sim::options o;
        o.root = "kept";
        std::string err;
        EXPECT_FALSE(parse_args(args, o, err)) << args[0];
        EXPECT_NE(err.find(want), std::string::npos) << args[0] << ": " << err;
        EXPECT_EQ(o.root, "kept") << "a refused command line leaves the options alone";
    }
}

// The command line as getopt_long reads it: -h, the start of an option's name,
// values after "=" or in the next argument, options in any order, "--" ending them;
// and refusals in the simulator's words. (--version: ConvertToolCommandLine.)
TEST(SimOptions, ReadAsGetoptLongReadsThem) {
    struct Case {
        std::vector<const char*> args;
        bool headless, help;
        std::string keys;
        uint32_t width;
    };
    const std::vector<Case> accepted = {
        {{"-h"}, false, true, "", 1280},
        {{"--head", "--mode=720x576"}, true, false, "", 720},
        {{"--keys", "-", "--headless"}, true, false, "-", 1280},
        {{"--keys=--mode", "--mo", "640x480"}, false, false, "--mode", 640},
        {{"--hel", "--"}, false, true, "", 1280},
    };
    for (const Case& c : accepted) {
        sim::options o;
        std::string err;
        ASSERT_TRUE(parse_args(c.args, o, err)) << c.args[0] << ": " << err;
        EXPECT_EQ(o.headless, c.headless) << c.args[0];
        EXPECT_EQ(o.help, c.help) << c.args[0];
        EXPECT_EQ(o.keys, c.keys) << c.args[0];
        EXPECT_EQ(o.mode_width, c.width) << c.args[0];
    }
    const std::vector<std::pair<std::vector<const char*>, std::string>> refused = {
        {{"--v"}, "ambiguous option '--v'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--no-fb=1"}, "option '--no-fb' takes no value"},
        {{"--vid=no"}, "option '--video' takes no value"},
        {{"--sna"}, "option '--snapshot' needs a value"},
        {{"--headless", "--", "--video"}, "unexpected argument '--video'"},
        {{"--version=2"}, "option '--version' takes no value"},
    };
    for (const auto& [args, want] : refused) {
        sim::options o;
        std::string err;
        EXPECT_FALSE(parse_args(args, o, err)) << want;
        EXPECT_EQ(err, want);
    }
}
