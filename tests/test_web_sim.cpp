// The web page's server in lumetra-sim: --web starts it after the player's start-up and
// it stops with the player; keys from the page reach the main loop like the remote's.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/sim_support.h"
#include "tests/support/web_support.h"

namespace {

using testsup::http_answer;
using testsup::http_exchange;
using testsup::http_request;

// The port of "web: listening on 127.0.0.1:PORT" in the simulator's standard error, or 0.
int listening_port(const simtest::process& p) {
    constexpr std::string_view kLine = "web: listening on 127.0.0.1:";
    const std::string err = p.err();
    const size_t at = err.find(kLine);
    return at == std::string::npos ? 0 : std::atoi(err.c_str() + at + kLine.size());
}

std::string logged_code(const simtest::process& p) {
    constexpr std::string_view kLine = "web: pairing code ";
    const std::string err = p.err();
    const size_t at = err.rfind(kLine);
    return at == std::string::npos ? "" : err.substr(at + kLine.size(), 6);
}

http_answer send(int port, std::string_view method, std::string_view path,
                 std::string_view cookie = {}, std::string_view body = {}) {
    const std::string h = cookie.empty() ? "" : "Cookie: " + std::string(cookie) + "\r\n";
    return http_exchange(port, http_request(method, path, port, h, body));
}

// A viewer pairs a phone, drops a file on the box, sees it listed, and closes the
// player from the phone's remote (EXIT, then OK at the exit prompt).
TEST(WebSim, APairedPhoneUploadsAFileAndClosesThePlayer) {
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("film.tkx", testsup::web_sample("film.tkx"));
    simtest::process sim({LUMETRA_SIM_BINARY, "--headless", "--root", root.path(), "--web", "0",
                          "--mode", "720x576", "--timeout", "120"});
    ASSERT_TRUE(sim.started());
    int port = 0;
    ASSERT_TRUE(testsup::wait_until([&] { return (port = listening_port(sim)) > 0; }, 30000))
        << sim.err();
    EXPECT_EQ(send(port, "GET", "/").status, 200);
    EXPECT_EQ(send(port, "GET", "/api/state").status, 401);

    ASSERT_EQ(send(port, "POST", "/api/pair", {}, "{}").status, 200);
    ASSERT_TRUE(testsup::wait_until([&] { return !logged_code(sim).empty(); }, 10000));
    const http_answer paired =
        send(port, "POST", "/api/pair", {}, "{\"code\":\"" + logged_code(sim) + "\"}");
    ASSERT_EQ(paired.status, 200) << paired.body;
    const std::string cookie = testsup::cookie_of(paired);

    const http_answer up =
        send(port, "PUT", "/api/files/phone.srt", cookie, testsup::web_sample("phone.srt"));
    EXPECT_EQ(up.status / 100, 2) << up.body;
    EXPECT_EQ(root.read("/var/tuxbox/Tresk/tit/phone.srt"), testsup::web_sample("phone.srt"));
    // The converted file is listed once the player's pass has converted it.
    EXPECT_TRUE(testsup::wait_until(
        [&] {
            return send(port, "GET", "/api/files", cookie).body.find("\"phone\"") !=
                   std::string::npos;
        },
        30000))
        << send(port, "GET", "/api/files", cookie).body;

    EXPECT_EQ(send(port, "POST", "/api/key", cookie, "{\"key\":\"EXIT\"}").status, 200);
    // OK until the player has ended: the exit prompt drops what came before it.
    EXPECT_TRUE(testsup::wait_until(
        [&] {
            send(port, "POST", "/api/key", cookie, "{\"key\":\"OK\"}");
            return sim.wait(100);
        },
        30000));
    ASSERT_TRUE(sim.wait(30000)) << sim.err();
    EXPECT_EQ(sim.status(), 0) << sim.err();
    // The server ended with the player.
    EXPECT_EQ(send(port, "GET", "/").status, 0);
}

TEST(WebSim, WithoutTheOptionNoPortIsOpened) {
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("film.tkx", testsup::web_sample("film.tkx"));
    const simtest::run_result r =
        simtest::run_sim({"--headless", "--root", root.path(), "--timeout", "1"});
    EXPECT_EQ(r.status, 124);
    EXPECT_EQ(r.err.find("web:"), std::string::npos) << r.err;
}

// A port taken is logged and the player runs on without its page.
TEST(WebSim, APortTakenLeavesThePlayerRunning) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    testsup::box_root root(testsup::dejavu_condensed());
    root.write_subtitles("film.tkx", testsup::web_sample("film.tkx"));
    const simtest::run_result r =
        simtest::run_sim({"--headless", "--root", root.path(), "--web",
                          std::to_string(ntohs(a.sin_port)), "--timeout", "2"});
    ::close(fd);
    EXPECT_EQ(r.status, 124) << r.err;
    EXPECT_NE(r.err.find("web: cannot listen on 127.0.0.1:" + std::to_string(ntohs(a.sin_port))),
              std::string::npos)
        << r.err;
}

}  // namespace
