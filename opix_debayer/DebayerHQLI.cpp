#include "DebayerHQLI.h"

#include "BayerTraits.h"
#include "HQLIMath.h"
#include "HostRows.h"
#include "KernelLaunch.h"
#include "device/Parallel.h"

namespace opix {

void DebayerHQLI::Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination) {
  const PatternShift s = bayerShift(pattern);
  OPIX_KERNEL_LAUNCH("GPUMalvarDebayer", launchHQLICuda(work, destination, s.sx, s.sy),
                     launchHQLIHost(work, destination, s.sx, s.sy));
}

namespace {

// The pixels of a row from its five rows of samples; x is the destination
// column, phased column x + sx.
template <class T>
struct HQLIRowPixels {
  RowWindow<T, 2> s;
  int sx, hi;
  template <int Site>
  Rgb at(int x) const {
    return hqliClamp<Site>(hqliPixel<Site>(s, x + sx, 0), hi);
  }
};

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void hqliRow16(const RowWindow<uint16_t, 2>& s, int sx, int Y, int width,
                                                              int hi, const PlanarRow& out) {
  forEachPixelOfRow(width, sx, Y, HQLIRowPixels<uint16_t>{s, sx, hi}, out);
}

// 8-bit rows go through 16-bit copies of a chunk of their five rows: the
// vectors then hold as many lanes as the 16-bit maths needs, not as many
// as bytes fit.
constexpr int kChunk = 256;

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void hqliRow8(const RowWindow<uint8_t, 2>& s, int sx, int Y, int width,
                                                             unsigned char* out) {
  uint16_t rows[5][kChunk + 4];
  uint16_t r[kChunk], g[kChunk], b[kChunk];
  for (int x0 = 0; x0 < width; x0 += kChunk) {
    const int n = width - x0 < kChunk ? width - x0 : kChunk;
    const int first = x0 + sx - 2;  // phased column of rows[k][0]
    for (int k = 0; k < 5; ++k)
      for (int i = 0; i < n + 4; ++i) rows[k][i] = s.row[k][first + i];
    const RowWindow<uint16_t, 2> chunk{
        {rows[0] - first, rows[1] - first, rows[2] - first, rows[3] - first, rows[4] - first}};
    forEachPixelOfRow(n, x0 + sx, Y, HQLIRowPixels<uint16_t>{chunk, x0 + sx, 255}, PlanarRow{r, g, b});
    unsigned char* o = out + 3 * x0;
    for (int i = 0; i < n; ++i) {
      o[3 * i] = static_cast<unsigned char>(r[i]);
      o[3 * i + 1] = static_cast<unsigned char>(g[i]);
      o[3 * i + 2] = static_cast<unsigned char>(b[i]);
    }
  }
}

}  // namespace

void launchHQLIHost(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  const int w = static_cast<int>(d.width);
  if (work.format == OPIX_I8) {
    const WorkSamples<uint8_t> s = phasedSamples<uint8_t>(work);
    host::parallelRows(d.height, [&](int64_t y) {
      const int Y = int(y) + sy;
      hqliRow8(rowWindow<2>(s, Y), sx, Y, w, d.plane[0] + y * d.pitch);
    });
  } else {
    const int hi = maxEstimate(work.format);
    const WorkSamples<uint16_t> s = phasedSamples<uint16_t>(work);
    host::parallelRows(d.height, [&](int64_t y) {
      const int Y = int(y) + sy;
      hqliRow16(rowWindow<2>(s, Y), sx, Y, w, hi, planarRow(d, y));
    });
  }
}

}  // namespace opix
