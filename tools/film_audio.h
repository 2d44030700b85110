// The speech in a film's sound as a reference for --sync-to, read through FFmpeg's
// libraries (PC builds only: the box has neither the libraries nor the time).
#pragma once

#include <string>
#include <vector>

#include "conv/align.h"

namespace tools {

// Decodes the film's main audio stream, resampled to 16 kHz mono, through the speech
// detector, and returns its speech spans in ms of the film's own timeline. False with
// error set when FFmpeg cannot open the file, it has no sound, or decoding fails
// before any sound was read. about says what was listened to: which stream, and the
// centre channel alone (a 5.1 or 7.1 film's dialogue), mono, or the channels mixed.
bool film_speech_spans(const std::string& path, std::vector<conv::TimeSpan>& spans,
                       std::string& about, std::string& error);

}  // namespace tools
