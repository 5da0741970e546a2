#include "DebayerL7.h"

#include "HostRows.h"
#include "KernelLaunch.h"
#include "L7Math.h"
#include "device/Parallel.h"

namespace opix {

void DebayerL7::Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination) {
  OPIX_KERNEL_LAUNCH("GPUDebayerL7", launchL7Cuda(work, destination, pattern),
                     launchL7Host(work, destination, pattern));
}

namespace {

struct L7RowPixels {
  WorkSamples<uint16_t> s;
  int y, hi;
  template <int Site>
  Rgb at(int x) const {
    return l7Pixel<Site>(s, x, y, hi);
  }
};

}  // namespace

void launchL7Host(const WorkView& work, const SurfaceView& d, int pattern) {
  const int64_t pitch = work.pitch / 2;
  const WorkSamples<uint16_t> s{reinterpret_cast<const uint16_t*>(work.base) + int64_t(work.apron) * (pitch + 1),
                                pitch};
  const int hi = maxEstimate(work.format);
  const PatternShift shift = bayerShift(pattern);
  host::parallelRows(d.height, [&](int64_t y) {
    forEachSiteOfRow(static_cast<int>(d.width), shift.sx, int(y) + shift.sy, L7RowPixels{s, int(y), hi},
                     planarRow(d, y));
  });
}

}  // namespace opix
