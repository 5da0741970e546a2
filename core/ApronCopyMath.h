// The maths of the copy with offset and vertical apron: which image row a
// destination row shows (both drivers), and how the device assembles an
// aligned destination word from the source row when the image starts at an
// arbitrary byte (the host places the bytes directly).
#pragma once

#include <cstdint>

#include "Hd.h"

namespace opix {

// Image row shown by destination row r when the image starts at row y0 and is
// h rows high. Rows above and below mirror the image about its first and last
// row without repeating them, so every margin row keeps the Bayer parity of
// its mirror image. Images too small to mirror fully are clamped to their
// edge rows rather than read outside.
OPIX_HD int apronSourceRow(int r, int y0, int h) {
  int i = r - y0;
  if (i < 0) i = -i;
  if (i >= h) i = 2 * (h - 1) - i;
  if (i < 0) i = 0;
  if (i > h - 1) i = h - 1;
  return i;
}

// Bytes [shift, shift + 4) of the 8 bytes {hi:lo}, little-endian.
OPIX_HD uint32_t alignBytes(uint32_t lo, uint32_t hi, uint32_t shift) {
#if defined(__CUDA_ARCH__)
  return __byte_perm(lo, hi, 0x3210u + 0x1111u * shift);
#else
  return shift == 0 ? lo : (lo >> (8 * shift)) | (hi << (32 - 8 * shift));
#endif
}

// Destination word `wd` (counted from the start of the destination row) when
// the source row's `rowBytes` bytes are placed at byte `byteX`. `src.word(i)`
// reads aligned source word i; bytes outside the image keep `old`.
template <class SrcRow>
OPIX_HD uint32_t apronWord(const SrcRow& src, int64_t wd, int64_t byteX, int64_t rowBytes, uint32_t old) {
  const int64_t s0 = 4 * wd - byteX;  // source byte of the word's first byte
  if (s0 >= 0 && s0 + 4 <= rowBytes) {
    const uint32_t shift = static_cast<uint32_t>(s0 & 3);
    const uint32_t lo = src.word(s0 >> 2);
    const uint32_t hi = shift ? src.word((s0 >> 2) + 1) : 0u;
    return alignBytes(lo, hi, shift);
  }
  uint32_t out = old;
  for (int j = 0; j < 4; ++j) {
    const int64_t s = s0 + j;
    if (s < 0 || s >= rowBytes) continue;
    const uint32_t byte = (src.word(s >> 2) >> (8 * (s & 3))) & 0xFFu;
    out = (out & ~(0xFFu << (8 * j))) | (byte << (8 * j));
  }
  return out;
}

// Range of destination words [first, last] that hold image bytes.
OPIX_HD int64_t apronFirstWord(int64_t byteX) { return byteX >> 2; }
OPIX_HD int64_t apronLastWord(int64_t byteX, int64_t rowBytes) { return (byteX + rowBytes - 1) >> 2; }

}  // namespace opix
