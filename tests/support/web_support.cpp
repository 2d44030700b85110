#include "tests/support/web_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "hw/device.h"
#include "library/library.h"
#include "web/bridge.h"

namespace testsup {

namespace {

std::mutex bridge_lock;
bridge_record seen;

std::string lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

}  // namespace

bridge_record bridge_seen() {
    std::lock_guard lk(bridge_lock);
    return seen;
}

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

class main_thread {};

web_fixture::web_fixture() = default;
web_fixture::~web_fixture() = default;

void web_fixture::SetUp() {
    setup_box(root_);
    std::lock_guard lk(bridge_lock);
    seen = {};
}

void web_fixture::TearDown() {
    stop();
}

bool web_fixture::start(web_options o) {
    if (o.address.empty()) o.address = "127.0.0.1";
    if (o.port == 8765) o.port = 0;
    if (o.idle_ms == web_options{}.idle_ms) o.idle_ms = 300;
    o.log = [lock = log_lock_, log = log_](std::string_view line) {
        std::lock_guard lk(*lock);
        log->emplace_back(line);
    };
    const bool started = web_start(o);
    port_ = web_port();
    return started;
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

// Until the player's side of the bridge is built in: the library's own functions,
// called at once, stand for the main thread.
bool web_post_key(int code) {
    std::lock_guard lk(testsup::bridge_lock);
    testsup::seen.keys.push_back(code);
    return true;
}

web_result web_run_command(web_command c, int) {
    std::string error;
    switch (c.kind) {
        case web_command_kind::add:
            if (c.replace) hw_unlink(("/var/tuxbox/Tresk/tit/" + c.name).c_str());
            if (!library_add_file(c.name, c.bytes, error)) return {400, error};
            return {201, ""};
        case web_command_kind::choose:
            return {200, ""};
        case web_command_kind::remove:
            return library_delete_entry(c.name) == 0 ? web_result{200, ""} : web_result{404, "weg"};
    }
    return {};
}

web_state web_snapshot() {
    web_state st;
    library_names names;
    if (library_list(names)) {
        for (const auto& n : names) st.files.emplace_back(n.get());
    }
    return st;
}

void web_show_pairing_code(std::string_view code) {
    std::lock_guard lk(testsup::bridge_lock);
    testsup::seen.shown_codes.emplace_back(code);
}

void web_set_forget_paired(web_forget_fn forget) {
    std::lock_guard lk(testsup::bridge_lock);
    testsup::seen.forget = forget;
}
