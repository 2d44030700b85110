// The transport stream reader fed arbitrary bytes, whole and again in pieces of a
// size the first byte chooses: both read alike, and whatever it finds keeps its
// limits (streams, stretches per stream, text kept), every stretch ends after it
// starts, and the chosen stream is one of those found.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "conv/recording.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = 1 + size_t{data[0]} * 7;
    const std::span<const uint8_t> bytes(data + 1, size - 1);

    conv::RecordingReader whole;
    whole.feed(bytes);
    const conv::Recording a = whole.finish();
    conv::RecordingReader pieces;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        pieces.feed(bytes.subspan(at, std::min(piece, bytes.size() - at)));
    }
    const conv::Recording b = pieces.finish();

    FUZZ_CHECK(a.packets == b.packets && a.packets <= static_cast<int64_t>(bytes.size() / 188));
    FUZZ_CHECK(a.damage.bytes_out_of_sync == b.damage.bytes_out_of_sync);
    FUZZ_CHECK(a.damage.dropped_subtitles == b.damage.dropped_subtitles);
    FUZZ_CHECK(a.streams.size() == b.streams.size() && a.streams.size() <= 16);
    for (size_t s = 0; s < a.streams.size(); ++s) {
        const conv::RecordingStream& x = a.streams[s];
        const conv::RecordingStream& y = b.streams[s];
        FUZZ_CHECK(x.pid == y.pid && x.page == y.page && x.shown.size() == y.shown.size());
        FUZZ_CHECK(x.shown.size() <= 20'000 && x.text_bytes <= 256 * 1024);
        size_t text = 0;
        for (size_t i = 0; i < x.shown.size(); ++i) {
            FUZZ_CHECK(x.shown[i].start < x.shown[i].end);
            // Nothing shows longer than 30 s.
            FUZZ_CHECK(x.shown[i].end - x.shown[i].start <= 30'000);
            FUZZ_CHECK(x.shown[i].start == y.shown[i].start && x.shown[i].end == y.shown[i].end);
            FUZZ_CHECK(x.shown[i].text == y.shown[i].text);
            text += x.shown[i].text.size();
        }
        FUZZ_CHECK(text <= x.text_bytes);
        FUZZ_CHECK(!conv::stream_name(x).empty());
    }
    const conv::RecordingStream* chosen = conv::reference_stream(a);
    FUZZ_CHECK(chosen == nullptr ||
               (chosen >= a.streams.data() && chosen < a.streams.data() + a.streams.size() &&
                !chosen->shown.empty()));
    return 0;
}
