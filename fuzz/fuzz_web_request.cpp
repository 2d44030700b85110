// Whole HTTP requests through civetweb's parser and the web server's handlers: the
// server listens on a loopback port of the fuzzing process, and each input is sent on
// a new connection, the sending side closed, and the answer read, while this thread
// plays the player's main thread (web_main_pass), so that uploads, choices and
// deletions are carried out.
//
// The process pairs itself once at start; "@C@" in an input stands for its cookie's
// token and "@P@" for the port, so that the fuzzer reaches the handlers behind the
// pairing check (fuzz/web_request.dict holds both inside whole headers).
//
// Checked: every answer is a status line and headers (civetweb answers a request of an
// unknown HTTP version in that version), or nothing; no request writes anything outside
// the subtitle directory but the paired browsers' file.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "web/bridge.h"
#include "web/server.h"

namespace fs = std::filesystem;

namespace {

std::mutex log_lock;
std::string last_code;
std::string token;
int port = 0;

// Sends request on a new connection, closes the sending side and returns the answer,
// running the main thread's passes while the server works.
std::string exchange(std::string_view request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) std::abort();
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::abort();
    // A server that answers before reading everything closes the connection: the rest
    // of the request is then no longer wanted.
    while (!request.empty()) {
        const ssize_t n = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        if (n <= 0) break;
        request.remove_prefix(static_cast<size_t>(n));
    }
    ::shutdown(fd, SHUT_WR);
    std::string answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1) > 0) {
            char buf[16384];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            answer.append(buf, static_cast<size_t>(n));
            continue;
        }
        web_main_pass(web_place::at_rest);
        FUZZ_CHECK(std::chrono::steady_clock::now() < deadline);
    }
    ::close(fd);
    return answer;
}

std::string with_stand_ins(std::string text) {
    for (const auto& [mark, value] :
         {std::pair<std::string, std::string>{"@C@", token}, {"@P@", std::to_string(port)}}) {
        for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at)) {
            text.replace(at, mark.size(), value);
            at += value.size();
        }
    }
    return text;
}

std::string request(std::string_view method, std::string_view path, std::string_view body) {
    return std::string(method) + " " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

void set_up() {
    // The display is up: the pairing code goes on its status line.
    fuzzsup::make_root(true);
    fuzzsup::open_display();
    web_options o;
    o.address = "127.0.0.1";
    o.port = 0;
    o.workers = 1;
    o.idle_ms = 200;
    o.log = [](std::string_view line) {
        constexpr std::string_view kCode = "web: pairing code ";
        std::lock_guard lk(log_lock);
        if (line.starts_with(kCode)) last_code = line.substr(kCode.size());
    };
    if (!web_start(o)) std::abort();
    port = web_port();
    exchange(request("POST", "/api/pair", "{}"));
    std::string code;
    {
        std::lock_guard lk(log_lock);
        code = last_code;
    }
    const std::string paired =
        exchange(request("POST", "/api/pair", "{\"code\":\"" + code + "\"}"));
    const size_t at = paired.find("lumetra=");
    if (at == std::string::npos) std::abort();
    token = paired.substr(at + 8, 32);
    std::atexit(web_stop);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (set_up(), true);
    (void)ready;
    const std::string input =
        with_stand_ins(std::string(reinterpret_cast<const char*>(data), size));
    const std::string answer = exchange(input);
    FUZZ_CHECK(answer.empty() || (answer.starts_with("HTTP/") && answer.size() >= 12 &&
                                  answer.find("\r\n\r\n") != std::string::npos));

    // Nothing outside the subtitle directory but the paired browsers' file.
    const fs::path box = fuzzsup::host("/var/tuxbox/Tresk");
    const fs::path top = fuzzsup::host("/");
    size_t in_tit = 0;
    for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::path& p = it->path();
        if (p == box / "tit") {
            for (const auto& e : fs::directory_iterator(p)) {
                (void)e;
                ++in_tit;
            }
            it.disable_recursion_pending();
            continue;
        }
        const std::string name = p.filename().string();
        // The paired browsers, the font, and the sync memory: choosing a second language
        // on the page remembers it with the file playing.
        const bool allowed = p == top / "var" || p == top / "var" / "tuxbox" || p == box ||
                             (p.parent_path() == box &&
                              (name == "tresk.web" || name == "Tresk.ttf" || name == "tresk.sync"));
        if (!allowed)
            std::fprintf(stderr, "written outside the subtitle directory: %s\n", p.c_str());
        FUZZ_CHECK(allowed);
    }
    // The directory is emptied now and then so that the fuzzer's files do not pile up.
    if (in_tit > 64) {
        for (const auto& e : fs::directory_iterator(box / "tit")) fs::remove_all(e.path());
    }
    return 0;
}
