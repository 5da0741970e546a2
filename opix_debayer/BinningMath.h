// Binning: every f x f block of the mosaic becomes one pixel whose red,
// green and blue are the means of the block's samples of that colour,
// rounded down.
#pragma once

#include "DebayerMath.h"

namespace opix {

// Reach: none; a pixel depends on its own block only.
constexpr int kBinningReach = 0;

// The pixel of the block whose top-left sample is (x0, y0), `phase(i, j)`
// giving the phase of the block's sample (x0 + i, y0 + j).
template <int F, class Src, class Phase>
OPIX_HD Rgb binPixelBy(const Src& s, const Phase& phase, int x0, int y0) {
  int sum[4] = {0, 0, 0, 0};  // by phase: red, green of a red row, green of a blue row, blue
  for (int j = 0; j < F; ++j)
    for (int i = 0; i < F; ++i) sum[phase(i, j)] += s(x0 + i, y0 + j);
  static_assert(F == 2 || F == 4 || F == 8, "binning factors are 2, 4 and 8");
  constexpr int kShift = F == 2 ? 0 : F == 4 ? 2 : 4;  // log2 of the (f/2)^2 red or blue samples
  return {sum[0] >> kShift, (sum[1] + sum[2]) >> (kShift + 1), sum[3] >> kShift};
}

// Phases of a block whose top-left cell has the pattern's phase.
struct PatternPhase {
  int pattern;
  OPIX_HD int operator()(int i, int j) const { return bayerPhase(pattern, i, j); }
};
// The same with the pattern's shift known at compile time.
template <int Sx, int Sy>
struct ShiftPhase {
  OPIX_HD int operator()(int i, int j) const { return rggbPhase(i + Sx, j + Sy); }
};

template <int F, class Src>
OPIX_HD Rgb binPixel(const Src& s, int pattern, int x0, int y0) {
  return binPixelBy<F>(s, PatternPhase{pattern}, x0, y0);
}

}  // namespace opix
