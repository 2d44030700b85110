// SHA-256 (FIPS 180-4), for storing the paired browsers' tokens as hashes: the box
// build has no crypto library.
#pragma once

#include <array>
#include <cstdint>
#include <span>

using web_digest = std::array<uint8_t, 32>;

web_digest web_sha256(std::span<const uint8_t> data);
