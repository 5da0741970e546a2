// Host driver and launcher of the unpack kernel.
#include "Unpack.h"

#include <cstring>

#include "device/Parallel.h"

#define OPIX_SOURCE "opix_dataTransfer/Unpack"

namespace opix {

namespace {

struct HostFrame {
  const uint32_t* frame;
  uint64_t words;
  template <bool Checked>
  uint32_t word(uint64_t k) const {
    if (Checked && k >= words) return 0;
    return frame[k];
  }
};

void unpackHost(const UnpackJob& j) {
  const HostFrame f{j.frame, j.frameWords};
  host::parallelRows(j.height, [&](int64_t y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(j.out + y * int64_t{j.outPitchWords} * 4);
    // The last row may end at the frame's last word; every other row's
    // samples lie wholly inside the frame.
    if (static_cast<uint32_t>(y) + 1 < j.height) {
      for (uint32_t k = 0; k < j.outPitchWords; ++k) row[k] = unpackWord<false>(f, j, k, static_cast<uint32_t>(y));
    } else {
      for (uint32_t k = 0; k < j.outPitchWords; ++k) row[k] = unpackWord<true>(f, j, k, static_cast<uint32_t>(y));
    }
  });
}

}  // namespace

void launchUnpack(const UnpackJob& j) {
  if (!j.empty()) {
    if (cudaDrivers())
      OPIX_CUDA_DRIVER(unpackCuda(j));
    else
      host::launch([&j] { unpackHost(j); });
  }
  launchCheck("GPUUnpack");
}

}  // namespace opix
