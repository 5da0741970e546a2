// The maths of the channel kernels of import and export, one group of words
// at a time (see core/WordGroups.h). Samples are moved, never changed.
#pragma once

#include <cstdint>

#include "WordGroups.h"

namespace opix {

// Four 3-byte pixels (c0, c1, c2) in three words become (c2, c1, c0):
// red-green-blue order to blue-green-red and back.
struct ChannelReplaceOp {
  static constexpr int kInPlanes = 1, kInWords = 3, kOutPlanes = 1, kOutWords = 3;
  OPIX_HD static void apply(const uint32_t (&in)[1][3], uint32_t (&out)[1][3], uint32_t) {
    const uint32_t(&w)[3] = in[0];
    out[0][0] = packBytes(byteAt(w, 2), byteAt(w, 1), byteAt(w, 0), byteAt(w, 5));
    out[0][1] = packBytes(byteAt(w, 4), byteAt(w, 3), byteAt(w, 8), byteAt(w, 7));
    out[0][2] = packBytes(byteAt(w, 6), byteAt(w, 11), byteAt(w, 10), byteAt(w, 9));
  }
};

// Two interleaved pixels of 16-bit samples, R0 G0 | B0 R1 | G1 B1, become one
// word in each plane: (R0, R1), (G0, G1), (B0, B1).
struct ChannelSplitOp {
  static constexpr int kInPlanes = 1, kInWords = 3, kOutPlanes = 3, kOutWords = 1;
  OPIX_HD static void apply(const uint32_t (&in)[1][3], uint32_t (&out)[3][1], uint32_t) {
    const uint32_t(&w)[3] = in[0];
    out[0][0] = packHalves(lowHalf(w[0]), highHalf(w[1]));
    out[1][0] = packHalves(highHalf(w[0]), lowHalf(w[2]));
    out[2][0] = packHalves(lowHalf(w[1]), highHalf(w[2]));
  }
};

// The inverse of the split, four pixels at a time: two words of each plane
// become R0 G0 | B0 R1 | G1 B1 | R2 G2 | B2 R3 | G3 B3.
struct ChannelMergeOp {
  static constexpr int kInPlanes = 3, kInWords = 2, kOutPlanes = 1, kOutWords = 6;
  OPIX_HD static void apply(const uint32_t (&in)[3][2], uint32_t (&out)[1][6], uint32_t) {
    for (int k = 0; k < 2; ++k) {
      const uint32_t r = in[0][k], g = in[1][k], b = in[2][k];
      out[0][3 * k + 0] = packHalves(lowHalf(r), lowHalf(g));
      out[0][3 * k + 1] = packHalves(lowHalf(b), highHalf(r));
      out[0][3 * k + 2] = packHalves(highHalf(g), highHalf(b));
    }
  }
};

}  // namespace opix
