#include "DebayerDFPD.h"

#include <memory>

#include "Checks.h"
#include "KernelLaunch.h"
#include "MenonMath.h"
#include "bayerTraits.h"
#include "device/Parallel.h"

namespace opix {

namespace {

void requirePattern(opixBayerPattern_t pattern) {
  if (pattern < OPIX_BAYER_RGGB || pattern > OPIX_BAYER_GRBG)
    checks::fail("Unsupported bayer format", OPIX_UNSUPPORTED_FORMAT, __LINE__);
}

// Planes of one frame on the host, over the whole work image in phased
// positions: x from -A, y from -A.
template <class T>
struct HostPlane {
  T* data;
  int64_t width;
  int apron;
  T& at(int x, int y) const { return data[(int64_t(y) + apron) * width + x + apron]; }
};

template <class T>
void dfpdHost(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  const int A = work.apron;
  const int64_t W = work.width, H = work.height;
  const int64_t pitch = work.pitch / sizeof(T);
  const T* origin = reinterpret_cast<const T*>(work.base) + A * pitch + A;
  const WorkSamples<T> s{origin, pitch};
  const int hi = maxEstimate(work.format), gmax = menonGradientMax(work.format);
  const int w = int(d.width), h = int(d.height);
  const int xEnd = w + sx, yEnd = h + sy;  // phased image end

  std::unique_ptr<uint16_t[]> dhMem(new uint16_t[W * H]), dvMem(new uint16_t[W * H]), gMem(new uint16_t[W * H]);
  std::unique_ptr<uint8_t[]> hMem(new uint8_t[W * H]);
  const HostPlane<uint16_t> dh{dhMem.get(), W, A}, dv{dvMem.get(), W, A}, g{gMem.get(), W, A};
  const HostPlane<uint8_t> hz{hMem.get(), W, A};

  // Gradients at the red and blue sites the classifiers read.
  host::parallelRows(yEnd + 8, [&](int64_t r) {
    const int y = int(r) - 4;
    for (int x = -4 + ((y + 4) & 1); x <= xEnd + 3; x += 2) {
      dh.at(x, y) = uint16_t(x <= xEnd + 1 ? menonDh(s, x, y, hi, gmax) : 0);
      dv.at(x, y) = uint16_t(y <= yEnd + 1 ? menonDv(s, x, y, hi, gmax) : 0);
    }
  });
  // Decision and green at the sites the pixels read.
  auto dhAt = [&](int x, int y) { return int(dh.at(x, y)); };
  auto dvAt = [&](int x, int y) { return int(dv.at(x, y)); };
  host::parallelRows(yEnd + 4, [&](int64_t r) {
    const int y = int(r) - 2;
    for (int x = -2 + ((y + 2) & 1); x <= xEnd + 1; x += 2) {
      const bool horizontal = menonHorizontal(dhAt, dvAt, x, y);
      hz.at(x, y) = horizontal;
      g.at(x, y) = uint16_t(horizontal ? menonGh(s, x, y, hi) : menonGv(s, x, y, hi));
    }
  });
  auto gAt = [&](int x, int y) { return int(g.at(x, y)); };
  auto hAt = [&](int x, int y) { return hz.at(x, y) != 0; };
  host::parallelRows(h, [&](int64_t y) {
    const int Y = int(y) + sy;
    if (work.format == OPIX_I8) {
      unsigned char* out = d.plane[0] + y * d.pitch;
      for (int x = 0; x < w; ++x) {
        const Rgb p = menonPixel(s, gAt, hAt, x + sx, Y, hi);
        out[3 * x] = uint8_t(p.r);
        out[3 * x + 1] = uint8_t(p.g);
        out[3 * x + 2] = uint8_t(p.b);
      }
    } else {
      uint16_t* r = reinterpret_cast<uint16_t*>(d.plane[0] + y * d.pitch);
      uint16_t* gr = reinterpret_cast<uint16_t*>(d.plane[1] + y * d.pitch);
      uint16_t* b = reinterpret_cast<uint16_t*>(d.plane[2] + y * d.pitch);
      for (int x = 0; x < w; ++x) {
        const Rgb p = menonPixel(s, gAt, hAt, x + sx, Y, hi);
        r[x] = uint16_t(p.r);
        gr[x] = uint16_t(p.g);
        b[x] = uint16_t(p.b);
      }
    }
  });
}

}  // namespace

void launchDfpdHost(const WorkView& work, const SurfaceView& d, int sx, int sy) {
  if (work.format == OPIX_I8)
    dfpdHost<uint8_t>(work, d, sx, sy);
  else
    dfpdHost<uint16_t>(work, d, sx, sy);
}

void opixDFPD8::Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination, int) {
  requirePattern(pattern);
  if (work.format != OPIX_I8) return;
  const PatternShift s = patternShift(pattern);
  if (onCuda())
    OPIX_CUDA_DRIVER(launchDfpd8Cuda(work, destination, s.sx, s.sy));
  else
    host::launch([&] { launchDfpdHost(work, destination, s.sx, s.sy); });
  launchCheck("GPUMenonDebayer8Bit");
}

void opixDFPD16::ComputeMemorySize() {
  opixDebayer<OPIX_DFPD>::ComputeMemorySize();
  const uint32_t maxW = destination_->maxWidth, maxH = destination_->maxHeight;
  const uint64_t w2 = uint64_t{maxW} + kTileWidth + 5, h2 = uint64_t{maxH} + kTileHeight + 6;
  const uint64_t greenBytes = alignUp(w2 & ~uint64_t{1}, 128) * (h2 / 2);
  const uint64_t flagBytes = alignUp(w2 / 2, 128) * (h2 / 2);
  planeOffset_[0] = memSpace_.reserve(greenBytes);
  planeOffset_[1] = memSpace_.reserve(greenBytes);
  planeOffset_[2] = memSpace_.reserve(flagBytes);
  planeOffset_[3] = memSpace_.reserve(flagBytes);
}

void opixDFPD16::Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination, int) {
  requirePattern(pattern);
  if (work.format != OPIX_I12 && work.format != OPIX_I16) return;
  const PatternShift s = patternShift(pattern);
  if (onCuda()) {
    const uint32_t halfWidth = (destination.width + 5 + kTileWidth) / 2;
    MenonPlanes planes{};
    for (int k = 0; k < 2; ++k) {
      planes.green[k] = reinterpret_cast<uint16_t*>(sliceAddress(memSpace_.pointerField(), planeOffset_[k]));
      planes.horizontal[k] = sliceAddress(memSpace_.pointerField(), planeOffset_[2 + k]);
    }
    planes.greenPitch = static_cast<uint32_t>(alignUp(2 * uint64_t{halfWidth}, 128));
    planes.flagPitch = static_cast<uint32_t>(alignUp(halfWidth, 128));
    OPIX_CUDA_DRIVER(launchDfpd16Cuda(work, destination, planes, s.sx, s.sy));
  } else {
    host::launch([&] { launchDfpdHost(work, destination, s.sx, s.sy); });
  }
  launchCheck("GPUMenonDebayer 2");
}

}  // namespace opix
