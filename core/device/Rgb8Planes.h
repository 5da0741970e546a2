// Interleaved RGB8 pixels parted into three byte planes and joined again, for
// host rows that work on planes: whole 64-byte registers through byte
// permutes where the processor has them (AVX-512 VBMI), byte by byte
// elsewhere. Plain copies, so every path gives the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace opix::host {

// n pixels of s (3n bytes) into r, g and b (n bytes each).
void splitRgb8(const uint8_t* s, uint8_t* r, uint8_t* g, uint8_t* b, size_t n);
// n pixels of r, g and b into d (3n bytes).
void joinRgb8(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* d, size_t n);

}  // namespace opix::host
