// The automatic sync's alignment of a two-hour film (1500 cues), one distortion at a
// time, for counting the instructions it takes on a box's processor under an
// emulator (scripts/mips-instructions.sh). A count covers the whole process, so each
// measured run has a baseline run that does everything else the same: the difference
// is the alignment alone.
//
//   lumetra-align-count                 every case aligned once: what it found, and the
//                                       share of cues placed within 100 ms
//   lumetra-align-count CASE            case CASE (0 to 11) aligned once
//   lumetra-align-count CASE --baseline the same material, not aligned
//   lumetra-align-count read            a minute of a broadcast recording read
//   lumetra-align-count read --baseline the same minute, made but not read
//
// The measured runs print the material's size and a checksum of it, so that a run
// and its baseline can be seen to have worked on the same.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "conv/align.h"
#include "conv/recording.h"
#include "tests/support/sync_samples.h"
#include "tests/support/ts_samples.h"

namespace {

constexpr int kCues = 1500;
constexpr int64_t kToleranceMs = 100;
constexpr size_t kReadPiece = 65536;

int usage() {
    std::fprintf(stderr,
                 "usage: lumetra-align-count [CASE [--baseline] | read [--baseline]]\n"
                 "CASE, a distortion of a two-hour film:\n");
    for (size_t i = 0; i < testsup::kDistortions.size(); ++i) {
        std::fprintf(stderr, "  %2zu  %s\n", i, testsup::kDistortions[i].name);
    }
    return 2;
}

testsup::Distorted distorted_copy(size_t which, const std::vector<conv::TimeSpan>& film) {
    return testsup::distort(film, testsup::kDistortions[which], 11);
}

uint64_t checksum(std::span<const conv::TimeSpan> spans) {
    uint64_t sum = 0;
    for (const conv::TimeSpan& s : spans) {
        sum = sum * 31 + static_cast<uint64_t>(s.start_ms);
        sum = sum * 31 + static_cast<uint64_t>(s.end_ms);
    }
    return sum;
}

uint64_t checksum(std::span<const uint8_t> bytes) {
    uint64_t sum = 0;
    for (uint8_t b : bytes) sum = sum * 31 + b;
    return sum;
}

// One line for a measured run, the same for the run and its baseline (whose alignment
// is an empty one), so that printing it costs both alike.
int measure_case(size_t which, bool align) {
    const std::vector<conv::TimeSpan> film = testsup::film_times(kCues, 7);
    const testsup::Distorted copy = distorted_copy(which, film);
    conv::Alignment alignment;
    if (align) alignment = conv::align_spans(copy.cues, film);
    const size_t splits = alignment.segments.empty() ? 0 : alignment.segments.size() - 1;
    std::printf("case %zu (%s): %zu cues to %zu, material %016" PRIx64
                "; %s: ratio %s, %zu splits, confidence %d permille\n",
                which, testsup::kDistortions[which].name, copy.cues.size(), film.size(),
                checksum(copy.cues) ^ checksum(film), align ? "aligned" : "not aligned",
                alignment.ratio_name, splits, alignment.confidence_permille);
    return 0;
}

int measure_reading(bool read) {
    const testsup::Bytes minute = testsup::broadcast_minute();
    conv::Recording recording;
    if (read) {
        conv::RecordingReader reader;
        const std::span<const uint8_t> all(minute);
        for (size_t at = 0; at < all.size(); at += kReadPiece) {
            reader.feed(all.subspan(at, std::min(kReadPiece, all.size() - at)));
        }
        recording = reader.finish();
    }
    const size_t shown = recording.streams.empty() ? 0 : recording.streams.front().shown.size();
    std::printf("broadcast minute: %zu bytes, %zu packets, material %016" PRIx64 "; %s: %" PRId64
                " packets, %zu streams, %zu shown\n",
                minute.size(), minute.size() / 188, checksum(minute), read ? "read" : "not read",
                recording.packets, recording.streams.size(), shown);
    return 0;
}

int list_cases() {
    const std::vector<conv::TimeSpan> film = testsup::film_times(kCues, 7);
    for (size_t i = 0; i < testsup::kDistortions.size(); ++i) {
        const testsup::Distortion& d = testsup::kDistortions[i];
        const testsup::Distorted copy = distorted_copy(i, film);
        const conv::Alignment alignment = conv::align_spans(copy.cues, film);
        std::printf(
            "case %2zu %-17s within 100 ms %4d permille (single offset %4d), "
            "ratio %s (expected %s), %zu splits, confidence %d permille\n",
            i, d.name, testsup::accuracy_permille(copy, alignment, kToleranceMs),
            testsup::single_offset_permille(copy, alignment, kToleranceMs), alignment.ratio_name,
            d.ratio_found, alignment.segments.empty() ? 0 : alignment.segments.size() - 1,
            alignment.confidence_permille);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) return list_cases();
    if (argc > 3) return usage();
    bool measure = true;
    if (argc == 3) {
        if (std::string_view(argv[2]) != "--baseline") return usage();
        measure = false;
    }
    const std::string_view what = argv[1];
    if (what == "read") return measure_reading(measure);
    char* end = nullptr;
    const unsigned long which = std::strtoul(argv[1], &end, 10);
    if (what.empty() || *end != '\0' || what.front() == '-' ||
        which >= testsup::kDistortions.size()) {
        return usage();
    }
    return measure_case(which, measure);
}
