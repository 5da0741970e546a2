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

// The inner columns [2, end) of a row. The neighbours' range is taken in the
// samples' own type (a minimum or maximum of samples is the same in any
// width), for Bayer data over both diagonal distances at every column, the
// site's picked by its column's parity, so that the loop reads the rows
// without stride and vectorises in the samples' width; only the decision is
// made in float, by the shared maths. The five rows are held in local
// restricted pointers so that the stores do not make the loop reload them.
template <bool Bayer, bool EvenGreen, class T>
inline void badPixelInner(const T* const (&rows)[5], T* __restrict d, int end, int bits) {
  const T* __restrict r0 = rows[0];
  const T* __restrict r1 = rows[1];
  const T* __restrict r2 = rows[2];
  const T* __restrict r3 = rows[3];
  const T* __restrict r4 = rows[4];
  const auto lower = [](T a, T b) { return a < b ? a : b; };
  const auto upper = [](T a, T b) { return a < b ? b : a; };
  for (int x = 2; x < end; ++x) {
    T lo, hi;
    if (!Bayer) {  // the 3 x 3 window
      lo = lower(lower(lower(r1[x - 1], r1[x]), lower(r1[x + 1], r2[x - 1])),
                 lower(lower(r2[x + 1], r3[x - 1]), lower(r3[x], r3[x + 1])));
      hi = upper(upper(upper(r1[x - 1], r1[x]), upper(r1[x + 1], r2[x - 1])),
                 upper(upper(r2[x + 1], r3[x - 1]), upper(r3[x], r3[x + 1])));
    } else {  // two away along the row and column, and the diagonals one (green) or two away
      const T axisLo = lower(lower(r2[x - 2], r2[x + 2]), lower(r0[x], r4[x]));
      const T axisHi = upper(upper(r2[x - 2], r2[x + 2]), upper(r0[x], r4[x]));
      const T nearLo = lower(lower(r1[x - 1], r1[x + 1]), lower(r3[x - 1], r3[x + 1]));
      const T nearHi = upper(upper(r1[x - 1], r1[x + 1]), upper(r3[x - 1], r3[x + 1]));
      const T farLo = lower(lower(r0[x - 2], r0[x + 2]), lower(r4[x - 2], r4[x + 2]));
      const T farHi = upper(upper(r0[x - 2], r0[x + 2]), upper(r4[x - 2], r4[x + 2]));
      const bool green = ((x & 1) == 0) == EvenGreen;
      lo = lower(axisLo, green ? nearLo : farLo);
      hi = upper(axisHi, green ? nearHi : farHi);
    }
    d[x] = static_cast<T>(badPixelDecide(r2[x], lo, hi, bits));
  }
}

template <class T>
inline void badPixelInnerOf(const T* const (&rows)[5], T* d, int end, int bits, bool bayer, bool evenGreen) {
  if (!bayer)
    badPixelInner<false, false>(rows, d, end, bits);
  else if (evenGreen)
    badPixelInner<true, true>(rows, d, end, bits);
  else
    badPixelInner<true, false>(rows, d, end, bits);
}
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void badPixelRow(const uint8_t* const (&rows)[5], uint8_t* d, int end,
                                                                int bits, bool bayer, bool evenGreen) {
  badPixelInnerOf(rows, d, end, bits, bayer, evenGreen);
}
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void badPixelRow(const uint16_t* const (&rows)[5], uint16_t* d, int end,
                                                                int bits, bool bayer, bool evenGreen) {
  badPixelInnerOf(rows, d, end, bits, bayer, evenGreen);
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
    badPixelRow(inner.rows, d, w - 2, a.bits, bayer, green(2));
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
