// CUDA driver of the base colour correction. The matrix and white levels are
// staged in shared memory. Grey: 256 threads, one 32-bit word per thread in
// each of 8 rows. RGB8: 32 x 4 threads, 3 words (4 pixels) per thread in each
// of 8 rows. Planar: 32 x 16 threads, one word (2 pixels) of each plane per
// thread in each of 8 rows. Only edge blocks test bounds.
#include "BaseColorCorrectionMath.h"
#include "CudaKernel.cuh"
#include "ImageFilterBaseColorCorrection.h"
#include "common/FilterWords.cuh"

namespace opix::OPIX_CUDA_NS {

namespace {

constexpr int kRows = 8;

// Loads the matrix and white levels into shared memory.
__device__ void stage(const ColorCorrectionArgs& a, float* m, int32_t* white) {
  const int t = threadIdx.y * blockDim.x + threadIdx.x;
  if (t < 12) m[t] = a.matrix[t];
  if (t < 3) white[t] = a.white[t];
  __syncthreads();
}

template <class T>
__device__ void grayBlock(const ColorCorrectionArgs& a, uint32_t hi) {
  __shared__ float m[12];
  __shared__ int32_t white[3];
  stage(a, m, white);
  const uint32_t wx = blockIdx.x * blockDim.x + threadIdx.x;
  const bool checked = edgeBlock();
  auto fn = [&](uint32_t p, uint32_t) { return colorCorrectGray(p, m, hi); };
  for (int r = 0; r < kRows; ++r) {
    const uint32_t y = blockIdx.y * kRows + uint32_t(r);
    if (checked)
      wordAt<T, true>(a.src, a.dst, wx, y, fn);
    else
      wordAt<T, false>(a.src, a.dst, wx, y, fn);
  }
}

__global__ void ColorCorrectionGray8Kernel(ColorCorrectionArgs a) { grayBlock<uint8_t>(a, 255u); }

template <int Bits>
__global__ void ColorCorrectionGray16Kernel(ColorCorrectionArgs a) {
  grayBlock<uint16_t>(a, maxSample(Bits));
}

__global__ void BaseColorCorrectionKernel(ColorCorrectionArgs a) {
  __shared__ float m[12];
  __shared__ int32_t white[3];
  stage(a, m, white);
  const uint32_t group = blockIdx.x * blockDim.x + threadIdx.x;  // 4 pixels, 3 words
  const uint32_t x0 = 4 * group;
  const bool checked = edgeBlock();
  for (int r = 0; r < kRows; ++r) {
    const uint32_t y = (blockIdx.y * blockDim.y + threadIdx.y) * kRows + uint32_t(r);
    if (checked) {
      if (y >= a.src.height || x0 >= a.src.width) return;
      const unsigned char* s = a.src.plane[0] + size_t(y) * a.src.pitch;
      unsigned char* d = a.dst.plane[0] + size_t(y) * a.dst.pitch;
      for (uint32_t x = x0; x < x0 + 4 && x < a.src.width; ++x) {
        const Rgb3 p = colorCorrectRgb(s[3 * x], s[3 * x + 1], s[3 * x + 2], m, white, 255u);
        for (int c = 0; c < 3; ++c) d[3 * x + c] = static_cast<unsigned char>(p.c[c]);
      }
      continue;
    }
    const uint32_t* s = wordRow(a.src.plane[0], a.src.pitch, y) + 3 * group;
    uint32_t* d = wordRow(a.dst.plane[0], a.dst.pitch, y) + 3 * group;
    const uint32_t in[3] = {s[0], s[1], s[2]};
    uint32_t out[3] = {0, 0, 0};
    for (int i = 0; i < 4; ++i) {
      uint32_t ch[3];
      for (int c = 0; c < 3; ++c) {
        const int b = 3 * i + c;
        ch[c] = (in[b / 4] >> (8 * (b % 4))) & 0xFFu;
      }
      const Rgb3 p = colorCorrectRgb(ch[0], ch[1], ch[2], m, white, 255u);
      for (int c = 0; c < 3; ++c) {
        const int b = 3 * i + c;
        out[b / 4] |= p.c[c] << (8 * (b % 4));
      }
    }
    d[0] = out[0];
    d[1] = out[1];
    d[2] = out[2];
  }
}

template <int Bits>
__global__ void ColorCorrection16Kernel(ColorCorrectionArgs a) {
  __shared__ float m[12];
  __shared__ int32_t white[3];
  stage(a, m, white);
  const uint32_t wx = blockIdx.x * blockDim.x + threadIdx.x;  // 2 pixels per word
  const uint32_t x0 = 2 * wx;
  const bool checked = edgeBlock();
  for (int r = 0; r < kRows; ++r) {
    const uint32_t y = (blockIdx.y * blockDim.y + threadIdx.y) * kRows + uint32_t(r);
    if (checked && (y >= a.src.height || x0 >= a.src.width)) return;
    uint32_t in[3], out[3] = {0, 0, 0};
    for (int c = 0; c < 3; ++c) in[c] = wordRow(a.src.plane[c], a.src.pitch, y)[wx];
    for (int i = 0; i < 2; ++i) {
      const Rgb3 p = colorCorrectRgb(Words<uint16_t>::get(in[0], i), Words<uint16_t>::get(in[1], i),
                                     Words<uint16_t>::get(in[2], i), m, white, maxSample(Bits));
      for (int c = 0; c < 3; ++c) out[c] = Words<uint16_t>::put(out[c], i, p.c[c]);
    }
    for (int c = 0; c < 3; ++c) {
      uint32_t* d = wordRow(a.dst.plane[c], a.dst.pitch, y);
      if (checked)
        storePartial<uint16_t>(d, wx, out[c], a.src.width - x0);
      else
        d[wx] = out[c];
    }
  }
}

}  // namespace

void launchColorCorrectionCuda(const ColorCorrectionArgs& a) {
  const uint32_t w = a.src.width, h = a.src.height;
  if (w == 0 || h == 0) return;
  const dim3 grey(ceilDiv(wordsPerRow(w, a.src.format == OPIX_I8 ? 1 : 2), 256), ceilDiv(h, kRows));
  const dim3 planar(ceilDiv(wordsPerRow(w, 2), 32), ceilDiv(h, 16 * kRows));
  switch (a.src.format) {
    case OPIX_I8: launchKernel(ColorCorrectionGray8Kernel, grey, 256, a); break;
    case OPIX_I12: launchKernel(ColorCorrectionGray16Kernel<12>, grey, 256, a); break;
    case OPIX_I16: launchKernel(ColorCorrectionGray16Kernel<16>, grey, 256, a); break;
    case OPIX_RGB8:
      launchKernel(BaseColorCorrectionKernel, dim3(ceilDiv(3 * ceilDiv(w, 4), 96), ceilDiv(h, 4 * kRows)), dim3(32, 4),
                   a);
      break;
    case OPIX_RGB12_PLANAR: launchKernel(ColorCorrection16Kernel<12>, planar, dim3(32, 16), a); break;
    default: launchKernel(ColorCorrection16Kernel<16>, planar, dim3(32, 16), a); break;
  }
}

}  // namespace opix::OPIX_CUDA_NS
