// The subtitle converter fed arbitrary bytes, with options taken from the first
// byte. Whatever it writes must load in the player with as many subtitles as it
// reported, in ascending order without overlaps; a failure leaves no output and
// one line of error. Both decoders must read the input alike.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "conv/convert.h"
#include "conv/model.h"
#include "fuzz/fuzz_support.h"
#include "sub/subtitles.h"

namespace {

constexpr const char* kFile = "/var/tuxbox/Tresk/tit/fuzz.tkx";

void check_file(const std::string& output, const conv::ConvertReport& report,
                const conv::ConvertOptions& options) {
    FUZZ_CHECK(!output.empty() && output.back() == '\n');
    FUZZ_CHECK(output.find('\r') == std::string::npos);
    size_t at = 0;
    while (at < output.size()) {
        size_t eol = output.find('\n', at);
        FUZZ_CHECK(eol - at < 999);  // the player reads a line into 1000 bytes
        at = eol + 1;
    }
    std::string header = output.substr(0, output.find('\n'));
    FUZZ_CHECK(conv::source_name_from_header(header) == options.source_name);

    fuzzsup::write_file(kFile, output.data(), output.size());
    sub_error = 0;
    std::unique_ptr<subtitle[]> records = sub_load_file(kFile);
    FUZZ_CHECK(records != nullptr);
    FUZZ_CHECK(subtitle_count == report.cues_written);
    for (int32_t i = 0; i < subtitle_count; ++i) {
        FUZZ_CHECK(records[i].start_ms < records[i].end_ms);
        if (i > 0) FUZZ_CHECK(records[i - 1].end_ms <= records[i].start_ms);
    }
    sub_release(records, subtitle_count);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsup::make_root(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    conv::ConvertOptions options;
    const uint8_t knobs = data[0];
    options.plain = (knobs & 1) != 0;
    options.wrap_width = (knobs & 2) != 0 ? 12 : 40;
    options.fps = (knobs & 4) != 0 ? 25.0 : 23.976;
    options.offset_seconds = (knobs & 8) != 0 ? -3.5 : 0.0;
    options.source_name = "in.srt";
    std::span<const uint8_t> input(data + 1, size - 1);

    conv::looks_convertible(input);
    std::string output;
    conv::ConvertReport report;
    int result = conv::convert_with(input, options, conv::Decoder::kIconv, false, output, report);
    if (result != conv::kConvertOk) {
        FUZZ_CHECK(result == conv::kConvertFailed);
        FUZZ_CHECK(output.empty());
        FUZZ_CHECK(!report.error.empty() && report.error.find('\n') == std::string::npos);
    } else {
        FUZZ_CHECK(report.error.empty());
        check_file(output, report, options);
    }
    std::string by_tables;
    conv::ConvertReport tables_report;
    int tables_result =
        conv::convert_with(input, options, conv::Decoder::kTables, false, by_tables, tables_report);
    FUZZ_CHECK(tables_result == result && by_tables == output);
    return 0;
}
