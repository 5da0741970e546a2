#include "DebayerMalvar.h"

#include "Checks.h"
#include "KernelLaunch.h"
#include "MalvarMath.h"
#include "bayerTraits.h"
#include "device/Parallel.h"

namespace opix {

void opixDebayerMalvar::Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination,
                               int) {
  if (pattern < OPIX_BAYER_RGGB || pattern > OPIX_BAYER_GRBG)
    checks::fail("Unsupported bayer format", OPIX_UNSUPPORTED_FORMAT, __LINE__);
  const PatternShift s = patternShift(pattern);
  if (onCuda())
    OPIX_CUDA_DRIVER(launchMalvarCuda(work, destination, s.sx, s.sy));
  else
    host::launch([&] { launchMalvarHost(work, destination, s.sx, s.sy); });
  launchCheck("GPUMalvarDebayer");
}

namespace {

// One output row: pixels in pairs so that each call has a fixed site.
template <class T, class Store>
void malvarRow(const WorkSamples<T>& s, int y, int w, int sx, int hi, Store&& store) {
  const bool blueRow = y & 1;
  int x = 0;
  auto one = [&](int dx) {
    const int X = dx + sx;
    const bool odd = X & 1;
    Rgb p;
    if (!blueRow)
      p = odd ? malvarClamp<1>(malvarPixel<1>(s, X, y), hi) : malvarClamp<0>(malvarPixel<0>(s, X, y), hi);
    else
      p = odd ? malvarClamp<3>(malvarPixel<3>(s, X, y), hi) : malvarClamp<2>(malvarPixel<2>(s, X, y), hi);
    store(dx, p);
  };
  if (sx) one(x++);  // bring the phased column to even
  for (; x + 1 < w; x += 2) {
    const int X = x + sx;  // even
    Rgb a, b;
    if (!blueRow) {
      a = malvarClamp<0>(malvarPixel<0>(s, X, y), hi);
      b = malvarClamp<1>(malvarPixel<1>(s, X + 1, y), hi);
    } else {
      a = malvarClamp<2>(malvarPixel<2>(s, X, y), hi);
      b = malvarClamp<3>(malvarPixel<3>(s, X + 1, y), hi);
    }
    store(x, a);
    store(x + 1, b);
  }
  if (x < w) one(x);
}

template <class T>
WorkSamples<T> phasedSamples(const WorkView& work) {
  // Phased position (0, 0) is the image's first sample shifted back by the copy's shift.
  const int64_t pitch = work.pitch / sizeof(T);
  const T* base = reinterpret_cast<const T*>(work.base);
  return {base + int64_t(work.apron) * pitch + work.apron, pitch};
}

}  // namespace

void launchMalvarHost(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  const int w = static_cast<int>(d.width);
  const int hi = maxEstimate(work.format);
  if (work.format == OPIX_I8) {
    const WorkSamples<uint8_t> s = phasedSamples<uint8_t>(work);
    host::parallelRows(d.height, [&](int64_t y) {
      unsigned char* out = d.plane[0] + y * d.pitch;
      malvarRow(s, int(y) + sy, w, sx, hi, [&](int x, Rgb p) {
        out[3 * x] = static_cast<unsigned char>(p.r);
        out[3 * x + 1] = static_cast<unsigned char>(p.g);
        out[3 * x + 2] = static_cast<unsigned char>(p.b);
      });
    });
  } else {
    const WorkSamples<uint16_t> s = phasedSamples<uint16_t>(work);
    host::parallelRows(d.height, [&](int64_t y) {
      auto* r = reinterpret_cast<uint16_t*>(d.plane[0] + y * d.pitch);
      auto* g = reinterpret_cast<uint16_t*>(d.plane[1] + y * d.pitch);
      auto* b = reinterpret_cast<uint16_t*>(d.plane[2] + y * d.pitch);
      malvarRow(s, int(y) + sy, w, sx, hi, [&](int x, Rgb p) {
        r[x] = static_cast<uint16_t>(p.r);
        g[x] = static_cast<uint16_t>(p.g);
        b[x] = static_cast<uint16_t>(p.b);
      });
    });
  }
}

}  // namespace opix
