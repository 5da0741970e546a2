#include "DebayerBinning.h"

#include <cstring>

#include "BinningMath.h"
#include "Checks.h"
#include "Debayer.h"
#include "HostRows.h"
#include "KernelLaunch.h"
#include "device/Parallel.h"
#include "opix_internal/opix_program.h"

#define OPIX_SOURCE "opix_debayer/DebayerBinning"

namespace opix {

uint32_t debayerScale(opixDebayerType_t type) {
  switch (type) {
    case OPIX_BINNING_2x2: return 2;
    case OPIX_BINNING_4x4: return 4;
    case OPIX_BINNING_8x8: return 8;
    default: return 1;
  }
}

void DebayerBinning::Init(opixSurfaceFormat_t sourceFormat, opixDebayerType_t type, uint32_t maxWidth,
                          uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                          opixDeviceSurfaceBufferHandle_t* destination) {
  checks::widthMatches(maxWidth, source->maxWidth);
  checks::heightMatches(maxHeight, source->maxHeight);
  factor_ = debayerScale(type);
  opixSurfaceFormat_t out;
  switch (sourceFormat) {
    case OPIX_I8: out = OPIX_RGB8; break;
    case OPIX_I16: out = OPIX_RGB16_PLANAR; break;
    default: OPIX_THROW(OPIX_UNSUPPORTED_FORMAT);
  }
  ownFormat_ = out;
  if (formatRequested_) out = requestedDestinationFormat(out, requestedFormat_);
  checks::externalBuffer(*source);
  holdSource(source);
  destination_ = createSurfaceBuffer(maxWidth / factor_, maxHeight / factor_, out);
  *destination = destination_.get();
  Allocate();
}

void DebayerBinning::Transform(opixBayerPattern_t pattern, uint32_t width, uint32_t height) {
  checks::widthMatches(width, source_->width);
  checks::heightMatches(height, source_->height);
  // A pattern without kernels is refused rather than leaving the image unwritten.
  checkBayerPattern(pattern, OPIX_UNRECOGNIZED_ERROR);
  setCurrentSize(*destination_, width / factor_, height / factor_);
  if (destination_->width == 0 || destination_->height == 0) return;  // no whole block
  const SurfaceView src = surfaceView(*source_);
  const SurfaceView dst = surfaceView(*destination_);
  const int f = static_cast<int>(factor_);
  OPIX_KERNEL_LAUNCH(src.format == OPIX_I8 ? "DebayerBinning8Kernel" : "DebayerBinning16Kernel",
                     launchBinningCuda(src, dst, f, pattern), launchBinningHost(src, dst, f, pattern));
}

namespace {

// Source rows y0 to y0 + F - 1 of a block row by pointer.
template <class T, int F>
struct BlockRows {
  const T* row[F];
  int operator()(int x, int j) const { return row[j][x]; }
};

// A row of pixels with the pattern's shift fixed, so that every sample's
// sum is known at compile time and the loop vectorises.
template <int F, int Sx, int Sy, class T, class Store>
inline void binRow(const BlockRows<T, F>& src, int width, const Store& store) {
#pragma GCC ivdep
  for (int x = 0; x < width; ++x) store(x, binPixelBy<F>(src, ShiftPhase<Sx, Sy>{}, F * x, 0));
}

template <int F, class T, class Store>
inline void binRowOf(const BlockRows<T, F>& src, int width, int pattern, const Store& store) {
  const PatternShift p = bayerShift(pattern);
  if (p.sy)
    p.sx ? binRow<F, 1, 1>(src, width, store) : binRow<F, 0, 1>(src, width, store);
  else
    p.sx ? binRow<F, 1, 0>(src, width, store) : binRow<F, 0, 0>(src, width, store);
}

// The rows of an 8-bit block row in restricted local pointers: the bytes
// stored below cannot then alias them, so the loop keeps them in registers
// instead of reloading them for every pixel.
template <int F>
struct LocalRows8 {
  const uint8_t* __restrict row[F];
  int operator()(int x, int j) const { return row[j][x]; }
};

// 8-bit pixels go in pairs to a chunk of whole words, three a pair: (r0, g0),
// (b0, r1), (g1, b1), in the byte order of the destination on a little-endian
// host; the chunk is then copied to the row. Byte stores three apart would
// keep the loop scalar.
template <int F, int Sx, int Sy>
inline void binRow8Shifted(const BlockRows<uint8_t, F>& src, int width, unsigned char* out) {
  LocalRows8<F> rows;
  for (int j = 0; j < F; ++j) rows.row[j] = src.row[j];
  constexpr int kChunk = 512;  // pixels, even
  uint16_t words[3 * kChunk / 2];
  for (int x0 = 0; x0 < width; x0 += kChunk) {
    const int n = width - x0 < kChunk ? width - x0 : kChunk;
    uint16_t* __restrict t = words;
#pragma GCC ivdep
    for (int i = 0; i < n / 2; ++i) {
      const int x = F * (x0 + 2 * i);
      const Rgb a = binPixelBy<F>(rows, ShiftPhase<Sx, Sy>{}, x, 0);
      const Rgb b = binPixelBy<F>(rows, ShiftPhase<Sx, Sy>{}, x + F, 0);
      t[3 * i] = static_cast<uint16_t>(a.r | (a.g << 8));
      t[3 * i + 1] = static_cast<uint16_t>(a.b | (b.r << 8));
      t[3 * i + 2] = static_cast<uint16_t>(b.g | (b.b << 8));
    }
    std::memcpy(out + 3 * int64_t(x0), words, 6 * size_t(n / 2));
    // An odd last pixel alone: its pair's other block lies past the row.
    if (n & 1) {
      const int x = x0 + n - 1;
      Rgb8Row{out}(x, binPixelBy<F>(rows, ShiftPhase<Sx, Sy>{}, F * x, 0));
    }
  }
}

// 8 x 8 blocks of 8-bit samples, separably: the block row's even and odd
// rows summed down each column first (contiguous loads, 16-bit sums of four
// samples), then each block's four cell sums taken from those columns, so
// the loads of the eight rows need no shuffles. The sums are integers: the
// same cells as binPixelBy's.
template <int Sx, int Sy>
inline void binRow8By8(const BlockRows<uint8_t, 8>& src, int width, unsigned char* out) {
  LocalRows8<8> rows;
  for (int j = 0; j < 8; ++j) rows.row[j] = src.row[j];
  constexpr int kChunk = 256;  // pixels, even
  uint16_t even[8 * kChunk], odd[8 * kChunk];
  uint16_t words[3 * kChunk / 2];
  const ShiftPhase<Sx, Sy> phase{};
  const auto pixel = [&](int b) {  // block b of the chunk
    const uint16_t* __restrict e = even + 8 * b;
    const uint16_t* __restrict o = odd + 8 * b;
    const int cell[2][2] = {{e[0] + e[2] + e[4] + e[6], e[1] + e[3] + e[5] + e[7]},
                            {o[0] + o[2] + o[4] + o[6], o[1] + o[3] + o[5] + o[7]}};
    return binPixelOfCells<8>(cell, phase);
  };
  for (int x0 = 0; x0 < width; x0 += kChunk) {
    const int n = width - x0 < kChunk ? width - x0 : kChunk;
    const int64_t c0 = 8 * int64_t(x0);
    const uint8_t* __restrict r0 = rows.row[0] + c0, * __restrict r1 = rows.row[1] + c0, * __restrict r2 = rows.row[2] + c0, * __restrict r3 = rows.row[3] + c0, * __restrict r4 = rows.row[4] + c0, * __restrict r5 = rows.row[5] + c0, * __restrict r6 = rows.row[6] + c0, * __restrict r7 = rows.row[7] + c0;
    for (int c = 0; c < 8 * n; ++c) {
      even[c] = static_cast<uint16_t>(r0[c] + r2[c] + r4[c] + r6[c]);
      odd[c] = static_cast<uint16_t>(r1[c] + r3[c] + r5[c] + r7[c]);
    }
    uint16_t* __restrict t = words;
    for (int i = 0; i < n / 2; ++i) {
      const Rgb a = pixel(2 * i), b = pixel(2 * i + 1);
      t[3 * i] = static_cast<uint16_t>(a.r | (a.g << 8));
      t[3 * i + 1] = static_cast<uint16_t>(a.b | (b.r << 8));
      t[3 * i + 2] = static_cast<uint16_t>(b.g | (b.b << 8));
    }
    std::memcpy(out + 3 * int64_t(x0), words, 6 * size_t(n / 2));
    if (n & 1) Rgb8Row{out}(x0 + n - 1, pixel(n - 1));
  }
}

template <int F>
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void binRow8(const BlockRows<uint8_t, F>& src, int width, int pattern,
                                                            unsigned char* out) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the words of a pair are stored in host byte order");
  const PatternShift p = bayerShift(pattern);
  if constexpr (F == 8) {
    if (p.sy)
      p.sx ? binRow8By8<1, 1>(src, width, out) : binRow8By8<0, 1>(src, width, out);
    else
      p.sx ? binRow8By8<1, 0>(src, width, out) : binRow8By8<0, 0>(src, width, out);
    return;
  }
  if (p.sy)
    p.sx ? binRow8Shifted<F, 1, 1>(src, width, out) : binRow8Shifted<F, 0, 1>(src, width, out);
  else
    p.sx ? binRow8Shifted<F, 1, 0>(src, width, out) : binRow8Shifted<F, 0, 0>(src, width, out);
}

// 8 x 8 blocks of 16-bit samples, separably as binRow8By8 takes them (the
// column sums of four samples in 32 bits), to the planes.
template <int Sx, int Sy>
inline void binRow16By8(const BlockRows<uint16_t, 8>& src, int width, const PlanarRow& out) {
  constexpr int kChunk = 256;  // pixels
  uint32_t even[8 * kChunk], odd[8 * kChunk];
  const ShiftPhase<Sx, Sy> phase{};
  uint16_t* __restrict r = out.r;
  uint16_t* __restrict g = out.g;
  uint16_t* __restrict b = out.b;
  for (int x0 = 0; x0 < width; x0 += kChunk) {
    const int n = width - x0 < kChunk ? width - x0 : kChunk;
    const int64_t c0 = 8 * int64_t(x0);
    const uint16_t* __restrict s0 = src.row[0] + c0, * __restrict s1 = src.row[1] + c0, * __restrict s2 = src.row[2] + c0, * __restrict s3 = src.row[3] + c0, * __restrict s4 = src.row[4] + c0, * __restrict s5 = src.row[5] + c0, * __restrict s6 = src.row[6] + c0, * __restrict s7 = src.row[7] + c0;
    for (int c = 0; c < 8 * n; ++c) {
      even[c] = uint32_t(s0[c]) + s2[c] + s4[c] + s6[c];
      odd[c] = uint32_t(s1[c]) + s3[c] + s5[c] + s7[c];
    }
    for (int k = 0; k < n; ++k) {
      const uint32_t* __restrict e = even + 8 * k;
      const uint32_t* __restrict o = odd + 8 * k;
      const int cell[2][2] = {{int(e[0] + e[2] + e[4] + e[6]), int(e[1] + e[3] + e[5] + e[7])},
                              {int(o[0] + o[2] + o[4] + o[6]), int(o[1] + o[3] + o[5] + o[7])}};
      const Rgb p = binPixelOfCells<8>(cell, phase);
      r[x0 + k] = static_cast<uint16_t>(p.r);
      g[x0 + k] = static_cast<uint16_t>(p.g);
      b[x0 + k] = static_cast<uint16_t>(p.b);
    }
  }
}

template <int F>
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void binRow16(const BlockRows<uint16_t, F>& src, int width, int pattern,
                                                             const PlanarRow& out) {
  if constexpr (F == 8) {
    const PatternShift p = bayerShift(pattern);
    if (p.sy)
      p.sx ? binRow16By8<1, 1>(src, width, out) : binRow16By8<0, 1>(src, width, out);
    else
      p.sx ? binRow16By8<1, 0>(src, width, out) : binRow16By8<0, 0>(src, width, out);
    return;
  }
  binRowOf(src, width, pattern, out);
}

template <int F, class T>
BlockRows<T, F> blockRows(const SurfaceView& s, int64_t y) {
  BlockRows<T, F> r{};
  for (int j = 0; j < F; ++j) r.row[j] = reinterpret_cast<const T*>(s.plane[0] + (F * y + j) * int64_t(s.pitch));
  return r;
}

template <int F>
void binHost(const SurfaceView& s, const SurfaceView& d, int pattern) {
  const int w = int(d.width);
  if (s.format == OPIX_I8) {
    host::parallelRows(d.height, [&](int64_t y) {
      unsigned char* row = d.plane[0] + y * d.pitch;
      binRow8<F>(blockRows<F, uint8_t>(s, y), w, pattern, row);
      if (isBgr8(d.format)) copyRgb8Pixels(row, row, w, true);
    });
  } else {
    host::parallelFor(d.height, [&](int64_t begin, int64_t end) {
      PlanarRows16 out(d);
      for (int64_t y = begin; y < end; ++y) {
        binRow16<F>(blockRows<F, uint16_t>(s, y), w, pattern, out.row(y));
        out.deliver(y);
      }
    });
  }
}

}  // namespace

void launchBinningHost(const SurfaceView& source, const SurfaceView& destination, int factor, int pattern) {
  switch (factor) {
    case 2: binHost<2>(source, destination, pattern); break;
    case 4: binHost<4>(source, destination, pattern); break;
    default: binHost<8>(source, destination, pattern); break;
  }
}

}  // namespace opix
