// The web server's tests: a raw-socket HTTP client (so that malformed and slow
// requests can be sent) and a fixture running the server on 127.0.0.1 in a scratch
// box root, with a thread playing the player's main thread.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/support.h"
#include "web/server.h"

namespace testsup {

struct http_answer {
    int status = 0;                              // 0: no answer before the server closed
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

// One connection to 127.0.0.1:port.
class http_client {
  public:
    explicit http_client(int port);
    ~http_client();
    http_client(const http_client&) = delete;
    http_client& operator=(const http_client&) = delete;

    bool connected() const { return fd_ >= 0; }
    // False when the server has closed the connection (or the send failed).
    bool send(std::string_view bytes);
    // Waits up to wait_ms for the server to answer or close; true when it did.
    bool readable(int wait_ms);
    // Reads until the server closes (10 s at most) and parses the answer.
    http_answer answer();

  private:
    int fd_ = -1;
};

// A whole request: "METHOD PATH HTTP/1.1", Host 127.0.0.1:port unless headers name
// one, Content-Length when there is a body, the headers as given ("Name: value\r\n"...).
std::string http_request(std::string_view method, std::string_view path, int port,
                         std::string_view headers = {}, std::string_view body = {});
// Sends raw bytes on a new connection and reads the answer.
http_answer http_exchange(int port, std::string_view raw);

// Plays the player's main thread for the server: the display and the web passes.
class main_thread;

class web_fixture : public ::testing::Test {
  protected:
    web_fixture();
    ~web_fixture() override;
    void SetUp() override;
    void TearDown() override;

    // Starts the server on 127.0.0.1 with a free port, 300 ms of patience and the log
    // caught; changes to the options first.
    bool start(web_options options = {});
    void stop();
    int port() const { return port_; }

    http_answer request(std::string_view method, std::string_view path,
                        std::string_view cookie = {}, std::string_view body = {},
                        std::string_view headers = {});
    // Asks for a code, reads it from the log, and pairs: the "lumetra=..." cookie.
    std::string pair();
    // The pairing codes the log showed, oldest first.
    std::vector<std::string> logged_codes();
    std::vector<std::string> log_lines();
    std::string paired_file() const { return root_.read("/var/tuxbox/Tresk/tresk.web"); }
    const box_root& root() const { return root_; }
    // The keys the page posted since the last call, taken as the remote's reader does.
    std::vector<int> keys_posted();
    // Waits until the TV's status line, as the page reads it, is text.
    bool tv_shows(std::string_view text);

  private:
    box_root root_;
    int port_ = 0;
    std::shared_ptr<std::mutex> log_lock_ = std::make_shared<std::mutex>();
    std::shared_ptr<std::vector<std::string>> log_ = std::make_shared<std::vector<std::string>>();
    std::unique_ptr<main_thread> main_;
};

// A file of tests/samples/web/.
std::string web_sample(const std::string& name);

// The cookie of a pairing answer's Set-Cookie ("lumetra=<hex>"), or "".
std::string cookie_of(const http_answer& a);

}  // namespace testsup
