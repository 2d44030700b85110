// The web server driven over real connections on 127.0.0.1: pairing, the paired
// browsers' file, the safety rules every request passes, and the API's answers.
#include <arpa/inet.h>
#include <linux/input.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "tests/support/web_support.h"
#include "web/bridge.h"
#include "web/sha256.h"

namespace {

using testsup::http_answer;
using testsup::http_client;
using testsup::http_exchange;
using testsup::http_request;

constexpr std::string_view kDir = "/var/tuxbox/Tresk/tit/";
const std::string kCodeOnTv = "Koppelcode voor de telefoon: ";

class WebServer : public testsup::web_fixture {};

std::string code_body(std::string_view code) {
    return "{\"code\":\"" + std::string(code) + "\"}";
}

std::string other_code(const std::string& code) {
    std::string c = code;
    c[5] = c[5] == '9' ? '0' : static_cast<char>(c[5] + 1);
    return c;
}

TEST_F(WebServer, ListensOnTheLoopbackAndLogsTheRealPort) {
    ASSERT_TRUE(start());
    ASSERT_GT(port(), 0);
    const std::vector<std::string> log = log_lines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "web: listening on 127.0.0.1:" + std::to_string(port()));
}

TEST_F(WebServer, APortTakenIsLoggedAndRefused) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    web_options o;
    o.port = ntohs(a.sin_port);
    EXPECT_FALSE(start(o));
    EXPECT_EQ(port(), 0);
    const std::vector<std::string> log = log_lines();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].starts_with("web: cannot listen on 127.0.0.1:")) << log[0];
    ::close(fd);
}

TEST_F(WebServer, ThePageIsServedToAnyoneAndUnknownPathsAreNotFound) {
    ASSERT_TRUE(start());
    const http_answer page = request("GET", "/");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.headers.at("content-type"), "text/html; charset=utf-8");
    EXPECT_NE(page.body.find("<html"), std::string::npos);
    for (const char* path : {"/index.html", "/api", "/api/", "/api/files/", "/api/files/a/b",
                             "/api/files/a/choose/x", "/etc/passwd", "/../etc/passwd"}) {
        EXPECT_EQ(request("GET", path).status, 404) << path;
    }
}

// Every request but the page and pairing needs a paired browser's cookie, and without
// one nothing happens.
TEST_F(WebServer, WithoutAPairedCookieTheApiRefusesAndDoesNothing) {
    ASSERT_TRUE(start());
    root().write_subtitles("film.tkx", "x");
    struct call {
        const char* method;
        const char* path;
        const char* body;
    };
    const std::vector<call> calls{
        {"GET", "/api/state", ""},
        {"GET", "/api/files", ""},
        {"PUT", "/api/files/new.srt", "1\n00:00:01,000 --> 00:00:02,000\nHoi\n"},
        {"POST", "/api/files/film/choose", ""},
        {"DELETE", "/api/files/film", ""},
        {"POST", "/api/key", "{\"key\":\"OK\"}"},
    };
    for (const std::string cookie : {"", "lumetra=0123456789abcdef0123456789abcdef", "lumetra=x"}) {
        for (const call& c : calls) {
            const http_answer a = request(c.method, c.path, cookie, c.body);
            EXPECT_EQ(a.status, 401) << c.method << " " << c.path;
            EXPECT_EQ(a.body, "{\"error\":\"niet gekoppeld\"}");
        }
    }
    EXPECT_TRUE(root().exists(std::string(kDir) + "film.tkx"));
    EXPECT_FALSE(root().exists(std::string(kDir) + "new.srt"));
    EXPECT_TRUE(keys_posted().empty());
}

TEST_F(WebServer, PairingWithTheCodeOnTheTvSetsAStrictCookieAndTakesTheCodeAway) {
    ASSERT_TRUE(start());
    ASSERT_EQ(request("POST", "/api/pair").status, 200);  // an empty body asks too
    const std::vector<std::string> codes = logged_codes();
    ASSERT_EQ(codes.size(), 1u);
    ASSERT_EQ(codes[0].size(), 6u);
    EXPECT_EQ(codes[0].find_first_not_of("0123456789"), std::string::npos);
    EXPECT_TRUE(tv_shows(kCodeOnTv + codes[0]));

    EXPECT_EQ(request("POST", "/api/pair", {}, code_body(other_code(codes[0]))).status, 403);
    EXPECT_EQ(request("POST", "/api/pair", {}, "{\"code\":\"12345\"}").status, 400);
    const http_answer paired = request("POST", "/api/pair", {}, code_body(codes[0]));
    ASSERT_EQ(paired.status, 200);
    const std::string set_cookie = paired.headers.at("set-cookie");
    const std::string cookie = testsup::cookie_of(paired);
    ASSERT_EQ(cookie.size(), std::string("lumetra=").size() + 32) << set_cookie;
    EXPECT_EQ(set_cookie.substr(cookie.size()),
              "; HttpOnly; SameSite=Strict; Path=/; Max-Age=7776000");
    EXPECT_TRUE(tv_shows(""));
    EXPECT_EQ(request("GET", "/api/state", cookie).status, 200);
    // The code is used up.
    EXPECT_EQ(request("POST", "/api/pair", {}, code_body(codes[0])).status, 403);
}

TEST_F(WebServer, OneCodeAtATimeIsShownAgainWhenAskedAgain) {
    ASSERT_TRUE(start());
    ASSERT_EQ(request("POST", "/api/pair", {}, "{}").status, 200);
    ASSERT_EQ(request("POST", "/api/pair", {}, "{}").status, 200);
    const std::vector<std::string> codes = logged_codes();
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_TRUE(tv_shows(kCodeOnTv + codes[0]));
    EXPECT_EQ(request("POST", "/api/pair", {}, code_body(codes[0])).status, 200);
}

TEST_F(WebServer, FiveWrongTriesEndTheCodeAndHoldBackTheNext) {
    web_options o;
    o.code_lockout_ms = 400;
    ASSERT_TRUE(start(o));
    ASSERT_EQ(request("POST", "/api/pair", {}, "{}").status, 200);
    const std::string code = logged_codes().at(0);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(request("POST", "/api/pair", {}, code_body(other_code(code))).status, 403);
    }
    EXPECT_TRUE(tv_shows(""));
    const http_answer late = request("POST", "/api/pair", {}, code_body(code));
    EXPECT_EQ(late.status, 403);
    EXPECT_EQ(testsup::cookie_of(late), "");
    // No new code at once, so a script cannot go through the codes five at a time; one
    // once the wait is over.
    EXPECT_EQ(request("POST", "/api/pair", {}, "{}").status, 429);
    EXPECT_EQ(logged_codes().size(), 1u);
    ASSERT_TRUE(
        testsup::wait_until([&] { return request("POST", "/api/pair", {}, "{}").status == 200; }));
    EXPECT_EQ(logged_codes().size(), 2u);
}

TEST_F(WebServer, AnExpiredCodePairsNobody) {
    web_options o;
    o.code_ms = 0;
    ASSERT_TRUE(start(o));
    ASSERT_EQ(request("POST", "/api/pair", {}, "{}").status, 200);
    const http_answer a = request("POST", "/api/pair", {}, code_body(logged_codes().at(0)));
    EXPECT_EQ(a.status, 403);
    EXPECT_EQ(testsup::cookie_of(a), "");
    // An expired code does not keep a new one away.
    ASSERT_EQ(request("POST", "/api/pair", {}, "{}").status, 200);
    EXPECT_EQ(logged_codes().size(), 2u);
}

TEST_F(WebServer, APairingSurvivesARestartAndTheFileHoldsOnlyHashes) {
    ASSERT_TRUE(start());
    const std::string cookie = pair();
    ASSERT_FALSE(cookie.empty());
    stop();
    const std::string file = paired_file();
    const std::string token = cookie.substr(cookie.find('=') + 1);
    EXPECT_EQ(file.find(token), std::string::npos);
    const web_digest hash =
        web_sha256(std::span(reinterpret_cast<const uint8_t*>(token.data()), token.size()));
    std::string hash_hex;
    for (uint8_t b : hash) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        hash_hex += two;
    }
    EXPECT_NE(file.find(hash_hex), std::string::npos) << file;
    ASSERT_TRUE(start());
    EXPECT_EQ(request("GET", "/api/state", cookie).status, 200);
}

TEST_F(WebServer, SixteenBrowsersArePairedAtMostAndTheOldestGoes) {
    ASSERT_TRUE(start());
    std::vector<std::string> cookies;
    for (int i = 0; i < 17; ++i) cookies.push_back(pair());
    EXPECT_EQ(request("GET", "/api/files", cookies[0]).status, 401);
    for (size_t i = 1; i < cookies.size(); ++i) {
        EXPECT_EQ(request("GET", "/api/files", cookies[i]).status, 200) << i;
    }
    const std::string file = paired_file();
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 17);  // the header and 16
}

TEST_F(WebServer, TheForgetKeyUnpairsEveryBrowser) {
    ASSERT_TRUE(start());
    const std::string a = pair(), b = pair();
    web_forget_paired();  // the TV's key, as the main thread hands it on
    EXPECT_EQ(request("GET", "/api/state", a).status, 401);
    EXPECT_EQ(request("GET", "/api/state", b).status, 401);
    stop();
    ASSERT_TRUE(start());
    EXPECT_EQ(request("GET", "/api/state", a).status, 401);
    const std::string file = paired_file();
    EXPECT_EQ(file, "lumetra-web 1\n");
}

// A pairing lasts 90 days; a damaged file pairs nobody and breaks nothing.
TEST_F(WebServer, TheFileIsReadWithExpiryAndADamagedOneIsEmpty) {
    const std::string fresh = "00112233445566778899aabbccddeeff";
    const std::string old = "ffeeddccbbaa99887766554433221100";
    const auto line = [](const std::string& token, int64_t created) {
        const web_digest h =
            web_sha256(std::span(reinterpret_cast<const uint8_t*>(token.data()), token.size()));
        std::string text;
        for (uint8_t b : h) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", b);
            text += two;
        }
        return text + " " + std::to_string(created) + "\n";
    };
    const int64_t now = ::time(nullptr);
    const std::string good =
        "lumetra-web 1\n" + line(fresh, now - 89LL * 86400) + line(old, now - 91LL * 86400);
    struct damage {
        std::string text;
        bool fresh_paired;
    };
    const std::vector<damage> cases{
        {good, true},
        {"garbage\n", false},
        {good.substr(0, good.size() - 1), false},  // the last line cut
        {std::string(5000, 'x'), false},
        {std::string("lumetra-web 1\n") + std::string(64, 'g') + " 1\n", false},
        {"lumetra-web 1\n" + line(fresh, now).substr(0, 64) + " -5\n", false},
        {"", false},
    };
    for (const damage& d : cases) {
        root().write("/var/tuxbox/Tresk/tresk.web", d.text);
        ASSERT_TRUE(start());
        EXPECT_EQ(request("GET", "/api/files", "lumetra=" + fresh).status,
                  d.fresh_paired ? 200 : 401)
            << d.text.substr(0, 40);
        EXPECT_EQ(request("GET", "/api/files", "lumetra=" + old).status, 401);
        stop();
    }
    const std::vector<std::string> log = log_lines();
    EXPECT_EQ(
        std::count_if(log.begin(), log.end(),
                      [](const std::string& l) { return l.find("damaged") != std::string::npos; }),
        6);
    // Pairing after a damaged file writes a good one.
    ASSERT_TRUE(start());
    EXPECT_EQ(request("GET", "/api/files", pair()).status, 200);
}

// State-changing requests come only by POST, PUT and DELETE.
TEST_F(WebServer, EachRouteTakesOnlyItsMethods) {
    ASSERT_TRUE(start());
    const std::string cookie = pair();
    root().write_subtitles("film.tkx", "x");
    struct call {
        const char* method;
        const char* path;
        const char* allow;
    };
    const std::vector<call> calls{
        {"GET", "/api/pair", "POST"},
        {"GET", "/api/key", "POST"},
        {"GET", "/api/files/film/choose", "POST"},
        {"GET", "/api/files/film", "PUT, DELETE"},
        {"POST", "/api/files/film", "PUT, DELETE"},
        {"POST", "/api/state", "GET"},
        {"DELETE", "/api/files", "GET"},
        {"PUT", "/", "GET"},
        {"OPTIONS", "/api/key", "POST"},
        {"HEAD", "/api/state", "GET"},
    };
    for (const call& c : calls) {
        const http_answer a = request(c.method, c.path, cookie);
        EXPECT_EQ(a.status, 405) << c.method << " " << c.path;
        EXPECT_EQ(a.headers.at("allow"), c.allow) << c.method << " " << c.path;
    }
    EXPECT_TRUE(root().exists(std::string(kDir) + "film.tkx"));
}

TEST_F(WebServer, AnotherOriginCannotChangeAnything) {
    ASSERT_TRUE(start());
    const std::string cookie = pair();
    const std::string own = "http://127.0.0.1:" + std::to_string(port());
    const std::vector<std::string> origins{"http://evil.example", "null",
                                           "https://127.0.0.1:" + std::to_string(port()),
                                           own + ".evil.example"};
    for (const std::string& origin : origins) {
        const http_answer a =
            request("POST", "/api/key", cookie, "{\"key\":\"OK\"}", "Origin: " + origin + "\r\n");
        EXPECT_EQ(a.status, 403) << origin;
        EXPECT_EQ(request("POST", "/api/pair", {}, "{}", "Origin: " + origin + "\r\n").status, 403);
    }
    EXPECT_TRUE(keys_posted().empty());
    EXPECT_TRUE(logged_codes().size() == 1);  // the pairing above only
    EXPECT_EQ(
        request("POST", "/api/key", cookie, "{\"key\":\"OK\"}", "Origin: " + own + "\r\n").status,
        200);
    EXPECT_EQ(keys_posted(), std::vector<int>{KEY_OK});
}

// DNS rebinding: a stranger's host name pointing at the box is refused.
TEST_F(WebServer, TheHostMustNameTheBox) {
    ASSERT_TRUE(start());
    char name[256] = {};
    ASSERT_EQ(::gethostname(name, sizeof name - 1), 0);
    const std::string p = ":" + std::to_string(port());
    struct host {
        std::string header;
        int status;
    };
    const std::vector<host> hosts{
        {"Host: 127.0.0.1" + p + "\r\n", 200},
        {"Host: 127.0.0.1\r\n", 200},
        {"Host: [::1]" + p + "\r\n", 200},
        {"Host: LocalHost" + p + "\r\n", 200},
        {"Host: " + std::string(name) + p + "\r\n", 200},
        {"Host: 192.168.1.20" + p + "\r\n", 200},
        {"Host: evil.example" + p + "\r\n", 403},
        {"Host: 127.0.0.1.evil.example" + p + "\r\n", 403},
        {"Host: localhost.evil.example\r\n", 403},
        {"Host: evil.example\r\nX-Forwarded-For: 127.0.0.1\r\nX-Forwarded-Host: localhost\r\n",
         403},
        {"Host: [::1\r\n", 403},
        {"Host: 127.0.0.1:80x\r\n", 403},
    };
    for (const host& h : hosts) {
        EXPECT_EQ(http_exchange(port(), http_request("GET", "/", port(), h.header)).status,
                  h.status)
            << h.header;
    }
    EXPECT_EQ(http_exchange(port(), "GET / HTTP/1.0\r\n\r\n").status, 403);
}

TEST_F(WebServer, RequestLineAndHeadersTakeSixteenKilobytesAtMost) {
    ASSERT_TRUE(start());
    const std::string small = "X-Pad: " + std::string(15000, 'a') + "\r\n";
    EXPECT_EQ(http_exchange(port(), http_request("GET", "/", port(), small)).status, 200);
    const std::string big = "X-Pad: " + std::string(17000, 'a') + "\r\n";
    const int status = http_exchange(port(), http_request("GET", "/", port(), big)).status;
    EXPECT_TRUE(status == 400 || status == 413 || status == 431 || status == 0) << status;
}

TEST_F(WebServer, BodiesAreLimitedByWhatTheRouteTakes) {
    ASSERT_TRUE(start());
    const std::string cookie = pair();
    const std::string auth = "Cookie: " + cookie + "\r\n";
    // The length alone decides: nothing of the body is sent.
    const auto headers_only = [&](const char* method, const char* path, size_t length) {
        return http_exchange(
            port(), http_request(method, path, port(),
                                 auth + "Content-Length: " + std::to_string(length) + "\r\n"));
    };
    EXPECT_EQ(headers_only("PUT", "/api/files/big.srt", (4u << 20) + 1).status, 413);
    EXPECT_EQ(headers_only("PUT", "/api/files/big.srt", 17u << 20).status, 413);
    EXPECT_EQ(headers_only("POST", "/api/key", 1025).status, 413);
    EXPECT_EQ(headers_only("POST", "/api/pair", 1025).status, 413);
    EXPECT_EQ(request("POST", "/api/key", cookie, "{\"key\":\"OK\"" + std::string(1000, ' ') + "}")
                  .status,
              200);
    // A whole 4 MB file is taken.
    std::string film = "1\n00:00:01,000 --> 00:00:02,000\nHoi\n\n";
    film.resize(4u << 20, '\n');
    EXPECT_EQ(request("PUT", "/api/files/big.srt", cookie, film).status, 201);
    EXPECT_EQ(root().read(std::string(kDir) + "big.srt"), film);
}

TEST_F(WebServer, AnUploadNeedsItsLengthBeforehand) {
    ASSERT_TRUE(start());
    const std::string auth = "Cookie: " + pair() + "\r\n";
    EXPECT_EQ(http_exchange(port(), http_request("PUT", "/api/files/a.srt", port(), auth)).status,
              411);
    const std::string chunked = auth + "Transfer-Encoding: chunked\r\n";
    EXPECT_EQ(http_exchange(port(), http_request("PUT", "/api/files/a.srt", port(), chunked) +
                                        "5\r\nhallo\r\n0\r\n\r\n")
                  .status,
              411);
    EXPECT_FALSE(root().exists(std::string(kDir) + "a.srt"));
}

TEST_F(WebServer, AnIdleClientIsDropped) {
    ASSERT_TRUE(start());
    http_client idle(port());
    ASSERT_TRUE(idle.connected());
    // 300 ms of silence end it; the wait is generous.
    const http_answer a = idle.answer();
    EXPECT_NE(a.status, 200);
    EXPECT_FALSE(idle.send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n") &&
                 idle.answer().status == 200);
}

// A client that sends a byte now and then is never idle; the whole request has a deadline.
TEST_F(WebServer, ATricklingClientIsDropped) {
    ASSERT_TRUE(start());
    const std::string cookie = pair();
    const std::string head =
        http_request("GET", "/", port(), "X-Pad: " + std::string(200, 'a') + "\r\n");
    const std::string body(400, 'x');
    const std::string put = http_request(
        "PUT", "/api/files/slow.srt", port(),
        "Cookie: " + cookie + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n");
    struct trickle {
        std::string sent_at_once, trickled;
    };
    for (const trickle& t : {trickle{"", head}, trickle{put, body}}) {
        http_client c(port());
        ASSERT_TRUE(c.send(t.sent_at_once));
        bool dropped = false;
        for (char byte : t.trickled) {
            // One byte every 50 ms at most: far slower than the limits.
            if (c.readable(50) || !c.send(std::string_view(&byte, 1))) {
                dropped = true;
                break;
            }
        }
        EXPECT_TRUE(dropped) << t.sent_at_once.substr(0, 20);
        EXPECT_NE(c.answer().status, 201);
    }
    EXPECT_FALSE(root().exists(std::string(kDir) + "slow.srt"));
}

// One upload's bytes are held at a time (a box has little memory): another is asked to
// come again, and the first still lands.
TEST_F(WebServer, OneUploadAtATime) {
    ASSERT_TRUE(start());
    const std::string cookie = pair();
    const std::string body =
        "1\n00:00:01,000 --> 00:00:02,000\nEen\n\n" + std::string(1 << 20, ' ');
    // A small upload sent before the first one's request thread has begun may take the
    // room first (an emulated machine starts threads late): the first is then answered
    // at once, and the scenario begins again with a new first upload.
    std::optional<http_client> first;
    bool held = false;
    int tries = 0;
    for (int attempt = 0; attempt < 5 && !held; ++attempt) {
        first.emplace(port());
        ASSERT_TRUE(first->send(http_request(
            "PUT", "/api/files/eerste.srt", port(),
            "Cookie: " + cookie + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n")));
        ASSERT_TRUE(first->send(std::string_view(body).substr(0, body.size() / 2)));
        bool answered = false;
        held = testsup::wait_until([&] {
                   if (first->readable(0)) return answered = true;
                   const std::string name = "tweede" + std::to_string(++tries) + ".srt";
                   return request("PUT", "/api/files/" + name, cookie,
                                  "1\n00:00:01,000 --> 00:00:02,000\nB\n")
                              .status == 503;
               }) &&
               !answered;
    }
    ASSERT_TRUE(held) << "a second upload was never turned away while the first was held";
    ASSERT_TRUE(first->send(std::string_view(body).substr(body.size() / 2)));
    EXPECT_EQ(first->answer().status, 201);
    EXPECT_EQ(
        request("PUT", "/api/files/derde.srt", cookie, "1\n00:00:01,000 --> 00:00:02,000\nC\n")
            .status,
        201);
}

// The request threads are few: a request waits while every one of them serves a
// connection, and is answered once one of those ends.
TEST_F(WebServer, RequestsWaitWhileEveryWorkerIsBusy) {
    web_options o;
    o.workers = 2;
    ASSERT_TRUE(start(o));
    std::vector<std::unique_ptr<http_client>> held;
    for (int i = 0; i < 2; ++i) {
        held.push_back(std::make_unique<http_client>(port()));
        ASSERT_TRUE(held.back()->send("GET / HTTP/1.1\r\n"));
    }
    // A request once both threads hold a connection (they have read its first bytes).
    http_client late(port());
    ASSERT_TRUE(late.send(http_request("GET", "/", port())));
    const http_answer a = late.answer();
    EXPECT_EQ(a.status, 200);
    int closed = 0;
    for (auto& h : held) closed += h->readable(0) ? 1 : 0;
    EXPECT_GE(closed, 1);
}

TEST_F(WebServer, UploadNamesAreReducedToAPlainNameInTheDirectory) {
    ASSERT_TRUE(start());
    const std::string cookie = pair();
    root().write("/var/tuxbox/Tresk/evil.srt", "outside");
    struct upload {
        std::string path_name;
        int status;
        std::string stored;  // "" when nothing is stored
    };
    const std::vector<upload> uploads{
        {"film.srt", 201, "film.srt"},
        {"Film%20Twee.SRT", 201, "Film Twee.SRT"},
        {"..%2f..%2fevil.srt", 201, "evil.srt"},
        {"%2e%2e%2fevil2.srt", 201, "evil2.srt"},
        {"%2e%2e%5c%2e%2e%5cevil3.srt", 201, "evil3.srt"},
        {"%2fvar%2ftuxbox%2fTresk%2fabs.srt", 201, "abs.srt"},
        {"C:%5cfilms%5cwin.vtt", 201, "win.vtt"},
        {"%c3%a9t%c3%a9.ass", 201, "\xc3\xa9t\xc3\xa9.ass"},
        {"a.ssa", 201, "a.ssa"},
        {"b.sub", 201, "b.sub"},
        {"c.txt", 201, "c.txt"},
        {"d.tkx", 201, "d.tkx"},
        {"%2e%2e", 400, ""},
        {".hidden.srt", 400, ""},
        {"..%2f.hidden.srt", 400, ""},
        {"film.exe", 400, ""},
        {"film.smi.exe", 400, ""},
        {"film", 400, ""},
        {".srt", 400, ""},
        {"a%00b.srt", 400, ""},
        {"a%01b.srt", 400, ""},
        {"a%7fb.srt", 400, ""},
        {"a%ffb.srt", 400, ""},
        {"a%c0%afb.srt", 400, ""},
        {"a%ed%a0%80.srt", 400, ""},
        {"a%zz.srt", 400, ""},
        {"a%2.srt", 400, ""},
        {std::string(197, 'n') + ".srt", 400, ""},
        {std::string(196, 'n') + ".srt", 201, std::string(196, 'n') + ".srt"},
    };
    const std::string body = "1\n00:00:01,000 --> 00:00:02,000\nHoi\n";
    for (const upload& u : uploads) {
        const http_answer a = request("PUT", "/api/files/" + u.path_name, cookie, body);
        EXPECT_EQ(a.status, u.status) << u.path_name << " " << a.body;
        if (!u.stored.empty()) {
            EXPECT_EQ(root().read(std::string(kDir) + u.stored), body) << u.path_name;
        }
    }
    EXPECT_EQ(root().read("/var/tuxbox/Tresk/evil.srt"), "outside");
    // Outside the directory: what was there, the paired browsers and the player's settings.
    const std::filesystem::path dir = root().host("/var/tuxbox/Tresk/tit");
    for (const auto& e : std::filesystem::recursive_directory_iterator(root().path())) {
        if (!e.is_regular_file() || e.path().parent_path() == dir) continue;
        const std::string name = e.path().filename().string();
        EXPECT_TRUE(name == "Tresk.ttf" || name == "tresk.web" || name == "evil.srt" ||
                    name == "tresk.conf")
            << e.path();
    }
}

TEST_F(WebServer, ChooseAndDeleteTouchOnlyListedFilesOfTheDirectory) {
    const std::string film = testsup::web_sample("film.tkx");
    root().write("/var/tuxbox/Tresk/secret.tkx", film);
    std::filesystem::create_symlink(root().host("/var/tuxbox/Tresk/secret.tkx"),
                                    root().host(std::string(kDir) + "link.tkx"));
    root().write_subtitles("film.tkx", film);
    ASSERT_TRUE(start());
    const std::string cookie = pair();
    for (const char* name : {"link", "..%2fsecret", "%2e%2e%2fsecret", "..%5csecret",
                             "%2fvar%2ftuxbox%2fTresk%2fsecret", "nothing", ".."}) {
        const std::string n = name;
        const int chose = request("POST", "/api/files/" + n + "/choose", cookie).status;
        const int deleted = request("DELETE", "/api/files/" + n, cookie).status;
        EXPECT_TRUE(chose == 400 || chose == 404) << name << " " << chose;
        EXPECT_TRUE(deleted == 400 || deleted == 404) << name << " " << deleted;
    }
    EXPECT_EQ(root().read("/var/tuxbox/Tresk/secret.tkx"), film);
    EXPECT_TRUE(root().exists(std::string(kDir) + "link.tkx"));
    EXPECT_EQ(request("GET", "/api/files", cookie).body.find("secret"), std::string::npos);
    const http_answer chose = request("POST", "/api/files/film/choose", cookie);
    EXPECT_EQ(chose.status, 200) << chose.body;
    EXPECT_TRUE(testsup::wait_until([&] {
        return request("GET", "/api/files", cookie).body.ends_with("\"current\":\"film\"}");
    }));
    EXPECT_EQ(request("DELETE", "/api/files/film", cookie).status, 200);
    EXPECT_FALSE(root().exists(std::string(kDir) + "film.tkx"));
}

TEST_F(WebServer, KeysAreTheRemotesByName) {
    ASSERT_TRUE(start());
    const std::string cookie = pair();
    struct key_case {
        std::string body;
        int status;
    };
    const std::vector<key_case> cases{
        {"{\"key\":\"OK\"}", 200},
        {"{\"key\":\"channelup\"}", 200},
        {"{ \"key\" : \"KEY_7\" }", 200},
        {"{\"key\":\"\\u0045XIT\"}", 200},
        {"{\"key\":\"352\"}", 400},
        {"{\"key\":\"POWER\"}", 400},
        {"{\"key\":\"\"}", 400},
        {"{}", 400},
        {"{\"key\":1}", 400},
        {"{\"key\":\"OK\",\"key\":\"OK\"}", 400},
        {"{\"key\":\"OK\"} x", 400},
        {"", 400},
        {"[\"OK\"]", 400},
        {"{\"key\":\"OK\"", 400},
    };
    for (const key_case& k : cases) {
        EXPECT_EQ(request("POST", "/api/key", cookie, k.body).status, k.status) << k.body;
    }
    EXPECT_EQ(keys_posted(), (std::vector<int>{KEY_OK, KEY_CHANNELUP, KEY_7, KEY_EXIT}));
}

TEST_F(WebServer, UploadsKeepAFileUnlessReplacingWasAgreed) {
    ASSERT_TRUE(start());
    const std::string cookie = pair();
    root().write_subtitles("film.srt", "old");
    EXPECT_NE(request("PUT", "/api/files/film.srt", cookie, "new").status, 201);
    EXPECT_EQ(root().read(std::string(kDir) + "film.srt"), "old");
    EXPECT_EQ(request("PUT", "/api/files/film.srt?replace=0", cookie, "new").status / 100, 4);
    EXPECT_EQ(request("PUT", "/api/files/film.srt?x=1&replace=1", cookie, "new").status, 201);
    EXPECT_EQ(root().read(std::string(kDir) + "film.srt"), "new");
}

TEST_F(WebServer, StateAndFilesAreJson) {
    root().write_subtitles("b.tkx", "x");
    root().write_subtitles("A \"quoted\".tkx", "x");
    ASSERT_TRUE(start());
    const std::string cookie = pair();
    const http_answer files = request("GET", "/api/files", cookie);
    EXPECT_EQ(files.status, 200);
    EXPECT_EQ(files.headers.at("content-type"), "application/json");
    EXPECT_EQ(files.body, "{\"files\":[\"A \\\"quoted\\\"\",\"b\"],\"current\":\"\"}");
    const http_answer state = request("GET", "/api/state", cookie);
    EXPECT_EQ(state.status, 200);
    EXPECT_TRUE(state.body.starts_with("{\"serial\":")) << state.body;
    EXPECT_NE(state.body.find("\"clock\":\"0:00:00\""), std::string::npos) << state.body;
}

}  // namespace
