// The web server's pure pieces: SHA-256, URL decoding, the name rules, the Host and
// Origin checks, the JSON read and written, and the remote's key names.
#include <gtest/gtest.h>
#include <linux/input.h>

#include <string>

#include "conv/convert.h"
#include "rc/remote.h"
#include "web/http.h"
#include "web/sha256.h"

namespace {

std::string hex(const web_digest& d) {
    std::string out;
    for (uint8_t b : d) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

web_digest sha(std::string_view s) {
    return web_sha256(std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
}

// FIPS 180-4's examples, and lengths around the one- and two-block padding edge.
TEST(WebRules, Sha256MatchesTheStandardVectors) {
    struct vec {
        std::string text;
        const char* digest;
    };
    const std::vector<vec> vectors{
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
         "mnopq"
         "rsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const vec& v : vectors) EXPECT_EQ(hex(sha(v.text)), v.digest) << v.text.size();
}

TEST(WebRules, PercentDecodingIsOnceAndStrict) {
    struct dec {
        const char* in;
        std::optional<std::string> out;
    };
    const std::vector<dec> cases{
        {"a%20b", "a b"},
        {"%2e%2E%2f", "../"},
        {"%252e", "%2e"},
        {"a+b", "a+b"},
        {"%00", std::string(1, '\0')},
        {"%", std::nullopt},
        {"%2", std::nullopt},
        {"%zz", std::nullopt},
        {"abc%", std::nullopt},
        {"", ""},
    };
    for (const dec& d : cases) EXPECT_EQ(web_percent_decode(d.in), d.out) << d.in;
}

TEST(WebRules, Utf8IsCheckedStrictly) {
    struct u {
        std::string text;
        bool valid;
    };
    const std::vector<u> cases{
        {"plain", true},
        {"\xc3\xa9", true},
        {"\xe2\x82\xac", true},
        {"\xf0\x9f\x98\x80", true},
        {"\xc3", false},
        {"\xc0\xaf", false},
        {"\xe0\x80\xaf", false},
        {"\xed\xa0\x80", false},
        {"\xf4\x90\x80\x80", false},
        {"\xff", false},
        {"\x80", false},
        {"\xe2\x82", false},
    };
    for (const u& c : cases) EXPECT_EQ(web_valid_utf8(c.text), c.valid) << c.text;
}

TEST(WebRules, UploadAndListedNames) {
    struct name_case {
        std::string name;
        std::optional<std::string> upload;
        bool listed;
    };
    const std::vector<name_case> cases{
        {"film.srt", "film.srt", true},
        {"dir/film.srt", "film.srt", false},
        {"..\\..\\film.SRT", "film.SRT", false},
        {"/abs/film.vtt", "film.vtt", false},
        {"film.srt/", std::nullopt, false},
        {"film", std::nullopt, true},
        {".film.srt", std::nullopt, false},
        {"../.film.srt", std::nullopt, false},
        {"fi\nlm.srt", std::nullopt, false},
        {std::string("fi\0lm.srt", 9), std::nullopt, false},
        {"fi\x7flm.srt", std::nullopt, false},
        {"fi\xfflm.srt", std::nullopt, false},
        {"film.smi", std::nullopt, true},
        {"film.srt.exe", std::nullopt, true},
        {"film.tkx", "film.tkx", true},
        {".srt", std::nullopt, false},
        {std::string(196, 'x') + ".srt", std::string(196, 'x') + ".srt", true},
        {std::string(197, 'x') + ".srt", std::nullopt, false},
        {"", std::nullopt, false},
    };
    for (const name_case& c : cases) {
        EXPECT_EQ(web_upload_name(c.name), c.upload) << c.name;
        EXPECT_EQ(web_listed_name_ok(c.name), c.listed) << c.name;
    }
}

// The extensions an upload may carry are the ones the converter reads as sources,
// and the player's own.
TEST(WebRules, UploadExtensionsAreTheConvertersSources) {
    const int other = conv::source_rank("film.unknown");
    for (const char* ext : {".srt", ".ass", ".ssa", ".vtt", ".sub", ".txt"}) {
        EXPECT_LT(conv::source_rank(std::string("film") + ext), other) << ext;
        EXPECT_TRUE(web_upload_name(std::string("film") + ext)) << ext;
    }
    EXPECT_TRUE(web_upload_name("film.tkx"));
    for (const char* ext : {".smi", ".zip", ".html", ".exe", ".mkv"}) {
        EXPECT_EQ(conv::source_rank(std::string("film") + ext), other) << ext;
        EXPECT_FALSE(web_upload_name(std::string("film") + ext)) << ext;
    }
}

TEST(WebRules, HostAndOrigin) {
    struct host_case {
        const char* host;
        bool allowed;
    };
    const std::vector<host_case> hosts{
        {"192.168.1.5", true},
        {"192.168.1.5:8765", true},
        {"[fe80::1]:8765", true},
        {"[::1]", true},
        {"localhost:1", true},
        {"BOX", true},
        {"box:8765", true},
        {"", false},
        {":8765", false},
        {"evil.example", false},
        {"box.evil.example", false},
        {"1.2.3", false},
        {"[::1]x", false},
        {"[nonsense]:1", false},
        {"::1", false},
        {"box:", false},
        {"box:123456", false},
        {"box:80:80", false},
    };
    for (const host_case& h : hosts)
        EXPECT_EQ(web_host_allowed(h.host, "box"), h.allowed) << h.host;
    EXPECT_FALSE(web_host_allowed("box", ""));

    EXPECT_TRUE(web_origin_allowed("http://box:8765", "box:8765"));
    EXPECT_TRUE(web_origin_allowed("HTTP://Box:8765", "box:8765"));
    EXPECT_FALSE(web_origin_allowed("http://box", "box:8765"));
    EXPECT_FALSE(web_origin_allowed("https://box:8765", "box:8765"));
    EXPECT_FALSE(web_origin_allowed("http://evil", "box:8765"));
    EXPECT_FALSE(web_origin_allowed("null", "box:8765"));
}

TEST(WebRules, JsonObjectsOfStrings) {
    const auto parsed = web_parse_json_object(
        " {\"code\" : \"123456\", \"t\":\"a\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\"} ");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*web_json_field(*parsed, "code"), "123456");
    EXPECT_EQ(*web_json_field(*parsed, "t"), "a\"\\/\b\f\n\r\t\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(web_json_field(*parsed, "none"), nullptr);
    EXPECT_TRUE(web_parse_json_object("{}"));
    for (const char* bad : {"", "{", "}", "[]", "{\"a\":1}", "{\"a\":\"b\",}", "{\"a\":\"b\"}x",
                            "{\"a\" \"b\"}", "{\"a\":\"b\",\"a\":\"c\"}", "{\"a\":\"\\x\"}",
                            "{\"a\":\"\\ud800\"}", "{\"a\":\"\\udc00\"}", "{\"a\":\"\\u12\"}",
                            "{\"a\":\"\x01\"}", "{\"a\":\"\xff\"}", "{a:\"b\"}", "{\"a\":null}"}) {
        EXPECT_FALSE(web_parse_json_object(bad)) << bad;
    }
}

TEST(WebRules, JsonTextIsEscapedAndValid) {
    EXPECT_EQ(web_json_string("a\"b\\c\nd\x01\x7f"), "\"a\\\"b\\\\c\\nd\\u0001\\u007f\"");
    EXPECT_EQ(web_json_string("\xc3\xa9\xff"), "\"\xc3\xa9\\ufffd\"");
    EXPECT_EQ(web_json_string("\xe2\x80\xa8"), "\"\\u2028\"");
    // What it writes reads back as it was (for valid text).
    const std::string text = "x\"\\\n\t\x01\xc3\xa9";
    const auto back = web_parse_json_object("{\"v\":" + web_json_string(text) + "}");
    ASSERT_TRUE(back);
    EXPECT_EQ(*web_json_field(*back, "v"), text);
}

TEST(WebRules, StateJsonCarriesEveryField) {
    web_state st;
    st.serial = 7;
    st.loaded = true;
    st.file = "Film";
    st.clock_ms = 3723456;
    st.playing = true;
    st.subtitle = "Een\nTwee";
    st.shift_ms = -1500;
    st.rate = "25/23.976";
    st.second = "Tweede";
    st.second_shift_ms = 500;
    st.second_subtitle = "Two";
    st.question = true;
    st.question_text = "Snelheid?";
    st.status = "Status";
    st.busy = true;
    st.jobs = {{"a.srt", "uitlijnen op opname", 40, ""}};
    st.files = {"A", "Film"};
    EXPECT_EQ(
        web_state_json(st),
        "{\"serial\":7,\"loaded\":true,\"file\":\"Film\",\"clock_ms\":3723456,"
        "\"clock\":\"1:02:03\",\"playing\":true,\"subtitle\":\"Een\\nTwee\",\"shift_ms\":-1500,"
        "\"rate\":\"25/23.976\",\"second\":\"Tweede\",\"second_shift_ms\":500,"
        "\"second_subtitle\":\"Two\",\"question\":true,\"question_text\":\"Snelheid?\","
        "\"status\":\"Status\",\"busy\":true,\"jobs\":[{\"name\":\"a.srt\",\"step\":"
        "\"uitlijnen op opname\",\"percent\":40,\"text\":\"\"}],\"files\":[\"A\",\"Film\"]}");
    EXPECT_EQ(web_files_json(st), "{\"files\":[\"A\",\"Film\"],\"current\":\"Film\"}");
    EXPECT_EQ(web_clock_text(0), "0:00:00");
    EXPECT_EQ(web_clock_text(36000000), "10:00:00");
}

TEST(WebRules, KeyNamesAreTheRemotes) {
    struct key_case {
        const char* name;
        int code;
    };
    const std::vector<key_case> cases{
        {"OK", KEY_OK},
        {"ok", KEY_OK},
        {"KEY_EXIT", KEY_EXIT},
        {"key_red", KEY_RED},
        {"0", KEY_0},
        {"9", KEY_9},
        {"VolumeUp", KEY_VOLUMEUP},
        {"text", KEY_TEXT},
        {"", -1},
        {"KEY_", -1},
        {"10", -1},
        {"352", -1},
        {"POWER", -1},
        {"OK ", -1},
    };
    for (const key_case& k : cases) EXPECT_EQ(rc_key_from_name(k.name), k.code) << k.name;
    EXPECT_EQ(rc_key_name(KEY_CHANNELDOWN), "CHANNELDOWN");
    EXPECT_EQ(rc_key_name(KEY_POWER), "");
}

}  // namespace
