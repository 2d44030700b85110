// The simulator's key-script parser on any text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "sim/script.h"

namespace {

size_t line_count(std::string_view text) {
    size_t n = 1;
    for (char c : text) n += c == '\n';
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<sim::script_command> out;
    sim::script_error err;
    const bool ok = sim::parse_script(text, out, err);
    const size_t lines = line_count(text);
    int previous = 0;
    for (const auto& c : out) {
        FUZZ_CHECK(c.line > previous && static_cast<size_t>(c.line) <= lines);
        previous = c.line;
        if (c.op == sim::script_op::wait) FUZZ_CHECK(c.ms <= sim::kMaxScriptWait);
        if (c.op == sim::script_op::snap || c.op == sim::script_op::compose) {
            FUZZ_CHECK(!c.file.empty());
        }
    }
    if (!ok) {
        FUZZ_CHECK(err.line >= 1 && static_cast<size_t>(err.line) <= lines);
        FUZZ_CHECK(!err.message.empty());
        FUZZ_CHECK(out.empty() || out.back().line < err.line);
    }

    // Names and codes of keys agree both ways.
    if (size >= 2) {
        const auto code = static_cast<uint16_t>(data[0] | data[1] << 8);
        std::string_view name = sim::key_name(code);
        if (!name.empty()) FUZZ_CHECK(sim::key_code(name) == code);
    }
    auto code = sim::key_code(text);
    if (code && !sim::key_name(*code).empty()) {
        FUZZ_CHECK(sim::key_code(sim::key_name(*code)) == code);
    }
    return 0;
}
