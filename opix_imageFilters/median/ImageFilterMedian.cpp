#include "ImageFilterMedian.h"

#include <vector>

#include "KernelLaunch.h"
#include "MedianMath.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterMedian"

namespace opix {

void ImageFilterMedian::Transform(const void* parameters, uint32_t width, uint32_t height) {
  parametersSupplied_ = true;
  ImageFilterBase::Transform(parameters, width, height);
}

void ImageFilterMedian::Launch(const SurfaceView& source, const SurfaceView& destination) {
  const int planes = isPlanar(source.format) ? 3 : 1;
  for (int p = 0; p < planes; ++p) {
    const MedianArgs a{source.plane[p],   source.pitch, destination.plane[p],
                       destination.pitch, source.width, source.height};
    OPIX_KERNEL_LAUNCH("GPUMedian16", launchMedianCuda(a), launchMedianHost(a));
  }
}

namespace {

// The three rows' columns sorted into lo, mid and hi (separate arrays, so the
// compiler vectorises the loop).
OPIX_HOST_SIMD_CLONES void sortColumns(const uint16_t* __restrict up, const uint16_t* __restrict centre,
                                       const uint16_t* __restrict down, uint16_t* __restrict lo,
                                       uint16_t* __restrict mid, uint16_t* __restrict hi, int64_t n) {
  for (int64_t x = 0; x < n; ++x) {
    const Sorted3<uint16_t> s = sort3(up[x], centre[x], down[x]);
    lo[x] = s.lo;
    mid[x] = s.mid;
    hi[x] = s.hi;
  }
}

// Sample x from sorted columns x - 1, x and x + 1 (the arrays start one
// column left of the image).
OPIX_HOST_SIMD_CLONES void medianOfColumns(const uint16_t* __restrict lo, const uint16_t* __restrict mid,
                                           const uint16_t* __restrict hi, uint16_t* __restrict d, int64_t n) {
  for (int64_t x = 0; x < n; ++x)
    d[x] = median9(Sorted3<uint16_t>{lo[x], mid[x], hi[x]}, Sorted3<uint16_t>{lo[x + 1], mid[x + 1], hi[x + 1]},
                   Sorted3<uint16_t>{lo[x + 2], mid[x + 2], hi[x + 2]});
}

}  // namespace

// Row by row: the three source rows are sorted column by column into
// per-thread lines one column wider on each side (the edge column repeated),
// then each sample takes the median of its three sorted columns.
void launchMedianHost(const MedianArgs& a) {
  const int64_t w = a.width, h = a.height;
  if (w == 0 || h == 0) return;
  host::parallelFor(h, [&](int64_t begin, int64_t end) {
    std::vector<uint16_t> lines(3 * size_t(w + 2));
    uint16_t* lo = lines.data();
    uint16_t* mid = lo + (w + 2);
    uint16_t* hi = mid + (w + 2);
    auto row = [&](int64_t r) {
      return reinterpret_cast<const uint16_t*>(a.src + clampIndex(int(r), int(h)) * int64_t{a.srcPitch});
    };
    for (int64_t y = begin; y < end; ++y) {
      sortColumns(row(y - 1), row(y), row(y + 1), lo + 1, mid + 1, hi + 1, w);
      lo[0] = lo[1], mid[0] = mid[1], hi[0] = hi[1];
      lo[w + 1] = lo[w], mid[w + 1] = mid[w], hi[w + 1] = hi[w];
      medianOfColumns(lo, mid, hi, reinterpret_cast<uint16_t*>(a.dst + y * int64_t{a.dstPitch}), w);
    }
  });
}

constexpr FilterType kMedianTypes[] = {
    {OPIX_MEDIAN, "Median filter", kI12 | kI16 | kRgb12P | kRgb16P},
};
extern const FilterDeclaration kMedianFilter{kMedianTypes, makeFilter<ImageFilterMedian>, noRecord};

}  // namespace opix
