#include "ImageFilterGaussianSharpen.h"

#include <cmath>
#include <vector>

#include "Checks.h"
#include "KernelLaunch.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "common/NeighbourMath.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterGaussianSharpen"

namespace opix {

GaussianWeights gaussianWeights(float sigma, bool sharpen) {
  const double s2 = double(sigma) * double(sigma);
  const double centre = 1.0, edge = std::exp(-1.0 / (2.0 * s2)), corner = std::exp(-2.0 / (2.0 * s2));
  const double sum = centre + 4.0 * edge + 4.0 * corner;
  const double c = sharpen ? -2.0 * sum : centre;
  const double norm = c + 4.0 * edge + 4.0 * corner;
  return {float(c / norm), float(edge / norm), float(corner / norm)};
}

void ImageFilterGaussianSharpen::Transform(const void* parameters, uint32_t width, uint32_t height) {
  checks::widthMatches(width, source_->width);
  checks::heightMatches(height, source_->height);
  if (!parameters) checks::fail("Dynamic Parameters have not to be NULL", OPIX_INVALID_SIZE, __LINE__);
  ImageFilterBase::Transform(parameters, width, height);
}

void ImageFilterGaussianSharpen::ApplyParameters(const void* record) {
  const float sigma = static_cast<const opixGaussianFilter_t*>(record)->sigma;
  // A sigma of 0, below 0 or not finite has no kernel.
  if (!(sigma > 0.0f) || !std::isfinite(sigma)) checks::fail("Sigma must be positive", OPIX_INVALID_VALUE, __LINE__);
  weights_ = gaussianWeights(sigma, type_ == OPIX_GAUSSIAN_SHARPEN);
}

void ImageFilterGaussianSharpen::Launch(const SurfaceView& source, const SurfaceView& destination) {
  const opixSurfaceFormat_t f = source.format;
  const bool planar = isPlanar(f);
  const bool interleaved = f == OPIX_RGB8 || f == OPIX_BGR8;
  const int sampleBytes = f == OPIX_I8 || interleaved ? 1 : 2;
  const uint32_t hi = maxSample(static_cast<int>(opixFormatBits(f)));
  for (int p = 0; p < (planar ? 3 : 1); ++p) {
    const GaussianArgs a{source.plane[p],
                         source.pitch,
                         destination.plane[p],
                         destination.pitch,
                         source.width,
                         source.height,
                         interleaved ? 3 : 1,
                         sampleBytes,
                         hi,
                         weights_};
    OPIX_KERNEL_LAUNCH(sampleBytes == 1 ? "GPUSharpenImage8" : "GPUSharpenImage16", launchGaussianCuda(a),
                       launchGaussianHost(a));
  }
}

namespace {

// One row: n samples, c channels interleaved; the lines start one pixel left
// of the image. Plain parameters, so the compiler vectorises the loop.
template <class T>
OPIX_HOST_SIMD_CLONES void gaussianLine(const uint16_t* __restrict up, const uint16_t* __restrict mid,
                                        const uint16_t* __restrict down, T* __restrict d, int64_t n, int64_t c,
                                        GaussianWeights w, uint32_t hi) {
  for (int64_t e = 0; e < n; ++e) {
    const uint32_t edgeSum = uint32_t(up[e + c]) + down[e + c] + mid[e] + mid[e + 2 * c];
    const uint32_t cornerSum = uint32_t(up[e]) + up[e + 2 * c] + down[e] + down[e + 2 * c];
    d[e] = static_cast<T>(gaussianSample(mid[e + c], edgeSum, cornerSum, w, hi));
  }
}

// Row by row over a ring of three source rows widened by one pixel on each
// side (the edge pixel repeated), so the inner loop needs no edge tests.
template <class T>
void gaussianRows(const GaussianArgs& a) {
  const int64_t c = a.channels, h = a.height, n = int64_t{a.width} * c;
  host::parallelFor(h, [&](int64_t begin, int64_t end) {
    std::vector<uint16_t> ring(3 * size_t(n + 2 * c));
    auto line = [&](int64_t y) { return ring.data() + ((y + 3) % 3) * (n + 2 * c); };
    auto fill = [&](int64_t y) {
      const T* s = reinterpret_cast<const T*>(a.src + int64_t{clampIndex(int(y), int(h))} * a.srcPitch);
      uint16_t* l = line(y);
      for (int64_t e = 0; e < n; ++e) l[e + c] = s[e];
      for (int64_t k = 0; k < c; ++k) {
        l[k] = s[k];
        l[n + c + k] = s[n - c + k];
      }
    };
    fill(begin - 1);
    fill(begin);
    for (int64_t y = begin; y < end; ++y) {
      fill(y + 1);
      gaussianLine(line(y - 1), line(y), line(y + 1), reinterpret_cast<T*>(a.dst + y * int64_t{a.dstPitch}), n, c,
                   a.weights, a.hi);
    }
  });
}

}  // namespace

void launchGaussianHost(const GaussianArgs& a) {
  if (a.width == 0 || a.height == 0) return;
  if (a.sampleBytes == 1)
    gaussianRows<uint8_t>(a);
  else
    gaussianRows<uint16_t>(a);
}

namespace {

// The formats the kernels filter; any other is refused when the filter
// reserves its memory.
constexpr uint32_t kGaussianSources = kGray | kRgb8 | kBgr8 | kRgb12P | kRgb16P;

}  // namespace

constexpr FilterType kGaussianSharpenTypes[] = {
    {OPIX_GAUSSIAN_SHARPEN, "Gaussian Sharpen", kGaussianSources},
    {OPIX_GAUSSIAN_BLUR, "Gaussian Blur", kGaussianSources, kOtherInTrace},
};
extern const FilterDeclaration kGaussianSharpenFilter{kGaussianSharpenTypes,
                                                      makeFilter<ImageFilterGaussianSharpen>,
                                                      recordBytesOf<opixGaussianFilter_t>,
                                                      trace::recordOf<opixGaussianFilter_t>,
                                                      nullptr,
                                                      true};

}  // namespace opix
