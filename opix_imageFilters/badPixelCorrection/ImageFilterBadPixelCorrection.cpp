#include "ImageFilterBadPixelCorrection.h"

#include "BadPixelMath.h"
#include "BayerTraits.h"
#include "KernelLaunch.h"
#include "TraceFile.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterBadPixelCorrection"

namespace opix {

void ImageFilterBadPixelCorrection::ApplyParameters(const void* record) {
  const opixBayerPattern_t p = static_cast<const opixBadPixelCorrection_t*>(record)->bayerPattern;
  if (p != OPIX_BAYER_NONE) checkBayerPattern(p, OPIX_INVALID_VALUE);
  trace::text("Bad pixel correction reinit");
  pattern_ = p;
}

void ImageFilterBadPixelCorrection::Launch(const SurfaceView& source, const SurfaceView& destination) {
  const int bits = static_cast<int>(opixFormatBits(source.format));
  // 8-bit grey data has no kernel.
  if (bits == 8 && pattern_ == OPIX_BAYER_NONE) OPIX_THROW(OPIX_INVALID_VALUE);
  const BadPixelArgs a{source, destination, bits, int(pattern_)};
  const char* name = bits == 8                     ? "BadPixelCorrection5x5_8bitsKernel"
                     : pattern_ != OPIX_BAYER_NONE ? "BadPixelCorrection5x5_Bayer_16bitsKernel"
                                                   : "BadPixelCorrection5x5_Gray_16bitsKernel";
  OPIX_KERNEL_LAUNCH(name, launchBadPixelCuda(a), launchBadPixelHost(a));
}

namespace {

// The five rows around y, mirrored past the top and bottom; columns are
// mirrored only within two samples of the left and right edges.
template <class T, bool Edge>
struct RowWindow {
  const T* rows[5];
  int x, width;
  uint32_t operator()(int dx, int dy) const {
    const int c = Edge ? mirrorIndex(x + dx, width) : x + dx;
    return rows[dy + 2][c];
  }
};

// Columns first, first + step, ... of the inner part of a row, all of one
// neighbour set.
template <bool Bayer, bool Green, class T>
void badPixelRun(const RowWindow<T, false>& rows, T* d, int first, int end, int step, int bits) {
  RowWindow<T, false> s = rows;
  for (int x = first; x < end; x += step) {
    s.x = x;
    d[x] = static_cast<T>(badPixelSampleOf<Bayer, Green>(s, bits));
  }
}

template <class T>
void badPixelRows(const BadPixelArgs& a) {
  const int w = int(a.src.width), h = int(a.src.height);
  const bool bayer = a.pattern != OPIX_BAYER_NONE;
  host::parallelRows(h, [&](int64_t y) {
    RowWindow<T, true> edge{};
    for (int k = 0; k < 5; ++k)
      edge.rows[k] = reinterpret_cast<const T*>(a.src.plane[0] + int64_t{mirrorIndex(int(y) + k - 2, h)} * a.src.pitch);
    edge.width = w;
    RowWindow<T, false> inner{};
    for (int k = 0; k < 5; ++k) inner.rows[k] = edge.rows[k];
    inner.width = w;
    T* d = reinterpret_cast<T*>(a.dst.plane[0] + y * a.dst.pitch);
    auto green = [&](int x) {
      const int phase = bayerPhase(a.pattern, x, int(y));
      return bayer && (phase == kPhaseGreenOfRedRow || phase == kPhaseGreenOfBlueRow);
    };
    // The two columns at each side mirror; the inner ones run by site colour.
    for (int x = 0; x < w; ++x) {
      if (x == 2 && w > 4) x = w - 2;
      edge.x = x;
      d[x] = static_cast<T>(badPixelSample(edge, bayer, green(x), a.bits));
    }
    if (w <= 4) return;
    if (!bayer) {
      badPixelRun<false, false>(inner, d, 2, w - 2, 1, a.bits);
      return;
    }
    for (int x = 2; x < 4; ++x) {
      if (green(x))
        badPixelRun<true, true>(inner, d, x, w - 2, 2, a.bits);
      else
        badPixelRun<true, false>(inner, d, x, w - 2, 2, a.bits);
    }
  });
}

}  // namespace

void launchBadPixelHost(const BadPixelArgs& a) {
  if (a.bits == 8)
    badPixelRows<uint8_t>(a);
  else
    badPixelRows<uint16_t>(a);
}

constexpr FilterType kBadPixelCorrectionTypes[] = {
    {OPIX_BAD_PIXEL_CORRECTION_5x5, "Bad Pixel Correction (5x5)", kGray},
};
extern const FilterDeclaration kBadPixelCorrectionFilter{
    kBadPixelCorrectionTypes, makeFilter<ImageFilterBadPixelCorrection>, recordBytesOf<opixBadPixelCorrection_t>,
    trace::recordOf<opixBadPixelCorrection_t>};

}  // namespace opix
