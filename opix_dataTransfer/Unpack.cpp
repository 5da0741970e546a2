// Host driver and launcher of the unpack kernel.
#include "Unpack.h"

#include <cstring>

#include "device/BytePermutes.h"
#include "device/Parallel.h"
#include "device/Rgb8Planes.h"

#define OPIX_SOURCE "opix_dataTransfer/Unpack"

namespace opix {

namespace {

struct HostFrame {
  const uint32_t* frame;
  uint64_t words;
  template <bool Checked>
  uint32_t word(uint64_t k) const {
    if (Checked && k >= words) return 0;
    return frame[k];
  }
};

// Whole groups of samples from their bytes, the group's first sample on a
// byte, through packedSample's own maths (groupBits, packed12Sample,
// word16Sample) on each group's bytes. Plain loops over restricted rows that
// vectorise.
OPIX_HOST_SIMD_CLONES void words16(const uint8_t* p, uint16_t* __restrict d, uint32_t n, bool high, uint32_t bits) {
  const uint16_t* __restrict q = reinterpret_cast<const uint16_t*>(p);  // on an even byte of the frame
  if (high)  // the loops apart: each vectorises with its one operation
    for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint16_t>(word16Sample(q[i], true, bits));
  else
    for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint16_t>(word16Sample(q[i], false, bits));
}

// Pairs of 12-bit samples in 3 bytes: the bytes of a run of pairs parted
// into three planes first (the RGB8 helper's split), then each pair from
// its three bytes, in loops that vectorise.
template <class Pair>
void pairs12(const uint8_t* p, uint16_t* __restrict d, uint32_t n, const Pair& pair) {
  constexpr uint32_t kRun = 256;
  alignas(64) uint8_t b[3][kRun];
  for (uint32_t i0 = 0; i0 < n; i0 += kRun) {
    const uint32_t m = n - i0 < kRun ? n - i0 : kRun;
    host::splitRgb8(p + 3 * size_t(i0), b[0], b[1], b[2], m);
    pair(b, d + 2 * size_t(i0), m);
  }
}
// Least significant bits first: the pair's 24 bits as a group.
OPIX_HOST_SIMD_CLONES void pairs12pRun(const uint8_t (&b)[3][256], uint16_t* __restrict d, uint32_t m) {
  for (uint32_t i = 0; i < m; ++i) {
    const uint32_t group = uint32_t(b[0][i]) | uint32_t(b[1][i]) << 8 | uint32_t(b[2][i]) << 16;
    d[2 * i] = static_cast<uint16_t>(groupBits(group, 0, 12));
    d[2 * i + 1] = static_cast<uint16_t>(groupBits(group, 12, 12));
  }
}
// High bytes around the byte of low nibbles.
OPIX_HOST_SIMD_CLONES void pairs12PackedRun(const uint8_t (&b)[3][256], uint16_t* __restrict d, uint32_t m) {
  for (uint32_t i = 0; i < m; ++i) {
    d[2 * i] = static_cast<uint16_t>(packed12Sample(b[0][i], b[1][i], false));
    d[2 * i + 1] = static_cast<uint16_t>(packed12Sample(b[2][i], b[1][i], true));
  }
}

// n quads of 10-bit samples in 5 bytes, least significant bits first: the
// quad's 40 bits as a group.
OPIX_HOST_SIMD_CLONES void quads10p(const uint8_t* __restrict p, uint16_t* __restrict d, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    uint64_t group = 0;
    for (int k = 0; k < 5; ++k) group |= uint64_t{p[5 * i + k]} << (8 * k);
    for (int k = 0; k < 4; ++k) d[4 * i + k] = static_cast<uint16_t>(groupBits(group, 10 * k, 10));
  }
}

#if OPIX_BYTE_PERMUTES
typedef uint16_t Words64 __attribute__((vector_size(64)));

// 10P quads 8 at a time (40 bytes, 32 samples) where the processor permutes
// bytes across a register: each sample's two bytes into a 16-bit lane, then
// shifted down by its bit offset and masked; a register is read only where
// its 64 bytes hold this row's quads. Returns the quads done.
OPIX_VBMI uint32_t quads10pPermutes(const uint8_t* p, uint16_t* __restrict d, uint32_t n) {
  host::Bytes64 index;
  Words64 shift;
  for (int j = 0; j < 32; ++j) {
    const int bit = 10 * j;
    index[2 * j] = uint8_t(bit >> 3);
    index[2 * j + 1] = uint8_t((bit >> 3) + 1);
    shift[j] = uint16_t(bit & 7);
  }
  uint32_t i = 0;
  for (; i + 13 <= n; i += 8) {  // 13 quads: 65 bytes
    host::Bytes64 v;
    std::memcpy(&v, p + 5 * size_t(i), 64);
    const host::Bytes64 bytes = __builtin_shuffle(v, index);
    Words64 w;
    std::memcpy(&w, &bytes, 64);
    w = (w >> shift) & 1023;  // groupBits of the lane's 16 bits
    std::memcpy(d + 4 * size_t(i), &w, 64);
  }
  return i;
}
#endif

// 10P quads: through the permutes where there are, the rest one by one.
void quads10(const uint8_t* p, uint16_t* d, uint32_t n) {
  uint32_t done = 0;
#if OPIX_BYTE_PERMUTES
  if (host::bytePermutes()) done = quads10pPermutes(p, d, n);
#endif
  quads10p(p + 5 * size_t(done), d + 4 * size_t(done), n - done);
}

// Row y: the samples of whole groups (a group: the samples whose bits fill
// whole bytes, 4 of 10P, 2 of 12P and 12_PACKED) by the loops above, the
// few before the first whole group and after the last one sample by
// sample, and the second half of the row's last word zero where the width
// is odd. Only bytes that hold the row's samples are read, so the row that
// ends at the frame's end reads nothing beyond it.
template <bool Checked>
void unpackRow(const HostFrame& f, const UnpackJob& j, uint32_t y, uint16_t* d) {
  const uint32_t w = j.width, bits = packedSampleBits(j.packing);
  const uint32_t group = j.packing == OPIX_PACKING_10P                                           ? 4
                         : j.packing == OPIX_PACKING_16_LOW || j.packing == OPIX_PACKING_16_HIGH ? 1
                                                                                                 : 2;
  // Sample x of the row is sample n0 + x of a stream starting at bit `start`.
  const uint64_t start = j.rowBits ? uint64_t{y} * j.rowBits : 0;
  const uint64_t n0 = j.rowBits ? 0 : uint64_t{y} * w;
  uint32_t x = 0;
  while (x < w && (n0 + x) % group != 0) {
    d[x] = static_cast<uint16_t>(packedSample<Checked>(f, j, x, y));
    ++x;
  }
  const uint32_t groups = (w - x) / group;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(f.frame) + (start + uint64_t{bits} * (n0 + x)) / 8;
  switch (j.packing) {
    case OPIX_PACKING_10P: quads10(p, d + x, groups); break;
    case OPIX_PACKING_12P: pairs12(p, d + x, groups, pairs12pRun); break;
    case OPIX_PACKING_12_PACKED: pairs12(p, d + x, groups, pairs12PackedRun); break;
    default: words16(p, d + x, groups, j.packing == OPIX_PACKING_16_HIGH, j.bits);
  }
  for (x += groups * group; x < w; ++x) d[x] = static_cast<uint16_t>(packedSample<Checked>(f, j, x, y));
  if (w & 1) d[w] = 0;
}

void unpackHost(const UnpackJob& j) {
  const HostFrame f{j.frame, j.frameWords};
  host::parallelRows(j.height, [&](int64_t y) {
    uint16_t* row = reinterpret_cast<uint16_t*>(j.out + y * int64_t{j.outPitchWords} * 4);
    // The last row may end at the frame's last word; every other row's
    // samples lie wholly inside the frame.
    if (static_cast<uint32_t>(y) + 1 < j.height)
      unpackRow<false>(f, j, static_cast<uint32_t>(y), row);
    else
      unpackRow<true>(f, j, static_cast<uint32_t>(y), row);
  });
}

}  // namespace

void launchUnpack(const UnpackJob& j) {
  if (!j.empty()) {
    if (cudaDrivers())
      OPIX_CUDA_DRIVER(unpackCuda(j));
    else
      host::launch([&j] { unpackHost(j); });
  }
  launchCheck("GPUUnpack");
}

}  // namespace opix
