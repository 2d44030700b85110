// The box's web server: routing, the safety rules every request passes, pairing, and
// the handlers that hand the page's wishes to the main thread through web/bridge.h.
#include "web/server.h"

#include <civetweb.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "hw/device.h"
#include "rc/remote.h"
#include "web/bridge.h"
#include "web/http.h"
#include "web/page.h"
#include "web/sha256.h"
#include "web/tokens.h"

// web/civetweb_build.c: the connection's socket.
extern "C" int lumetra_mg_socket(const mg_connection* conn);

namespace {

using steady = std::chrono::steady_clock;

constexpr size_t kMaxFileBytes = 4u << 20;
constexpr size_t kMaxRequestBodyBytes = 16u << 20;
// Uploads whose bytes are held at once: a box has little memory, and each may be 4 MB.
constexpr int kMaxUploadsAtOnce = 1;
constexpr size_t kMaxJsonBytes = 1024;
// One move of the second language's own shift, as one press of a channel key.
constexpr int32_t kSecondStepMs = 500;
// Request line and headers, civetweb's buffer for them.
constexpr const char* kMaxHeaderBytes = "16384";
constexpr int kMaxWrongCodes = 5;
constexpr std::string_view kCookieName = "lumetra";
constexpr size_t kTokenBytes = 16;
constexpr std::string_view kCookieAttributes =
    "; HttpOnly; SameSite=Strict; Path=/; Max-Age=7776000";
constexpr std::string_view kSubtitleDirectory = "/var/tuxbox/Tresk/tit/";

enum class route {
    page,
    pair,
    state,
    files,
    file,
    choose,
    second,
    second_off,
    second_earlier,
    second_later,
    key
};

struct reply {
    reply(int s, std::string b, std::string t = "application/json")
        : status(s), body(std::move(b)), type(std::move(t)) {}
    int status;
    std::string body;
    std::string type;
    std::string headers;  // extra header lines, each ending in "\r\n"
};

reply error_reply(int status, std::string_view text) {
    return {status, "{\"error\":" + web_json_string(text) + "}"};
}

struct mg_stopper {
    void operator()(mg_context* c) const { mg_stop(c); }
};

struct server_state {
    web_options options;
    std::string host_name;  // gethostname: a Host header that names the box
    std::unique_ptr<mg_context, mg_stopper> context;
    int port = 0;
};

// The pairing code and the paired browsers, shared by the request threads and the
// main thread's forget key (which may come while no server runs).
struct pairing_state {
    std::mutex m;
    std::string code;  // the live code, or ""
    steady::time_point expires;
    int wrong = 0;
    steady::time_point no_code_until;  // after five wrong tries
    std::vector<web_paired> paired;
};

std::mutex lifecycle;  // web_start and web_stop
std::unique_ptr<server_state> running;
pairing_state pairing;
std::mutex log_lock;
std::function<void(std::string_view)> log_sink;

void log_line(std::string_view line) {
    std::lock_guard lk(log_lock);
    if (log_sink) {
        log_sink(line);
        return;
    }
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

int64_t wall_seconds() {
    timeval tv{};
    hw_gettimeofday(&tv);
    return tv.tv_sec;
}

bool random_bytes(std::span<uint8_t> out) {
    size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = getrandom(out.data() + got, out.size() - got, 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

std::string hex(std::span<const uint8_t> bytes) {
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

bool equal_in_constant_time(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    if (a.size() != b.size()) return false;
    uint8_t diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= a[i] ^ b[i];
    return diff == 0;
}

std::span<const uint8_t> bytes_of(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

bool expired(const web_paired& p, int64_t now) {
    return now - p.created > kWebPairedSeconds;
}

// Pairing state: call with pairing.m held.
void end_code_locked() {
    if (pairing.code.empty()) return;
    pairing.code.clear();
    pairing.wrong = 0;
    web_show_pairing_code("");
}

bool code_live_locked() {
    if (!pairing.code.empty() && steady::now() >= pairing.expires) end_code_locked();
    return !pairing.code.empty();
}

// On the main thread, from the TV's key: nothing may escape into the player.
void forget_all() {
    std::lock_guard lk(pairing.m);
    pairing.paired.clear();
    try {
        if (web_write_paired({})) {
            log_line("web: every paired browser forgotten");
        } else {
            log_line(std::string("web: cannot write ") + kWebPairedPath);
        }
    } catch (const std::bad_alloc&) {
        // Forgotten until the server starts again; the next pairing writes the file.
    }
}

bool token_paired(const mg_connection* conn) {
    const char* cookies = mg_get_header(conn, "Cookie");
    if (cookies == nullptr) return false;
    std::array<char, 2 * kTokenBytes + 2> value{};
    const int n =
        mg_get_cookie(cookies, std::string(kCookieName).c_str(), value.data(), value.size());
    if (n != static_cast<int>(2 * kTokenBytes)) return false;
    const web_digest hash = web_sha256(bytes_of(std::string_view(value.data(), 2 * kTokenBytes)));
    const int64_t now = wall_seconds();
    std::lock_guard lk(pairing.m);
    bool found = false;
    for (const web_paired& p : pairing.paired) {
        // Every entry is compared, so the time taken tells nothing of which matched.
        found |= equal_in_constant_time(hash, p.hash) && !expired(p, now);
    }
    return found;
}

// POST /api/pair: {} asks for a code on the TV, {"code":"NNNNNN"} pairs with it.
reply pair(const web_json_fields& fields, const server_state& s) {
    const std::string* code = web_json_field(fields, "code");
    std::lock_guard lk(pairing.m);
    const bool live = code_live_locked();
    if (code == nullptr) {
        if (!live && steady::now() < pairing.no_code_until) {
            return error_reply(429, "te veel verkeerde codes: vraag over een minuut een nieuwe");
        }
        if (!live) {
            std::array<uint8_t, 4> r{};
            uint32_t n = 0;
            // Draws above the last whole million would make low codes likelier.
            do {
                if (!random_bytes(r)) return error_reply(500, "geen willekeurige code");
                n = uint32_t{r[0]} << 24 | uint32_t{r[1]} << 16 | uint32_t{r[2]} << 8 | r[3];
            } while (n >= 4294000000u);
            std::array<char, 8> digits{};
            std::snprintf(digits.data(), digits.size(), "%06u", n % 1000000u);
            pairing.code = digits.data();
            pairing.wrong = 0;
            pairing.expires = steady::now() + std::chrono::milliseconds(s.options.code_ms);
            log_line("web: pairing code " + pairing.code);
        }
        web_show_pairing_code(pairing.code);
        return {200, "{\"shown\":true}"};
    }
    if (code->size() != 6 || code->find_first_not_of("0123456789") != std::string::npos) {
        return error_reply(400, "de code is zes cijfers");
    }
    if (!live) return error_reply(403, "geen geldige code: vraag een nieuwe");
    if (!equal_in_constant_time(bytes_of(*code), bytes_of(pairing.code))) {
        if (++pairing.wrong >= kMaxWrongCodes) {
            end_code_locked();
            pairing.no_code_until =
                steady::now() + std::chrono::milliseconds(s.options.code_lockout_ms);
            return error_reply(403, "verkeerde code: vraag een nieuwe");
        }
        return error_reply(403, "verkeerde code");
    }
    std::array<uint8_t, kTokenBytes> token{};
    if (!random_bytes(token)) return error_reply(500, "geen willekeurige sleutel");
    const std::string token_hex = hex(token);
    const int64_t now = wall_seconds();
    std::vector<web_paired> list;
    for (const web_paired& p : pairing.paired) {
        if (!expired(p, now)) list.push_back(p);
    }
    while (list.size() >= kWebMaxPaired) list.erase(list.begin());
    list.push_back({web_sha256(bytes_of(token_hex)), now});
    if (!web_write_paired(list)) {
        log_line(std::string("web: cannot write ") + kWebPairedPath);
        return error_reply(500, "koppelen niet opgeslagen");
    }
    pairing.paired = std::move(list);
    end_code_locked();
    log_line("web: a browser was paired");
    reply r{200, "{\"paired\":true}"};
    r.headers = "Set-Cookie: " + std::string(kCookieName) + "=" + token_hex +
                std::string(kCookieAttributes) + "\r\n";
    return r;
}

reply key(const web_json_fields& fields) {
    const std::string* name = web_json_field(fields, "key");
    const int code = name != nullptr ? rc_key_from_name(*name) : -1;
    if (code < 0) return error_reply(400, "onbekende toets");
    if (!web_post_key(code)) return error_reply(503, "te veel toetsen tegelijk");
    return {200, "{\"ok\":true}"};
}

reply command_reply(const web_result& r, std::string_view name) {
    if (r.status >= 200 && r.status < 300) {
        return {r.status, "{\"name\":" + web_json_string(name) + "}"};
    }
    return error_reply(r.status, r.error.empty() ? "mislukt" : r.error);
}

// choose and remove: only a listed name, and only a file itself, never a link out of
// the directory.
reply listed_command(web_command_kind kind, const std::string& name) {
    if (!web_listed_name_ok(name)) return error_reply(400, "ongeldige naam");
    const web_state st = web_snapshot();
    bool listed = false;
    for (const std::string& f : st.files) listed |= f == name;
    const std::string path = std::string(kSubtitleDirectory) + name + ".tkx";
    struct stat info {};
    if (!listed || hw_lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return error_reply(404, "bestand niet gevonden");
    }
    return command_reply(web_run_command({kind, name, {}, false}), name);
}

bool query_has(std::string_view query, std::string_view wanted) {
    while (!query.empty()) {
        const size_t amp = query.find('&');
        if (query.substr(0, amp) == wanted) return true;
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return false;
}

// The route of a path, and the raw name segment of /api/files/{name}[/choose].
std::optional<route> route_of(std::string_view path, std::string_view& segment) {
    if (path == "/") return route::page;
    if (path == "/api/pair") return route::pair;
    if (path == "/api/state") return route::state;
    if (path == "/api/files") return route::files;
    if (path == "/api/key") return route::key;
    if (path == "/api/second/off") return route::second_off;
    if (path == "/api/second/earlier") return route::second_earlier;
    if (path == "/api/second/later") return route::second_later;
    constexpr std::string_view kFiles = "/api/files/";
    if (!path.starts_with(kFiles)) return std::nullopt;
    std::string_view rest = path.substr(kFiles.size());
    const size_t slash = rest.find('/');
    segment = rest.substr(0, slash);
    if (segment.empty()) return std::nullopt;
    if (slash == std::string_view::npos) return route::file;
    if (rest.substr(slash) == "/choose") return route::choose;
    if (rest.substr(slash) == "/second") return route::second;
    return std::nullopt;
}

bool method_allowed(route r, std::string_view method, std::string& allow) {
    switch (r) {
        case route::page:
        case route::state:
        case route::files:
            allow = "GET";
            break;
        case route::pair:
        case route::choose:
        case route::second:
        case route::second_off:
        case route::second_earlier:
        case route::second_later:
        case route::key:
            allow = "POST";
            break;
        case route::file:
            allow = "PUT, DELETE";
            return method == "PUT" || method == "DELETE";
    }
    return method == allow;
}

std::atomic<int> uploads_held{0};

// One of the kMaxUploadsAtOnce places for an upload's bytes, given back at the end of
// the request.
class upload_slot {
  public:
    upload_slot() = default;
    upload_slot(const upload_slot&) = delete;
    upload_slot& operator=(const upload_slot&) = delete;
    ~upload_slot() {
        if (taken_) uploads_held.fetch_sub(1);
    }
    bool take() {
        if (uploads_held.fetch_add(1) >= kMaxUploadsAtOnce) {
            uploads_held.fetch_sub(1);
            return false;
        }
        taken_ = true;
        return true;
    }

  private:
    bool taken_ = false;
};

enum class body_result { read, too_slow, broken };

// Reads length bytes of body by the deadline. civetweb's read returns only with every
// byte asked for (or after idle_ms of silence), so it is asked for what has arrived,
// at least one byte: a trickling client is then caught between two reads.
body_result read_body(mg_connection* conn, size_t length, steady::time_point deadline,
                      std::vector<uint8_t>& out) {
    out.resize(length);
    size_t got = 0;
    const int fd = lumetra_mg_socket(conn);
    while (got < length) {
        if (steady::now() > deadline) return body_result::too_slow;
        int arrived = 0;
        if (fd < 0 || ioctl(fd, FIONREAD, &arrived) != 0 || arrived < 1) arrived = 1;
        const size_t want = std::min<size_t>(length - got, static_cast<size_t>(arrived));
        const int n = mg_read(conn, out.data() + got, want);
        if (n <= 0) return body_result::broken;
        got += static_cast<size_t>(n);
    }
    return steady::now() > deadline ? body_result::too_slow : body_result::read;
}

std::optional<reply> handle(mg_connection* conn, const server_state& s) {
    const steady::time_point start = steady::now();
    const mg_request_info* info = mg_get_request_info(conn);
    const std::string_view method = info->request_method != nullptr ? info->request_method : "";
    const char* host_header = mg_get_header(conn, "Host");
    const std::string_view host = host_header != nullptr ? host_header : "";
    if (!web_host_allowed(host, s.host_name)) return error_reply(403, "onbekende host");

    std::string_view segment;
    const std::optional<route> r =
        route_of(info->local_uri_raw != nullptr ? info->local_uri_raw : "", segment);
    if (!r) return error_reply(404, "niet gevonden");
    std::string allow;
    if (!method_allowed(*r, method, allow)) {
        reply e = error_reply(405, "methode niet toegestaan");
        e.headers = "Allow: " + allow + "\r\n";
        return e;
    }
    if (method != "GET") {
        const char* origin = mg_get_header(conn, "Origin");
        if (origin != nullptr && !web_origin_allowed(origin, host)) {
            return error_reply(403, "verzoek van een andere site");
        }
    }
    if (*r != route::page && *r != route::pair && !token_paired(conn)) {
        return error_reply(401, "niet gekoppeld");
    }

    // The body: its length told beforehand, within the limit of what the route takes.
    const bool upload = *r == route::file && method == "PUT";
    const char* length_header = mg_get_header(conn, "Content-Length");
    if (mg_get_header(conn, "Transfer-Encoding") != nullptr ||
        (upload && length_header == nullptr) || info->content_length < -1) {
        return error_reply(411, "lengte ontbreekt");
    }
    const size_t length = info->content_length > 0 ? static_cast<size_t>(info->content_length) : 0;
    upload_slot slot;
    if (upload && !slot.take()) return error_reply(503, "er loopt al een upload: probeer zo weer");
    const size_t limit = upload ? kMaxFileBytes : kMaxJsonBytes;
    if (length > kMaxRequestBodyBytes || length > limit) {
        return error_reply(413, upload ? "bestand te groot" : "verzoek te groot");
    }
    std::vector<uint8_t> body;
    const auto allowed = std::chrono::milliseconds(
        s.options.idle_ms + static_cast<int64_t>(length) * 1000 / s.options.body_bytes_per_s);
    switch (read_body(conn, length, start + allowed, body)) {
        case body_result::read:
            break;
        case body_result::too_slow:
            return error_reply(408, "te traag");
        case body_result::broken:
            return std::nullopt;
    }
    const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());

    switch (*r) {
        case route::page: {
            reply p{200, std::string(web_page_html()), "text/html; charset=utf-8"};
            return p;
        }
        case route::state:
            return reply{200, web_state_json(web_snapshot())};
        case route::files:
            return reply{200, web_files_json(web_snapshot())};
        case route::pair:
        case route::key: {
            const std::optional<web_json_fields> fields =
                text.empty() && *r == route::pair ? web_json_fields{} : web_parse_json_object(text);
            if (!fields) return error_reply(400, "ongeldig verzoek");
            return *r == route::pair ? pair(*fields, s) : key(*fields);
        }
        case route::second_off:
            return command_reply(web_run_command({web_command_kind::second_off, {}, {}, false}),
                                 {});
        case route::second_earlier:
        case route::second_later: {
            // Earlier: the second language's lines come sooner, as CHANNELUP does.
            const int32_t delta = *r == route::second_earlier ? kSecondStepMs : -kSecondStepMs;
            return command_reply(
                web_run_command({web_command_kind::second_shift, {}, {}, false, delta}), {});
        }
        case route::file:
        case route::choose:
        case route::second:
            break;
    }
    const std::optional<std::string> decoded = web_percent_decode(segment);
    if (!decoded) return error_reply(400, "ongeldige naam");
    if (*r == route::choose) return listed_command(web_command_kind::choose, *decoded);
    if (*r == route::second) return listed_command(web_command_kind::second, *decoded);
    if (method == "DELETE") return listed_command(web_command_kind::remove, *decoded);
    const std::optional<std::string> name = web_upload_name(*decoded);
    if (!name) return error_reply(400, "ongeldige naam");
    const bool replace =
        info->query_string != nullptr && query_has(info->query_string, "replace=1");
    return command_reply(web_run_command({web_command_kind::add, *name, std::move(body), replace}),
                         *name);
}

void send(mg_connection* conn, const reply& r) {
    const char* reason = mg_get_response_code_text(conn, r.status);
    mg_printf(
        conn,
        "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
        "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
        "X-Frame-Options: DENY\r\nReferrer-Policy: no-referrer\r\n%sConnection: close\r\n\r\n",
        r.status, reason != nullptr ? reason : "", r.type.c_str(), r.body.size(),
        r.headers.c_str());
    mg_write(conn, r.body.data(), r.body.size());
}

// civetweb's begin_request: every request is answered here, none by civetweb's own
// handling (files, CORS, OPTIONS).
int begin_request(mg_connection* conn) {
    const auto* s = static_cast<const server_state*>(mg_get_user_data(mg_get_context(conn)));
    // An upload's 4 MB may be more than a box has free: that request fails, not the
    // player (nothing may unwind through civetweb's C frames).
    try {
        const std::optional<reply> r = handle(conn, *s);
        if (r) send(conn, *r);
        // 1: answered; a broken body leaves nothing to answer and the connection closes.
        return r ? r->status : 1;
    } catch (const std::bad_alloc&) {
        constexpr std::string_view kNoMemory = "{\"error\":\"geen geheugen\"}";
        mg_printf(conn,
                  "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
                  "Content-Length: %zu\r\nConnection: close\r\n\r\n%s",
                  kNoMemory.size(), kNoMemory.data());
        return 503;
    }
}

// civetweb's own messages (a client that went away, ...) are no news for the log.
int quiet(const mg_connection*, const char*) {
    return 1;
}

}  // namespace

bool web_start(const web_options& options) {
    std::lock_guard lk(lifecycle);
    if (running) return true;
    {
        std::lock_guard log_lk(log_lock);
        log_sink = options.log;
    }
    auto s = std::make_unique<server_state>();
    s->options = options;
    if (s->options.body_bytes_per_s <= 0) s->options.body_bytes_per_s = 1;
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) == 0) s->host_name = name.data();

    {
        std::lock_guard plk(pairing.m);
        pairing.code.clear();
        pairing.wrong = 0;
        pairing.no_code_until = {};
        switch (web_read_paired(pairing.paired)) {
            case web_paired_file::read:
            case web_paired_file::missing:
                break;
            case web_paired_file::damaged:
                log_line(std::string("web: ") + kWebPairedPath +
                         " is damaged: no browser is paired");
                break;
        }
    }

    mg_init_library(0);
    const std::string listen = (options.address.empty() ? std::string() : options.address + ":") +
                               std::to_string(options.port);
    const std::string workers = std::to_string(std::max(1, options.workers));
    const std::string idle = std::to_string(std::max(1, options.idle_ms));
    // One request a connection: a phone polling the state opens a new one each time,
    // and no idle connection holds a request thread.
    const std::array<std::pair<const char*, std::string>, 10> settings{{
        {"listening_ports", listen},
        {"num_threads", workers},
        {"connection_queue", workers},
        {"listen_backlog", workers},
        {"max_request_size", kMaxHeaderBytes},
        {"request_timeout_ms", idle},
        {"enable_keep_alive", "no"},
        {"decode_url", "no"},
        {"access_control_allow_origin", ""},
        {"access_control_allow_methods", ""},
    }};
    std::vector<const char*> config;
    for (const auto& [name, value] : settings) {
        config.push_back(name);
        config.push_back(value.c_str());
    }
    config.push_back(nullptr);
    mg_callbacks callbacks{};
    callbacks.begin_request = begin_request;
    callbacks.log_message = quiet;
    mg_init_data init{&callbacks, s.get(), const_cast<const char**>(config.data())};
    std::array<char, 256> error_text{};
    unsigned error_code = 0;
    mg_error_data error{&error_code, error_text.data(), error_text.size()};
    s->context.reset(mg_start2(&init, &error));
    if (!s->context) {
        log_line("web: cannot listen on " + listen + ": " +
                 (error_text[0] != '\0' ? error_text.data() : "civetweb did not start"));
        mg_exit_library();
        return false;
    }
    std::array<mg_server_port, 1> ports{};
    if (mg_get_server_ports(s->context.get(), static_cast<int>(ports.size()), ports.data()) < 1) {
        s->context.reset();
        mg_exit_library();
        log_line("web: cannot listen on " + listen);
        return false;
    }
    s->port = ports[0].port;
    web_set_forget_paired(forget_all);
    web_set_serving(true);
    log_line("web: listening on " +
             (options.address.empty() ? std::string("0.0.0.0") : options.address) + ":" +
             std::to_string(s->port));
    running = std::move(s);
    return true;
}

void web_stop() {
    std::lock_guard lk(lifecycle);
    if (!running) return;
    web_set_serving(false);
    running->context.reset();
    running.reset();
    mg_exit_library();
    std::lock_guard plk(pairing.m);
    end_code_locked();
}

int web_port() {
    std::lock_guard lk(lifecycle);
    return running ? running->port : 0;
}
