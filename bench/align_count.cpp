// The automatic sync's alignment of a two-hour film (1500 cues), one case at a time,
// for counting the instructions it takes on a box's processor under an emulator
// (scripts/mips-instructions.sh). A case is a distortion of the film aligned to a
// reference: the film's own subtitles, a recording of the film (its DVB subtitles, read
// whole, or in pieces as the box reads it first and aligned to by the starts), or speech as a
// detector finds it in a noisy film (spans a little late and short, a tenth missed, false ones from
// the noise); and a few more: a copy already in sync, and one with an intro the film lacks. A count
// covers the whole process, so each measured run has a baseline run that does everything else the
// same: the difference is the alignment alone.
//
//   lumetra-align-count                 every case aligned once: what it found, and the
//                                       share of cues placed within 100 and 200 ms
//   lumetra-align-count CASE            case CASE aligned once
//   lumetra-align-count CASE --baseline the same material, not aligned
//   lumetra-align-count read            a minute of a broadcast recording read
//   lumetra-align-count read --baseline the same minute, made but not read
//
// The measured runs print the material's size and a checksum of it, so that a run
// and its baseline can be seen to have worked on the same.
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
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

enum class Reference { kSubtitles, kRecording, kRecordingPieces, kSpeech };
constexpr std::array<const char*, 4> kReferenceNames = {"", "recording: ", "pieces: ", "speech: "};

// An intro of this long that the film lacks, its cues belonging nowhere.
constexpr int64_t kIntroMs = 90'000;

struct Case {
    std::string name;
    Reference reference;
    const testsup::Distortion* distortion;  // nullptr: the copy with an intro
};

std::vector<Case> cases() {
    static const testsup::Distortion kInSync{"already in sync"};
    std::vector<Case> all;
    for (const Reference r : {Reference::kSubtitles, Reference::kRecording,
                              Reference::kRecordingPieces, Reference::kSpeech}) {
        for (const testsup::Distortion& d : testsup::kDistortions) {
            all.push_back({kReferenceNames[static_cast<size_t>(r)] + std::string(d.name), r, &d});
        }
    }
    for (const Reference r : {Reference::kSubtitles, Reference::kSpeech}) {
        const std::string kind = kReferenceNames[static_cast<size_t>(r)];
        all.push_back({kind + kInSync.name, r, &kInSync});
        all.push_back({kind + "extra intro", r, nullptr});
    }
    return all;
}

int usage() {
    std::fprintf(stderr,
                 "usage: lumetra-align-count [CASE [--baseline] | read [--baseline]]\n"
                 "CASE, a distortion of a two-hour film and its reference:\n");
    const std::vector<Case> all = cases();
    for (size_t i = 0; i < all.size(); ++i)
        std::fprintf(stderr, "  %2zu  %s\n", i, all[i].name.c_str());
    return 2;
}

// A case's copy and reference.
struct Material {
    testsup::Distorted copy;
    std::vector<conv::TimeSpan> cues;  // what is aligned: the copy's, or their start marks
    std::vector<conv::TimeSpan> reference;
};

Material material(const Case& c) {
    const std::vector<conv::TimeSpan> film = testsup::film_times(kCues, 7);
    Material m;
    if (c.distortion != nullptr) {
        m.copy = testsup::distort(film, *c.distortion, 11);
    } else {
        // Cues every 4 s through the intro, then the film later by the intro.
        const testsup::Distorted film_copy = testsup::distort(film, {"", 1, 1, kIntroMs}, 11);
        for (int64_t t = 1000; t + 3000 < kIntroMs; t += 4000) {
            m.copy.cues.push_back({t, t + 2500});
            m.copy.belongs.push_back(-1);
        }
        m.copy.cues.insert(m.copy.cues.end(), film_copy.cues.begin(), film_copy.cues.end());
        m.copy.belongs.insert(m.copy.belongs.end(), film_copy.belongs.begin(),
                              film_copy.belongs.end());
    }
    m.cues = m.copy.cues;
    switch (c.reference) {
        case Reference::kSubtitles:
            m.reference = film;
            break;
        case Reference::kRecording: {
            const testsup::RecordingPlan plan;
            conv::RecordingReader reader;
            reader.feed(testsup::recording(film, plan));
            std::string about, error;
            conv::recording_reference(reader.finish(), m.reference, about, error);
            for (int64_t& b : m.copy.belongs) b += b < 0 ? 0 : plan.lead_ms;
            break;
        }
        case Reference::kRecordingPieces: {
            // As the box reads it first: a sixteenth, aligned to by the starts.
            const testsup::RecordingPlan plan;
            const testsup::Bytes recording = testsup::recording(film, plan);
            std::string about, error;
            conv::recording_start_marks(
                conv::read_recording_pieces(
                    recording, conv::recording_pieces(static_cast<int64_t>(recording.size()), 0)),
                m.reference, about, error);
            m.cues = conv::start_marks(m.copy.cues);
            for (int64_t& b : m.copy.belongs) b += b < 0 ? 0 : plan.lead_ms;
            break;
        }
        case Reference::kSpeech:
            m.reference = testsup::noisy_speech(film, 10, 20, 13);
            break;
    }
    return m;
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
    const Case c = cases()[which];
    const Material m = material(c);
    conv::Alignment alignment;
    if (align) alignment = conv::align_spans(m.cues, m.reference);
    const size_t splits = alignment.segments.empty() ? 0 : alignment.segments.size() - 1;
    std::printf("case %zu (%s): %zu cues to %zu, material %016" PRIx64
                "; %s: ratio %s, %zu splits, confidence %d permille\n",
                which, c.name.c_str(), m.copy.cues.size(), m.reference.size(),
                checksum(m.cues) ^ checksum(m.reference), align ? "aligned" : "not aligned",
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
    const std::vector<Case> all = cases();
    for (size_t i = 0; i < all.size(); ++i) {
        const Material m = material(all[i]);
        const conv::Alignment alignment = conv::align_spans(m.cues, m.reference);
        std::printf(
            "case %2zu %-26s within 100 ms %4d permille, 200 ms %4d (single offset %4d), "
            "ratio %s, %zu splits, confidence %d permille%s%s\n",
            i, all[i].name.c_str(), testsup::accuracy_permille(m.copy, alignment, kToleranceMs),
            testsup::accuracy_permille(m.copy, alignment, 2 * kToleranceMs),
            testsup::single_offset_permille(m.copy, alignment, kToleranceMs), alignment.ratio_name,
            alignment.segments.empty() ? 0 : alignment.segments.size() - 1,
            alignment.confidence_permille, alignment.reliable ? "" : ", not reliable",
            all[i].reference == Reference::kRecordingPieces &&
                    !conv::sparse_alignment_taken(alignment, m.reference.size())
                ? ", not taken: read whole"
                : "");
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
    if (what.empty() || *end != '\0' || what.front() == '-' || which >= cases().size()) {
        return usage();
    }
    return measure_case(which, measure);
}
