#include "DebayerMalvar.h"

#include "HostRows.h"
#include "KernelLaunch.h"
#include "MalvarMath.h"
#include "bayerTraits.h"
#include "device/Parallel.h"

namespace opix {

void opixDebayerMalvar::Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination, int) {
  const PatternShift s = bayerShift(pattern);
  if (cudaDrivers())
    OPIX_CUDA_DRIVER(launchMalvarCuda(work, destination, s.sx, s.sy));
  else
    host::launch([&] { launchMalvarHost(work, destination, s.sx, s.sy); });
  launchCheck("GPUMalvarDebayer");
}

namespace {

template <class T>
struct MalvarRowPixels {
  WorkSamples<T> s;  // phased position (0, 0) at work (A, A)
  int sx, y, hi;
  template <int Site>
  Rgb at(int x) const {
    return malvarClamp<Site>(malvarPixel<Site>(s, x + sx, y), hi);
  }
};

template <class T>
WorkSamples<T> phasedSamples(const WorkView& work) {
  const int64_t pitch = work.pitch / sizeof(T);
  return {reinterpret_cast<const T*>(work.base) + int64_t(work.apron) * pitch + work.apron, pitch};
}

}  // namespace

void launchMalvarHost(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  const int w = static_cast<int>(d.width);
  const int hi = maxEstimate(work.format);
  if (work.format == OPIX_I8) {
    const WorkSamples<uint8_t> s = phasedSamples<uint8_t>(work);
    host::parallelRows(d.height, [&](int64_t y) {
      const int Y = int(y) + sy;
      forEachSiteOfRow(w, sx, Y, MalvarRowPixels<uint8_t>{s, sx, Y, hi}, Rgb8Row{d.plane[0] + y * d.pitch});
    });
  } else {
    const WorkSamples<uint16_t> s = phasedSamples<uint16_t>(work);
    host::parallelRows(d.height, [&](int64_t y) {
      const int Y = int(y) + sy;
      forEachSiteOfRow(w, sx, Y, MalvarRowPixels<uint16_t>{s, sx, Y, hi}, planarRow(d, y));
    });
  }
}

}  // namespace opix
