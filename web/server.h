// The box's web server: the page a phone shows and its JSON API, over civetweb. It
// reaches the player only through web/bridge.h.
//
// Threads: civetweb's listener and `workers` request threads (5 on the box), nothing
// else: each request thread serves one connection from its start to its end, and
// `workers` more accepted connections wait in civetweb's queue, so at most
// 2 * workers (8) connections are held at once. A box has little memory; a phone or
// two poll the state once a second, and an upload waits on the main thread anyway, so
// more threads would buy nothing. The pairing code's time runs out when a request
// looks at it: no timer thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

struct web_options {
    std::string address;  // the address listened on; "" = every interface
    int port = 8765;      // 0 picks a free port
    int workers = 4;      // request threads; as many connections again wait in a queue
    // A client silent this long is dropped, and so is one whose request line and
    // headers take longer in all.
    int idle_ms = 10000;
    // A body must arrive within idle_ms plus its length at this rate (bytes per second).
    int body_bytes_per_s = 32 * 1024;
    int code_ms = 120000;  // a pairing code's life
    // After a code's five wrong tries no new code is given this long: guessing a code of
    // a million five tries at a time would otherwise take a script minutes.
    int code_lockout_ms = 60000;
    // Where the server's lines go ("web: ...", without a newline); default standard error.
    std::function<void(std::string_view)> log;
};

// Starts listening and logs "web: listening on ADDRESS:PORT"; false (logged "web: ...")
// when it cannot, e.g. the port is taken. Reads the paired browsers' file.
bool web_start(const web_options& options);
// Stops the server and waits for its threads; does nothing when none runs.
void web_stop();
// The port listened on, 0 when the server does not run.
int web_port();
