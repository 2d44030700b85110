#include "tests/support/web_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "web/bridge.h"

namespace testsup {

namespace {

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

}  // namespace

http_client::http_client(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

http_client::~http_client() {
    if (fd_ >= 0) ::close(fd_);
}

bool http_client::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool http_client::readable(int wait_ms) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, wait_ms) > 0;
}

http_answer http_client::answer() {
    std::string raw;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!readable(100)) continue;
        char buf[65536];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) break;
        raw.append(buf, static_cast<size_t>(n));
    }
    http_answer a;
    const size_t end = raw.find("\r\n\r\n");
    if (!raw.starts_with("HTTP/1.") || end == std::string::npos) return a;
    a.status = std::atoi(raw.c_str() + 9);
    size_t line = raw.find("\r\n") + 2;
    while (line < end) {
        const size_t next = raw.find("\r\n", line);
        const std::string h = raw.substr(line, next - line);
        const size_t colon = h.find(':');
        if (colon != std::string::npos) {
            const size_t v = h.find_first_not_of(' ', colon + 1);
            a.headers[lower(h.substr(0, colon))] = v == std::string::npos ? "" : h.substr(v);
        }
        line = next + 2;
    }
    a.body = raw.substr(end + 4);
    return a;
}

std::string http_request(std::string_view method, std::string_view path, int port,
                         std::string_view headers, std::string_view body) {
    std::string r = std::string(method) + " " + std::string(path) + " HTTP/1.1\r\n";
    if (lower(std::string(headers)).find("host:") == std::string::npos) {
        r += "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
    }
    r += headers;
    if (!body.empty()) r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    r += "\r\n";
    r += body;
    return r;
}

http_answer http_exchange(int port, std::string_view raw) {
    http_client c(port);
    if (!c.connected() || !c.send(raw)) return {};
    return c.answer();
}

std::string cookie_of(const http_answer& a) {
    const auto it = a.headers.find("set-cookie");
    if (it == a.headers.end()) return "";
    return it->second.substr(0, it->second.find(';'));
}

// The player's main thread as far as the page needs it: the display up (the pairing
// code goes on its status line) and the web passes, until stopped.
std::string web_sample(const std::string& name) {
    return read_whole_file(std::string(LUMETRA_SOURCE_DIR) + "/tests/samples/web/" + name);
}

class main_thread {
  public:
    main_thread()
        : thread_([this] {
              ready_ = open_display() != 0;
              while (!stop_) {
                  web_main_pass(web_place::at_rest);
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
              close_display();
          }) {}
    ~main_thread() {
        stop_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> ready_{false};
    std::thread thread_;
};

web_fixture::web_fixture() = default;
web_fixture::~web_fixture() = default;

void web_fixture::SetUp() {
    setup_box(root_, {.xres = 720, .yres = 576});
    web_clear_keys();
    main_ = std::make_unique<main_thread>();
}

void web_fixture::TearDown() {
    stop();
    main_.reset();
}

std::vector<int> web_fixture::keys_posted() {
    std::vector<int> keys;
    for (int k = web_take_key(); k >= 0; k = web_take_key()) keys.push_back(k);
    return keys;
}

bool web_fixture::tv_shows(std::string_view text) {
    return wait_until([&] { return web_snapshot().status == text; }, 10000);
}

bool web_fixture::start(web_options o) {
    if (o.address.empty()) o.address = "127.0.0.1";
    if (o.port == 8765) o.port = 0;
    if (o.idle_ms == web_options{}.idle_ms) o.idle_ms = 300;
    o.log = [lock = log_lock_, log = log_](std::string_view line) {
        std::lock_guard lk(*lock);
        log->emplace_back(line);
    };
    const uint64_t before = web_published_serial();
    const bool started = web_start(o);
    port_ = web_port();
    // The page's view of the player once the main thread has published it.
    return started && wait_until([&] { return web_published_serial() > before; }, 10000);
}

void web_fixture::stop() {
    web_stop();
    port_ = 0;
}

http_answer web_fixture::request(std::string_view method, std::string_view path,
                                 std::string_view cookie, std::string_view body,
                                 std::string_view headers) {
    std::string h(headers);
    if (!cookie.empty()) h += "Cookie: " + std::string(cookie) + "\r\n";
    return http_exchange(port_, http_request(method, path, port_, h, body));
}

std::vector<std::string> web_fixture::log_lines() {
    std::lock_guard lk(*log_lock_);
    return *log_;
}

std::vector<std::string> web_fixture::logged_codes() {
    std::vector<std::string> codes;
    constexpr std::string_view kStart = "web: pairing code ";
    for (const std::string& l : log_lines()) {
        if (l.starts_with(kStart)) codes.push_back(l.substr(kStart.size()));
    }
    return codes;
}

std::string web_fixture::pair() {
    const http_answer asked = request("POST", "/api/pair", {}, "{}");
    EXPECT_EQ(asked.status, 200) << asked.body;
    const std::vector<std::string> codes = logged_codes();
    if (codes.empty()) return "";
    const http_answer paired =
        request("POST", "/api/pair", {}, "{\"code\":\"" + codes.back() + "\"}");
    EXPECT_EQ(paired.status, 200) << paired.body;
    return cookie_of(paired);
}

}  // namespace testsup
