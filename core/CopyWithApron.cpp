#include "CopyWithApron.h"

#include <cstring>

#include "ApronCopyMath.h"
#include "KernelLaunch.h"
#include "MemSpace.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "core/CopyWithApron"

namespace opix {

namespace {

int bytesPerPixel(opixSurfaceFormat_t f) {
  switch (f) {
    case OPIX_I8: return 1;
    case OPIX_I10:
    case OPIX_I12:
    case OPIX_I14:
    case OPIX_I16: return 2;
    default: return 0;
  }
}

}  // namespace

void launchApronCopyHost(const ApronCopy& c) {
  // The host places bytes at any column directly; the device assembles
  // aligned words for the same result.
  host::parallelRows(c.y0 + c.height + c.apron, [&](int64_t r) {
    const int from = apronSourceRow(static_cast<int>(r), c.y0, c.height);
    std::memcpy(c.dst + r * c.dstPitch + c.byteX, c.src + int64_t(from) * c.srcPitch, size_t(c.rowBytes));
  });
}

void copyWithOffsetAndApron(const SurfaceView& src, const SurfaceView& dst, int apron, uint32_t xOffset, uint32_t y0) {
  const int bpp = bytesPerPixel(src.format);
  // A view always has its pixels (deviceAddress refuses a buffer without
  // them): a null plane here must fail, never leave the work image stale.
  if (!src.plane[0] || !dst.plane[0]) OPIX_THROW(OPIX_INTERNAL_ERROR);
  if (bpp != 0 && src.width > 0 && src.height > 0) {
    ApronCopy c{src.plane[0],
                src.pitch,
                dst.plane[0],
                dst.pitch,
                int64_t{src.width} * bpp,
                int64_t{xOffset} * bpp,
                static_cast<int>(y0),
                apron,
                static_cast<int>(src.height)};
    if (src.format == OPIX_I8 && (apron != 0 || xOffset != 0)) {
      if (cudaDrivers())
        OPIX_CUDA_DRIVER(launchApronCopyCuda(c));
      else
        host::launch([&] { launchApronCopyHost(c); });
    } else {
      unsigned char* dstImage = c.dst + static_cast<int64_t>(c.y0) * c.dstPitch + c.byteX;
      copy2D(dstImage, c.dstPitch, c.src, c.srcPitch, static_cast<size_t>(c.rowBytes), src.height,
             device::CopyKind::DeviceToDevice);
      // Margin rows, one copy each, from the image row they mirror.
      const int rows = c.y0 + c.height + c.apron;
      for (int r = 0; r < rows; ++r) {
        if (r >= c.y0 && r < c.y0 + c.height) continue;
        const int from = apronSourceRow(r, c.y0, c.height);
        copyAsync(c.dst + static_cast<int64_t>(r) * c.dstPitch + c.byteX,
                  c.src + static_cast<int64_t>(from) * c.srcPitch, static_cast<size_t>(c.rowBytes),
                  device::CopyKind::DeviceToDevice);
      }
    }
  }
  launchCheck("MemCopyWithOffsetAndFillApronVertically");
}

}  // namespace opix
