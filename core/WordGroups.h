// Kernels that turn fixed groups of 32-bit words into other fixed groups of
// words, row by row: the channel swaps, splits, merges and packs of the
// transfer components and the bit-depth conversions.
//
// An operation Op gives the shape of one group and its maths:
//   kInPlanes, kInWords    words read from each input plane per group
//   kOutPlanes, kOutWords  words written to each output plane per group
//   OPIX_HD static void apply(const uint32_t (&in)[kInPlanes][kInWords],
//                             uint32_t (&out)[kOutPlanes][kOutWords], uint32_t shift);
// Group g of a row reads words g*kInWords.. and writes words g*kOutWords..
// Input words beyond the input pitch read as 0; output words beyond the
// output pitch are not written, those inside it are, padding included.
// Rows at or beyond the height are never touched.
#pragma once

#include <cstdint>
#include <cstring>

#include "DeviceSurfaceBuffer.h"
#include "Hd.h"
#include "KernelLaunch.h"
#include "device/Parallel.h"

namespace opix {

struct WordGroupJob {
  const unsigned char* in[3];  // input planes; unused ones null
  uint32_t inPitchWords;
  unsigned char* out[3];  // output planes; unused ones null
  uint32_t outPitchWords;
  uint32_t groups;  // groups per row: enough to cover the output pitch
  uint32_t height;
  uint32_t shift;
  // Groups from this one on, in any row, may touch words beyond a pitch.
  uint32_t firstEdgeGroup;

  bool empty() const { return groups == 0 || height == 0; }
};

// A job over the current size of `out`, reading `in` at its current pitch.
template <class Op>
WordGroupJob wordGroupJob(const SurfaceView& in, const SurfaceView& out, uint32_t shift) {
  WordGroupJob j{};
  for (int p = 0; p < 3; ++p) {
    j.in[p] = p < Op::kInPlanes ? in.plane[p] : nullptr;
    j.out[p] = p < Op::kOutPlanes ? out.plane[p] : nullptr;
  }
  j.inPitchWords = in.pitch / 4;
  j.outPitchWords = out.pitch / 4;
  j.groups = (j.outPitchWords + Op::kOutWords - 1) / Op::kOutWords;
  j.height = out.height;
  j.shift = shift;
  const uint32_t inFull = j.inPitchWords / Op::kInWords;
  const uint32_t outFull = j.outPitchWords / Op::kOutWords;
  j.firstEdgeGroup = inFull < outFull ? inFull : outFull;
  return j;
}

namespace host {

// The groups [0, n) of a row that stay inside both pitches, built for the
// vector units the processor has.
template <class Op>
OPIX_HOST_SIMD_CLONES void runFullGroups(const unsigned char* const (&in)[Op::kInPlanes],
                                         unsigned char* const (&out)[Op::kOutPlanes], uint32_t n, uint32_t shift) {
  // The plane pointers as locals, so that the byte stores cannot alias them.
  const unsigned char* ip[Op::kInPlanes];
  unsigned char* op[Op::kOutPlanes];
  for (int p = 0; p < Op::kInPlanes; ++p) ip[p] = in[p];
  for (int p = 0; p < Op::kOutPlanes; ++p) op[p] = out[p];
  for (uint32_t g = 0; g < n; ++g) {
    uint32_t a[Op::kInPlanes][Op::kInWords];
    uint32_t b[Op::kOutPlanes][Op::kOutWords];
    // Word by word: one access of a word each, which the vectoriser groups.
    for (int p = 0; p < Op::kInPlanes; ++p)
      for (int i = 0; i < Op::kInWords; ++i) std::memcpy(&a[p][i], ip[p] + (size_t{g} * Op::kInWords + i) * 4, 4);
    Op::apply(a, b, shift);
    for (int p = 0; p < Op::kOutPlanes; ++p)
      for (int i = 0; i < Op::kOutWords; ++i) std::memcpy(op[p] + (size_t{g} * Op::kOutWords + i) * 4, &b[p][i], 4);
  }
}

// Host driver: rows in parallel; the groups that stay inside both pitches
// run without bounds tests. In place works: a group reads all its words
// before it writes any.
template <class Op>
void runWordGroups(const WordGroupJob& j) {
  parallelRows(j.height, [&j](int64_t y) {
    const unsigned char* in[Op::kInPlanes];
    unsigned char* out[Op::kOutPlanes];
    for (int p = 0; p < Op::kInPlanes; ++p) in[p] = j.in[p] + y * int64_t{j.inPitchWords} * 4;
    for (int p = 0; p < Op::kOutPlanes; ++p) out[p] = j.out[p] + y * int64_t{j.outPitchWords} * 4;
    const uint32_t full = j.firstEdgeGroup < j.groups ? j.firstEdgeGroup : j.groups;
    runFullGroups<Op>(in, out, full, j.shift);
    uint32_t a[Op::kInPlanes][Op::kInWords];
    uint32_t b[Op::kOutPlanes][Op::kOutWords];
    for (uint32_t g = full; g < j.groups; ++g) {
      for (int p = 0; p < Op::kInPlanes; ++p)
        for (int i = 0; i < Op::kInWords; ++i) {
          const uint32_t w = g * Op::kInWords + i;
          a[p][i] = 0;
          if (w < j.inPitchWords) std::memcpy(&a[p][i], in[p] + size_t{w} * 4, 4);
        }
      Op::apply(a, b, j.shift);
      for (int p = 0; p < Op::kOutPlanes; ++p)
        for (int i = 0; i < Op::kOutWords; ++i) {
          const uint32_t w = g * Op::kOutWords + i;
          if (w < j.outPitchWords) std::memcpy(out[p] + size_t{w} * 4, &b[p][i], 4);
        }
    }
  });
}

}  // namespace host

// Runs a job on the backend in use, then the launch check under `label`.
// `cudaDriver` is a callable that wraps its call in OPIX_CUDA_DRIVER.
template <class Op, class CudaDriver>
void runWordGroupKernel(const WordGroupJob& j, CudaDriver&& cudaDriver, const char* label) {
  if (!j.empty()) {
    if (cudaDrivers())
      cudaDriver();
    else
      host::launch([&j] { host::runWordGroups<Op>(j); });
  }
  launchCheck(label);
}

// Byte i (0 = lowest) of a little-endian run of words, and four bytes packed
// into a word, lowest first.
template <int N>
OPIX_HD uint32_t byteAt(const uint32_t (&w)[N], int i) {
  return (w[i >> 2] >> (8 * (i & 3))) & 0xFFu;
}
OPIX_HD uint32_t packBytes(uint32_t b0, uint32_t b1, uint32_t b2, uint32_t b3) {
  return b0 | (b1 << 8) | (b2 << 16) | (b3 << 24);
}
// Two 16-bit samples in a word, the lower column in the low half.
OPIX_HD uint32_t packHalves(uint32_t lo, uint32_t hi) { return (lo & 0xFFFFu) | (hi << 16); }
OPIX_HD uint32_t lowHalf(uint32_t w) { return w & 0xFFFFu; }
OPIX_HD uint32_t highHalf(uint32_t w) { return w >> 16; }

}  // namespace opix
