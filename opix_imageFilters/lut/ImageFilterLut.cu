// CUDA driver of the look-up tables. Every kernel works on quads, four
// consecutive pixels of a row with all their channels, moved in whole 32-bit
// words (one to three per plane); each block first copies its tables into
// shared memory, then maps a tile of quads. Only blocks of the last block
// column or row test bounds. The 16-bit Bayer tables (three of 16384 entries,
// 96 KiB) do not fit in static shared memory: those kernels read them through
// the read-only cache; the full range tables are read through textures.
#include "CudaKernel.cuh"
#include "ImageFilterLut.h"
#include "LutMath.h"
#include "TextureRead.h"
#include "common/FilterWords.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

enum Layout { kGray8, kGray16, kRgb8, kPlanar16 };

template <int L>
__host__ __device__ constexpr int channelsOf() {
  return L == kRgb8 || L == kPlanar16 ? 3 : 1;
}

// Quad q of row y into v[channel][pixel]; n pixels of it lie in the image.
// Words holding no pixel of the image are not read.
template <int L>
__device__ void loadQuad(const SurfaceView& s, uint32_t q, uint32_t y, uint32_t n, uint32_t (&v)[3][4]) {
  if (L == kGray8) {
    const uint32_t w = wordRow(s.plane[0], s.pitch, y)[q];
    for (int i = 0; i < 4; ++i) v[0][i] = (w >> (8 * i)) & 0xFFu;
  } else if (L == kRgb8) {
    const uint32_t* row = wordRow(s.plane[0], s.pitch, y) + 3 * q;
    uint32_t w[3];
    for (uint32_t j = 0; j < 3; ++j) w[j] = 4 * j < 3 * n ? row[j] : 0u;
    for (int k = 0; k < 12; ++k) v[k % 3][k / 3] = (w[k / 4] >> (8 * (k % 4))) & 0xFFu;
  } else {
    for (int c = 0; c < channelsOf<L>(); ++c) {
      const uint32_t* row = wordRow(s.plane[c], s.pitch, y);
      const uint32_t w0 = row[2 * q], w1 = n > 2 ? row[2 * q + 1] : 0u;
      v[c][0] = w0 & 0xFFFFu;
      v[c][1] = w0 >> 16;
      v[c][2] = w1 & 0xFFFFu;
      v[c][3] = w1 >> 16;
    }
  }
}

// Stores the first n pixels of quad q of row y.
template <int L>
__device__ void storeQuad(const SurfaceView& d, uint32_t q, uint32_t y, uint32_t n, const uint32_t (&v)[3][4]) {
  if (L == kGray8) {
    const uint32_t w = v[0][0] | (v[0][1] << 8) | (v[0][2] << 16) | (v[0][3] << 24);
    storePartial<uint8_t>(wordRow(d.plane[0], d.pitch, y), q, w, n);
  } else if (L == kRgb8) {
    uint32_t w[3] = {0, 0, 0};
    for (int k = 0; k < 12; ++k) w[k / 4] |= v[k % 3][k / 3] << (8 * (k % 4));
    uint32_t* row = wordRow(d.plane[0], d.pitch, y);
    for (uint32_t j = 0; j < 3; ++j)
      if (4 * j < 3 * n) storePartial<uint8_t>(row, 3 * q + j, w[j], 3 * n - 4 * j);
  } else {
    for (int c = 0; c < channelsOf<L>(); ++c) {
      uint32_t* row = wordRow(d.plane[c], d.pitch, y);
      storePartial<uint16_t>(row, 2 * q, v[c][0] | (v[c][1] << 16), n);
      if (n > 2) storePartial<uint16_t>(row, 2 * q + 1, v[c][2] | (v[c][3] << 16), n - 2);
    }
  }
}

// The block's tile: Quads quads of a row per thread, Rows rows, each sample
// s of channel c at (x, y) becoming map(c, s, x, y).
template <int SrcL, int DstL, int BW, int BH, int Quads, int Rows, class Map>
__device__ void lutTile(const LutArgs& a, const Map& map) {
  const uint32_t w = a.src.width, h = a.src.height;
  const bool checked = edgeBlock();
  for (int r = 0; r < Rows; ++r) {
    const uint32_t y = (blockIdx.y * Rows + uint32_t(r)) * BH + threadIdx.y;
    for (int k = 0; k < Quads; ++k) {
      const uint32_t q = (blockIdx.x * Quads + uint32_t(k)) * BW + threadIdx.x;
      uint32_t n = 4;
      if (checked) {
        if (y >= h || 4 * q >= w) continue;
        n = w - 4 * q < 4 ? w - 4 * q : 4;
      }
      uint32_t v[3][4];
      loadQuad<SrcL>(a.src, q, y, n, v);
      for (int c = 0; c < channelsOf<SrcL>(); ++c)
        for (int i = 0; i < 4; ++i) v[c][i] = map(c, v[c][i], 4 * q + uint32_t(i), y);
      storeQuad<DstL>(a.dst, q, y, n, v);
    }
  }
}

// Copies `count` entries of a device table into shared memory (the caller
// synchronises).
template <class T>
__device__ void loadTable(T* shared, const void* table, int count) {
  const T* src = static_cast<const T*>(table);
  const int threads = int(blockDim.x * blockDim.y);
  for (int i = int(threadIdx.y * blockDim.x + threadIdx.x); i < count; i += threads) shared[i] = readOnly(src + i);
}

template <class T, int Entries, int Tables>
__device__ void loadTables(T (&shared)[Tables][Entries], const LutArgs& a) {
  for (int t = 0; t < Tables; ++t) loadTable(shared[t], a.table[t], Entries);
  __syncthreads();
}

// ------------------------------------------------------------ 8-bit sources

// Every byte of the rows through the one table (I8 and RGB8 alike).
__global__ void Lut8Kernel(LutArgs a) {
  __shared__ uint8_t t[1][256];
  loadTables(t, a);
  lutTile<kGray8, kGray8, 256, 1, 1, 8>(a, [&](int, uint32_t v, uint32_t, uint32_t) { return uint32_t(t[0][v]); });
}

__global__ void LutColorKernel(LutArgs a) {
  __shared__ uint8_t t[3][256];
  loadTables(t, a);
  lutTile<kRgb8, kRgb8, 32, 4, 1, 8>(a, [&](int c, uint32_t v, uint32_t, uint32_t) { return uint32_t(t[c][v]); });
}

__global__ void Lut8to16GrayKernel(LutArgs a) {
  __shared__ uint16_t t[1][256];
  loadTables(t, a);
  lutTile<kGray8, kGray16, 256, 1, 1, 8>(a, [&](int, uint32_t v, uint32_t, uint32_t) { return uint32_t(t[0][v]); });
}

template <int Tables>
__global__ void Lut8to16ColorKernel(LutArgs a) {
  __shared__ uint16_t t[Tables][256];
  loadTables(t, a);
  lutTile<kRgb8, kPlanar16, 32, 4, 1, 8>(
      a, [&](int c, uint32_t v, uint32_t, uint32_t) { return uint32_t(t[Tables == 3 ? c : 0][v]); });
}

__global__ void Lut8to16BayerKernel(LutArgs a) {
  __shared__ uint16_t t[3][256];
  loadTables(t, a);
  const int p = a.pattern;
  lutTile<kGray8, kGray16, 32, 16, 1, 4>(
      a, [&](int, uint32_t v, uint32_t x, uint32_t y) { return uint32_t(t[lutBayerTable(p, int(x), int(y))][v]); });
}

// ----------------------------------------------- 10- to 16-bit single planes

// Masked lookup of one plane: 10-, 12- and 14-bit inputs.
template <int Entries>
__global__ void Lut12Kernel(LutArgs a) {
  __shared__ uint16_t t[1][Entries];
  loadTables(t, a);
  lutTile<kGray16, kGray16, 32, 16, 1, 8>(
      a, [&](int, uint32_t v, uint32_t, uint32_t) { return lutMasked(t[0], v, uint32_t(Entries - 1)); });
}

// Interpolating lookup of one 16-bit plane.
__global__ void Lut16Kernel(LutArgs a) {
  __shared__ uint16_t t[1][16385];
  loadTables(t, a);
  lutTile<kGray16, kGray16, 32, 32, 2, 8>(
      a, [&](int, uint32_t v, uint32_t, uint32_t) { return lutInterpolated(t[0], v); });
}

__global__ void Lut16_fr_Kernel(LutArgs a) {
  const TextureView tex = a.texture[0];
  lutTile<kGray16, kGray16, 32, 32, 2, 8>(
      a, [&](int, uint32_t v, uint32_t, uint32_t) { return uint32_t(textureFetch1D<uint16_t>(tex, int32_t(v))); });
}

template <int Entries>
__global__ void Lut12BayerKernel(LutArgs a) {
  __shared__ uint16_t t[3][Entries];
  loadTables(t, a);
  const int p = a.pattern;
  lutTile<kGray16, kGray16, 32, 32, 1, 4>(a, [&](int, uint32_t v, uint32_t x, uint32_t y) {
    return lutMasked(t[lutBayerTable(p, int(x), int(y))], v, uint32_t(Entries - 1));
  });
}

template <bool Interpolated>
__global__ void Lut16BayerKernel(LutArgs a) {
  // The table picked by selects: an indexed array of the three pointers
  // would live in a stack frame.
  const auto* red = static_cast<const uint16_t*>(a.table[0]);
  const auto* green = static_cast<const uint16_t*>(a.table[1]);
  const auto* blue = static_cast<const uint16_t*>(a.table[2]);
  const int p = a.pattern;
  lutTile<kGray16, kGray16, 32, 32, 1, 4>(a, [&](int, uint32_t v, uint32_t x, uint32_t y) {
    const int c = lutBayerTable(p, int(x), int(y));
    const uint16_t* table = c == 0 ? red : c == 1 ? green : blue;
    if (Interpolated) {
      const uint32_t i = v >> 2, f = v & 3u;
      return ((4u - f) * uint32_t(readOnly(table + i)) + f * uint32_t(readOnly(table + i + 1))) >> 2;
    }
    return uint32_t(readOnly(table + (v & 16383u)));
  });
}

__global__ void Lut16Bayer_FR_Kernel(LutArgs a) {
  const int p = a.pattern;
  lutTile<kGray16, kGray16, 32, 32, 1, 4>(a, [&](int, uint32_t v, uint32_t x, uint32_t y) {
    return uint32_t(textureFetch1D<uint16_t>(a.texture[lutBayerTable(p, int(x), int(y))], int32_t(v)));
  });
}

// ------------------------------------------------------------- 8-bit outputs

// Entries 4096: masked 12-bit index; 16384: the 16-bit sample shifted by 2.
template <int Entries>
__device__ uint32_t to8Index(uint32_t v) {
  return Entries == 4096 ? (v & 4095u) : ((v >> 2) & 16383u);
}

template <int Entries>
__device__ void to8Gray(const LutArgs& a, const uint8_t (&t)[1][Entries]) {
  lutTile<kGray16, kGray8, 32, 8, 1, 8>(
      a, [&](int, uint32_t v, uint32_t, uint32_t) { return uint32_t(t[0][to8Index<Entries>(v)]); });
}

template <int Entries>
__device__ void to8Color(const LutArgs& a, const uint8_t (&t)[1][Entries]) {
  lutTile<kPlanar16, kRgb8, 32, 8, 1, 8>(
      a, [&](int, uint32_t v, uint32_t, uint32_t) { return uint32_t(t[0][to8Index<Entries>(v)]); });
}

template <int Entries>
__device__ void to8Lut3(const LutArgs& a, const uint8_t (&t)[3][Entries]) {
  lutTile<kPlanar16, kRgb8, 32, 32, 1, 8>(
      a, [&](int c, uint32_t v, uint32_t, uint32_t) { return uint32_t(t[c][to8Index<Entries>(v)]); });
}

__global__ void Lut12to8GrayKernel(LutArgs a) {
  __shared__ uint8_t t[1][4096];
  loadTables(t, a);
  to8Gray(a, t);
}

__global__ void Lut12to8ColorKernel(LutArgs a) {
  __shared__ uint8_t t[1][4096];
  loadTables(t, a);
  to8Color(a, t);
}

__global__ void Lut12to8Lut3Kernel(LutArgs a) {
  __shared__ uint8_t t[3][4096];
  loadTables(t, a);
  to8Lut3(a, t);
}

__global__ void Lut16to8GrayKernel(LutArgs a) {
  __shared__ uint8_t t[1][16384];
  loadTables(t, a);
  to8Gray(a, t);
}

__global__ void Lut16to8ColorKernel(LutArgs a) {
  __shared__ uint8_t t[1][16384];
  loadTables(t, a);
  to8Color(a, t);
}

// Three tables of 16384 entries: the whole 48 KiB of static shared memory.
__global__ void Lut16to8Lut3Kernel(LutArgs a) {
  __shared__ uint8_t t[3][16384];
  loadTables(t, a);
  to8Lut3(a, t);
}

// --------------------------------------------------------------- launchers

template <int BW, int BH, int Quads, int Rows>
dim3 gridOf(const LutArgs& a) {
  return dim3(ceilDiv(ceilDiv(a.src.width, 4), BW * Quads), ceilDiv(a.src.height, BH * Rows), 1);
}

template <int BW, int BH, int Quads, int Rows>
void launch(void (*kernel)(LutArgs), const LutArgs& a) {
  launchKernel(kernel, gridOf<BW, BH, Quads, Rows>(a), dim3(BW, BH, 1), a);
}

// The arguments for plane c of planar 16-bit images, as a single plane with
// the table of channel c.
LutArgs planeArgs(const LutArgs& a, int c) {
  LutArgs p = a;
  p.src.plane[0] = a.src.plane[c];
  p.dst.plane[0] = a.dst.plane[c];
  p.table[0] = a.table[c];
  p.texture[0] = a.texture[c];
  return p;
}

void launch16to16(const LutArgs& a) {
  const int planes = a.src.plane[1] ? 3 : 1;
  for (int c = 0; c < planes; ++c) {
    const LutArgs p = planeArgs(a, c);
    if (a.indexing == LutIndexing::FullRange)
      launch<32, 32, 2, 8>(Lut16_fr_Kernel, p);
    else if (a.indexing == LutIndexing::Interpolated)
      launch<32, 32, 2, 8>(Lut16Kernel, p);
    else if (a.mask == 1023)
      launch<32, 16, 1, 8>(Lut12Kernel<1024>, p);
    else if (a.mask == 4095)
      launch<32, 16, 1, 8>(Lut12Kernel<4096>, p);
    else
      launch<32, 16, 1, 8>(Lut12Kernel<16384>, p);
  }
}

void launchBayer(const LutArgs& a) {
  if (a.indexing == LutIndexing::FullRange)
    launch<32, 32, 1, 4>(Lut16Bayer_FR_Kernel, a);
  else if (a.srcBits == 8)
    launch<32, 16, 1, 4>(Lut8to16BayerKernel, a);
  else if (a.srcBits == 10)
    launch<32, 32, 1, 4>(Lut12BayerKernel<1024>, a);
  else if (a.srcBits == 12)
    launch<32, 32, 1, 4>(Lut12BayerKernel<4096>, a);
  else if (a.indexing == LutIndexing::Interpolated)
    launch<32, 32, 1, 4>(Lut16BayerKernel<true>, a);
  else
    launch<32, 32, 1, 4>(Lut16BayerKernel<false>, a);
}

void launchTo8(const LutArgs& a, bool colour) {
  const bool from16 = a.indexing == LutIndexing::Shifted;
  if (!colour)
    launch<32, 8, 1, 8>(from16 ? Lut16to8GrayKernel : Lut12to8GrayKernel, a);
  else if (a.tables == 1)
    launch<32, 8, 1, 8>(from16 ? Lut16to8ColorKernel : Lut12to8ColorKernel, a);
  else
    launch<32, 32, 1, 8>(from16 ? Lut16to8Lut3Kernel : Lut12to8Lut3Kernel, a);
}

}  // namespace

void launchLutCuda(const LutArgs& a) {
  if (a.src.width == 0 || a.src.height == 0) return;
  const bool colour = opixFormatChannels(a.src.format) == 3;
  if (a.bayer) return launchBayer(a);
  if (a.srcBits == 8 && a.outBits == 8) {
    if (a.tables == 3) return launch<32, 4, 1, 8>(LutColorKernel, a);
    // Every byte alike: the rows as bytes, four per quad.
    LutArgs bytes = a;
    bytes.src.width = bytes.dst.width = a.src.width * (colour ? 3 : 1);
    return launch<256, 1, 1, 8>(Lut8Kernel, bytes);
  }
  if (a.srcBits == 8) {
    if (!colour) return launch<256, 1, 1, 8>(Lut8to16GrayKernel, a);
    if (a.tables == 3) return launch<32, 4, 1, 8>(Lut8to16ColorKernel<3>, a);
    return launch<32, 4, 1, 8>(Lut8to16ColorKernel<1>, a);
  }
  if (a.outBits == 8) return launchTo8(a, colour);
  launch16to16(a);
}

}  // namespace opix::OPIX_CUDA_NS
