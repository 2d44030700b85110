// An upload's body is more memory than the box has free: that request is refused and
// the server, and the player with it, go on.
#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/support/web_support.h"

namespace {

// Allocations of an upload's size fail while armed.
constexpr size_t kLarge = 1u << 20;
std::atomic<bool> armed{false};

void* allocate(size_t n) {
    if (armed && n >= kLarge) return nullptr;
    return std::malloc(n == 0 ? 1 : n);
}
void* allocate_or_throw(size_t n) {
    void* p = allocate(n);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

void* operator new(size_t n) {
    return allocate_or_throw(n);
}
void* operator new[](size_t n) {
    return allocate_or_throw(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    return allocate(n);
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept {
    return allocate(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

class WebAlloc : public testsup::web_fixture {};

TEST_F(WebAlloc, AnUploadWithoutMemoryIsRefusedAndTheServerGoesOn) {
    ASSERT_TRUE(start());
    const std::string cookie = pair();
    // Only the headers: the server takes the body's memory before reading it.
    const std::string put = testsup::http_request(
        "PUT", "/api/files/big.srt", port(),
        "Cookie: " + cookie + "\r\nContent-Length: " + std::to_string(2u << 20) + "\r\n");
    armed = true;
    const testsup::http_answer a = testsup::http_exchange(port(), put);
    armed = false;
    EXPECT_EQ(a.status, 503);
    EXPECT_EQ(a.body, "{\"error\":\"geen geheugen\"}");
    EXPECT_EQ(request("GET", "/api/files", cookie).status, 200);
    EXPECT_FALSE(root().exists("/var/tuxbox/Tresk/tit/big.srt"));
}

}  // namespace
