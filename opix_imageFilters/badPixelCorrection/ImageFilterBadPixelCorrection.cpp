#include "ImageFilterBadPixelCorrection.h"

#include "BadPixelMath.h"
#include "BayerTraits.h"
#include "KernelLaunch.h"
#include "TraceFile.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "device/BytePermutes.h"
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

#if OPIX_BYTE_PERMUTES
// 8-bit Bayer rows 64 samples at a time: the neighbours' range in bytes as
// in badPixelInner, the decision by badPixelDecide8's tables through byte
// permutes.
struct BadPixelVectors8 {
  host::ByteTable64 raise[3], clip[3];
  OPIX_VBMI explicit BadPixelVectors8(const BadPixelTables8& b)
      : raise{host::ByteTable64(b.raise[0]), host::ByteTable64(b.raise[1]), host::ByteTable64(b.raise[2])},
        clip{host::ByteTable64(b.clip[0]), host::ByteTable64(b.clip[1]), host::ByteTable64(b.clip[2])} {}
};

OPIX_VBMI inline host::Bytes64 bytesAt(const uint8_t* p) {
  host::Bytes64 v;
  std::memcpy(&v, p, 64);
  return v;
}
OPIX_VBMI inline host::Bytes64 lower(host::Bytes64 a, host::Bytes64 b) { return a < b ? a : b; }
OPIX_VBMI inline host::Bytes64 upper(host::Bytes64 a, host::Bytes64 b) { return a < b ? b : a; }

// Columns [2, end), end at least 66: blocks of 64 from column 2, the last
// moved back to end at `end`, so that it writes some columns again with
// their same values; `evenGreen`: the row's greens are at even columns.
OPIX_VBMI void badPixelRow8Permutes(const uint8_t* const (&rows)[5], uint8_t* d, int end, bool evenGreen,
                                    const BadPixelTables8& tables) {
  using host::Bytes64;
  const BadPixelVectors8 t(tables);
  Bytes64 green[2];  // the green lanes of a block from an even and an odd column
  for (int i = 0; i < 64; ++i)
    for (int p = 0; p < 2; ++p) green[p][i] = (((p + i) & 1) == 0) == evenGreen ? 0xFF : 0;
  for (int x = 2;; x += 64) {
    if (x + 64 > end) x = end - 64;
    const uint8_t *r0 = rows[0] + x, *r1 = rows[1] + x, *r2 = rows[2] + x, *r3 = rows[3] + x, *r4 = rows[4] + x;
    const Bytes64 axisLo = lower(lower(bytesAt(r2 - 2), bytesAt(r2 + 2)), lower(bytesAt(r0), bytesAt(r4)));
    const Bytes64 axisHi = upper(upper(bytesAt(r2 - 2), bytesAt(r2 + 2)), upper(bytesAt(r0), bytesAt(r4)));
    const Bytes64 nearLo = lower(lower(bytesAt(r1 - 1), bytesAt(r1 + 1)), lower(bytesAt(r3 - 1), bytesAt(r3 + 1)));
    const Bytes64 nearHi = upper(upper(bytesAt(r1 - 1), bytesAt(r1 + 1)), upper(bytesAt(r3 - 1), bytesAt(r3 + 1)));
    const Bytes64 farLo = lower(lower(bytesAt(r0 - 2), bytesAt(r0 + 2)), lower(bytesAt(r4 - 2), bytesAt(r4 + 2)));
    const Bytes64 farHi = upper(upper(bytesAt(r0 - 2), bytesAt(r0 + 2)), upper(bytesAt(r4 - 2), bytesAt(r4 + 2)));
    const Bytes64 g = green[x & 1];
    const Bytes64 lo = lower(axisLo, g != 0 ? nearLo : farLo), hi = upper(axisHi, g != 0 ? nearHi : farHi);
    const Bytes64 v = bytesAt(r2);
    const Bytes64 raise = v < 16 ? t.raise[0](lo) : v < 64 ? t.raise[1](lo) : t.raise[2](lo);
    const Bytes64 clip = v < 16 ? t.clip[0](hi) : v < 64 ? t.clip[1](hi) : t.clip[2](hi);
    const Bytes64 out = v > clip ? hi : v < raise ? lo : v;
    std::memcpy(d + x, &out, 64);
    if (x + 64 >= end) break;
  }
}
#endif

template <class T>
void badPixelRows(const BadPixelArgs& a) {
  const int w = int(a.src.width), h = int(a.src.height);
  const bool bayer = a.pattern != OPIX_BAYER_NONE;
#if OPIX_BYTE_PERMUTES
  const bool permutes = sizeof(T) == 1 && bayer && host::bytePermutes();
  static const BadPixelTables8 tables8 = badPixelTables8();  // made once: they depend on nothing
#endif
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
#if OPIX_BYTE_PERMUTES
    if (permutes && w - 2 >= 66) {
      const uint8_t* rows[5];
      for (int k = 0; k < 5; ++k) rows[k] = reinterpret_cast<const uint8_t*>(inner.rows[k]);
      return badPixelRow8Permutes(rows, reinterpret_cast<uint8_t*>(d), w - 2, green(2), tables8);
    }
#endif
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
