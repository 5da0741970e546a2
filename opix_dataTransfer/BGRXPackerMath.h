// The maths of the BGRX packer: four 4-byte pixels (blue, green, red, unused)
// become four packed red-green-blue pixels in three words; the unused byte is
// dropped.
#pragma once

#include <cstdint>

#include "WordGroups.h"

namespace opix {

struct BGRXPackOp {
  static constexpr int kInPlanes = 1, kInWords = 4, kOutPlanes = 1, kOutWords = 3;
  OPIX_HD static void apply(const uint32_t (&in)[1][4], uint32_t (&out)[1][3], uint32_t) {
    const uint32_t(&w)[4] = in[0];
    out[0][0] = packBytes(byteAt(w, 2), byteAt(w, 1), byteAt(w, 0), byteAt(w, 6));
    out[0][1] = packBytes(byteAt(w, 5), byteAt(w, 4), byteAt(w, 10), byteAt(w, 9));
    out[0][2] = packBytes(byteAt(w, 8), byteAt(w, 14), byteAt(w, 13), byteAt(w, 12));
  }
};

}  // namespace opix
