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

// `n` bits (at most 16) of a little-endian group of bits from bit `off` on.
template <class G>
OPIX_HD uint32_t groupBits(G group, uint32_t off, uint32_t n) {
  return static_cast<uint32_t>(group >> off) & ((1u << n) - 1u);
}

// A 12_PACKED sample from its high byte and the pair's byte of low nibbles
// (the first sample's in bits 3..0).
OPIX_HD uint32_t packed12Sample(uint32_t high, uint32_t nibbles, bool second) {
  return (high << 4) | (second ? nibbles >> 4 : nibbles & 15u);
}

// A sample of `bits` bits from a 16-bit word: the high bits where `high`,
// else the low ones (the bits above the depth cleared).
OPIX_HD uint32_t word16Sample(uint32_t word, bool high, uint32_t bits) {
  return high ? word >> (16 - bits) : word & ((1u << bits) - 1u);
}

// `n` bits (at most 16) of the frame from bit `pos` on, lowest bit first.
// Words is an accessor with word(k); Checked reads beyond the frame as 0.
template <bool Checked, class Words>
OPIX_HD uint32_t frameBits(const Words& w, uint64_t pos, uint32_t n) {
  const uint64_t k = pos >> 5;
  const uint32_t off = static_cast<uint32_t>(pos & 31u);
  const uint32_t lo = w.template word<Checked>(k);
  const uint32_t hi = off + n > 32 ? w.template word<Checked>(k + 1) : 0u;
  return groupBits((uint64_t{hi} << 32) | lo, off, n);
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
      return packed12Sample(high, nibbles, (n & 1) != 0);
    }
    case OPIX_PACKING_16_HIGH: return word16Sample(frameBits<Checked>(w, start + 16 * n, 16), true, j.bits);
    default: return word16Sample(frameBits<Checked>(w, start + 16 * n, 16), false, j.bits);
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
