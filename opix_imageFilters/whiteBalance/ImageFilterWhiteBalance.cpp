#include "ImageFilterWhiteBalance.h"

#include "KernelLaunch.h"
#include "WhiteBalanceMath.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterWhiteBalance"

namespace opix {

void ImageFilterWhiteBalance::ApplyParameters(const void* record) {
  parameters_ = *static_cast<const opixWhiteBalance_t*>(record);
}

void ImageFilterWhiteBalance::Launch(const SurfaceView& source, const SurfaceView& destination) {
  const opixBayerPattern_t p = parameters_.bayerPattern;
  checkBayerPattern(p, OPIX_INVALID_VALUE);
  const WhiteBalanceArgs a{source,
                           destination,
                           static_cast<int>(opixFormatBits(source.format)),
                           static_cast<int>(p),
                           {parameters_.R, parameters_.G1, parameters_.G2, parameters_.B}};
  OPIX_KERNEL_LAUNCH("GPUWhiteBalance", launchWhiteBalanceCuda(a), launchWhiteBalanceHost(a));
}

namespace {

// One row; k: the gains of its even and odd columns.
template <class T>
inline void whiteBalanceRun(const T* s, T* d, uint32_t n, const float (&k)[2], uint32_t hi) {
  sitePairRow(s, d, n, k[0], k[1], [hi](uint32_t v, float g) { return whiteBalanceSampleSelect(v, g, hi); });
}
OPIX_HOST_FMA_CLONES __attribute__((flatten)) void whiteBalanceRow8(const uint8_t* s, uint8_t* d, uint32_t n,
                                                                    const float (&k)[2], uint32_t hi) {
  whiteBalanceRun(s, d, n, k, hi);
}
OPIX_HOST_FMA_CLONES __attribute__((flatten)) void whiteBalanceRow16(const uint16_t* s, uint16_t* d, uint32_t n,
                                                                     const float (&k)[2], uint32_t hi) {
  whiteBalanceRun(s, d, n, k, hi);
}

template <class T>
void whiteBalanceRows(const WhiteBalanceArgs& a) {
  const uint32_t hi = maxSample(a.bits);
  host::parallelRows(a.src.height, [&](int64_t y) {
    const T* s = reinterpret_cast<const T*>(a.src.plane[0] + y * a.src.pitch);
    T* d = reinterpret_cast<T*>(a.dst.plane[0] + y * a.dst.pitch);
    const float k[2] = {a.gain[bayerCellSite(a.pattern, 0, int(y))], a.gain[bayerCellSite(a.pattern, 1, int(y))]};
    if constexpr (sizeof(T) == 1)
      whiteBalanceRow8(s, d, a.src.width, k, hi);
    else
      whiteBalanceRow16(s, d, a.src.width, k, hi);
  });
}

}  // namespace

void launchWhiteBalanceHost(const WhiteBalanceArgs& a) {
  if (a.bits == 8)
    whiteBalanceRows<uint8_t>(a);
  else
    whiteBalanceRows<uint16_t>(a);
}

constexpr FilterType kWhiteBalanceTypes[] = {
    {OPIX_WHITE_BALANCE, "white balance", kI8 | kI12 | kI16},
};
extern const FilterDeclaration kWhiteBalanceFilter{kWhiteBalanceTypes, makeFilter<ImageFilterWhiteBalance>,
                                                   recordBytesOf<opixWhiteBalance_t>,
                                                   trace::recordOf<opixWhiteBalance_t>};

}  // namespace opix
