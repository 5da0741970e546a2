// Binning: every f x f block of the mosaic becomes one pixel whose red,
// green and blue are the means of the block's samples of that colour,
// rounded down.
#pragma once

#include "DebayerMath.h"

namespace opix {

// Reach: none; a pixel depends on its own block only.
constexpr int kBinningReach = 0;

// The pixel of a block from its four sums by place in the cell,
// cell[row parity][column parity].
template <int F, class Phase>
OPIX_HD Rgb binPixelOfCells(const int (&cell)[2][2], const Phase& phase) {
  // By phase: red, green of a red row, green of a blue row, blue.
  auto sumOf = [&](int p) {
    return (phase(0, 0) == p ? cell[0][0] : 0) + (phase(1, 0) == p ? cell[0][1] : 0) +
           (phase(0, 1) == p ? cell[1][0] : 0) + (phase(1, 1) == p ? cell[1][1] : 0);
  };
  static_assert(F == 2 || F == 4 || F == 8, "binning factors are 2, 4 and 8");
  constexpr int kShift = F == 2 ? 0 : F == 4 ? 2 : 4;  // log2 of the (f/2)^2 red or blue samples
  return {sumOf(kPhaseR) >> kShift, (sumOf(kPhaseGreenOfRedRow) + sumOf(kPhaseGreenOfBlueRow)) >> (kShift + 1),
          sumOf(kPhaseB) >> kShift};
}

// The pixel of the block whose top-left sample is (x0, y0), `phase(i, j)`
// giving the phase of the block's sample (x0 + i, y0 + j). The samples are
// summed by their place in the 2 x 2 cell, then the four sums given to the
// colours, so that no sum is indexed by a phase known only at run time (a
// GPU keeps such an array in local memory); integer sums, so the order does
// not matter.
template <int F, class Src, class Phase>
OPIX_HD Rgb binPixelBy(const Src& s, const Phase& phase, int x0, int y0) {
  int cell[2][2] = {{0, 0}, {0, 0}};  // [row parity][column parity]
  for (int j = 0; j < F; j += 2)
    for (int i = 0; i < F; i += 2) {
      cell[0][0] += s(x0 + i, y0 + j);
      cell[0][1] += s(x0 + i + 1, y0 + j);
      cell[1][0] += s(x0 + i, y0 + j + 1);
      cell[1][1] += s(x0 + i + 1, y0 + j + 1);
    }
  return binPixelOfCells<F>(cell, phase);
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
