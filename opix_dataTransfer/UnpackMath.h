// The maths of the packed-frame unpack kernel: one output word (two 16-bit
// samples) from the words of a packed frame. The frame lies in device memory
// as it came from the host, padded with zero bytes to whole words.
#pragma once

#include <cstdint>

#include "Hd.h"
#include "opix.h"

namespace opix {

struct UnpackJob {
  const uint32_t* frame;  // packed frame, frameWords words
  uint64_t frameWords;
  uint64_t rowBits;    // bit distance between row starts; 0: one bit stream
  unsigned char* out;  // 16-bit gray destination
  uint32_t outPitchWords;
  uint32_t width;
  uint32_t height;
  uint32_t packing;  // opixPacking_t
  uint32_t bits;     // depth of the destination samples

  bool empty() const { return width == 0 || height == 0; }
};

// Bits one sample takes in the frame.
OPIX_HD uint32_t packedSampleBits(uint32_t packing) {
  switch (packing) {
    case OPIX_PACKING_10P: return 10;
    case OPIX_PACKING_12P:
    case OPIX_PACKING_12_PACKED: return 12;
    default: return 16;
  }
}

// `n` bits (at most 16) of the frame from bit `pos` on, lowest bit first.
// Words is an accessor with word(k); Checked reads beyond the frame as 0.
template <bool Checked, class Words>
OPIX_HD uint32_t frameBits(const Words& w, uint64_t pos, uint32_t n) {
  const uint64_t k = pos >> 5;
  const uint32_t off = static_cast<uint32_t>(pos & 31u);
  const uint32_t lo = w.template word<Checked>(k);
  const uint32_t hi = off + n > 32 ? w.template word<Checked>(k + 1) : 0u;
  const uint64_t both = (uint64_t{hi} << 32) | lo;
  return static_cast<uint32_t>(both >> off) & ((1u << n) - 1u);
}

// Sample (x, y) of the frame. A row of the bit stream (rowBits 0) is the
// continuation of the one before it; otherwise each row starts rowBits bits
// after the previous one, on a byte.
template <bool Checked, class Words>
OPIX_HD uint32_t packedSample(const Words& w, const UnpackJob& j, uint32_t x, uint32_t y) {
  const uint64_t start = j.rowBits ? uint64_t{y} * j.rowBits : 0;
  const uint64_t n = j.rowBits ? uint64_t{x} : uint64_t{y} * j.width + x;
  switch (j.packing) {
    case OPIX_PACKING_10P: return frameBits<Checked>(w, start + 10 * n, 10);
    case OPIX_PACKING_12P: return frameBits<Checked>(w, start + 12 * n, 12);
    case OPIX_PACKING_12_PACKED: {
      // Pairs of samples in 3 bytes; the middle byte holds both low nibbles.
      const uint64_t pair = start + 24 * (n >> 1);
      const uint32_t nibbles = frameBits<Checked>(w, pair + 8, 8);
      const uint32_t high = frameBits<Checked>(w, pair + ((n & 1) ? 16 : 0), 8);
      return (high << 4) | ((n & 1) ? nibbles >> 4 : nibbles & 15u);
    }
    case OPIX_PACKING_16_HIGH: return frameBits<Checked>(w, start + 16 * n, 16) >> (16 - j.bits);
    default: return frameBits<Checked>(w, start + 16 * n, 16) & ((1u << j.bits) - 1u);
  }
}

// Output word `k` of row `y`: samples 2k and 2k + 1, the second 0 past the
// width (row padding).
template <bool Checked, class Words>
OPIX_HD uint32_t unpackWord(const Words& w, const UnpackJob& j, uint32_t k, uint32_t y) {
  const uint32_t x = 2 * k;
  const uint32_t a = x < j.width ? packedSample<Checked>(w, j, x, y) : 0u;
  const uint32_t b = x + 1 < j.width ? packedSample<Checked>(w, j, x + 1, y) : 0u;
  return a | (b << 16);
}

}  // namespace opix
