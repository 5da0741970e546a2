// The image filters' interface functions and the dispatch by filter type and
// source format.
#include <memory>

#include "GlobalMethods.h"
#include "ImageFilters.h"

#define OPIX_SOURCE "opix_imageFilters/frontend"

namespace opix {

namespace {

const ObjectNames kNames{"Image filter. Create", "Image filter. Transform", "Image filter. Destroy",
                         "Image filter. Destroyed."};

constexpr uint32_t bit(opixSurfaceFormat_t f) { return 1u << f; }
constexpr uint32_t kAny = ~0u;  // the class checks the format itself
constexpr uint32_t kGray = bit(OPIX_I8) | bit(OPIX_I10) | bit(OPIX_I12) | bit(OPIX_I14) | bit(OPIX_I16);
constexpr uint32_t kPlanar = bit(OPIX_RGB12_PLANAR) | bit(OPIX_RGB16_PLANAR);

// Source formats each type accepts, by type 1 to 44.
constexpr uint32_t kAccepted[45] = {
    0,
    kAny,                                      // 1 Gaussian sharpen
    bit(OPIX_I8) | bit(OPIX_RGB8),             // 2
    bit(OPIX_RGB8),                            // 3
    bit(OPIX_I8) | bit(OPIX_RGB8),             // 4
    bit(OPIX_RGB8),                            // 5
    bit(OPIX_I8) | bit(OPIX_RGB8),             // 6
    bit(OPIX_RGB8),                            // 7
    bit(OPIX_I8),                              // 8
    bit(OPIX_I10),                             // 9
    bit(OPIX_I10),                             // 10
    bit(OPIX_I12) | bit(OPIX_RGB12_PLANAR),    // 11
    bit(OPIX_RGB12_PLANAR),                    // 12
    bit(OPIX_I12) | bit(OPIX_RGB12_PLANAR),    // 13
    bit(OPIX_RGB12_PLANAR),                    // 14
    bit(OPIX_I12) | bit(OPIX_RGB12_PLANAR),    // 15
    bit(OPIX_RGB12_PLANAR),                    // 16
    bit(OPIX_I12),                             // 17
    bit(OPIX_I14),                             // 18
    bit(OPIX_I14),                             // 19
    bit(OPIX_I16) | bit(OPIX_RGB16_PLANAR),    // 20
    bit(OPIX_RGB16_PLANAR),                    // 21
    bit(OPIX_I16) | bit(OPIX_RGB16_PLANAR),    // 22
    bit(OPIX_RGB16_PLANAR),                    // 23
    bit(OPIX_I16),                             // 24
    bit(OPIX_I16) | bit(OPIX_RGB16_PLANAR),    // 25
    bit(OPIX_RGB16_PLANAR),                    // 26
    bit(OPIX_I16),                             // 27
    kPlanar,                                   // 28 HSV 3D LUT
    kPlanar,                                   // 29 RGB 3D LUT
    bit(OPIX_RGB16_PLANAR),                    // 30 tone curve
    kGray,                                     // 31 SAM
    kGray & ~bit(OPIX_I8),                     // 32 SAM16
    bit(OPIX_I8) | bit(OPIX_I12) | bit(OPIX_I16) | bit(OPIX_RGB8) | kPlanar,  // 33
    bit(OPIX_I8) | bit(OPIX_I12) | bit(OPIX_I16),                            // 34 white balance
    bit(OPIX_I12),                                                           // 35 column filter
    bit(OPIX_RGB8) | kPlanar,                                                // 36
    bit(OPIX_RGB8) | kPlanar,                                                // 37
    bit(OPIX_I12) | bit(OPIX_I16) | kPlanar,                                 // 38 median
    bit(OPIX_I12) | bit(OPIX_I16),                                           // 39 Bayer black shift
    kPlanar,                                                                 // 40 defringe
    kGray,                                                                   // 41 bad pixel correction
    bit(OPIX_I12) | bit(OPIX_I16),                                           // 42 binning
    kAny,                                                                    // 43 Gaussian blur
    bit(OPIX_I12) | bit(OPIX_I16),                                           // 44 flat-field correction
};

std::unique_ptr<ImageFilterBase> makeFilter(opixImageFilterType_t type, opixSurfaceFormat_t source) {
  if (type < 1 || type > 44) OPIX_THROW(OPIX_INVALID_VALUE);
  if (source < 0 || source > OPIX_RGB16_PLANAR || !(kAccepted[type] & bit(source))) OPIX_THROW(OPIX_UNSUPPORTED_SURFACE);
  switch (type) {
    case OPIX_SAM:
    case OPIX_SAM16: return std::make_unique<ImageFilterMad>();
    case OPIX_WHITE_BALANCE: return std::make_unique<ImageFilterWhiteBalance>();
    case OPIX_BAYER_BLACK_SHIFT: return std::make_unique<ImageFilterBayerBlackShift>();
    case OPIX_BASE_COLOR_CORRECTION: return std::make_unique<ImageFilterBaseColorCorrection>();
    default: OPIX_THROW(OPIX_INVALID_VALUE);  // a filter this build does not have
  }
}

}  // namespace

}  // namespace opix

using namespace opix;

extern "C" opixStatus_t opixImageFilterCreate(opixImageFilterHandle_t* handle, opixImageFilterType_t type,
                                              const void* staticParameters, uint32_t maxWidth, uint32_t maxHeight,
                                              opixDeviceSurfaceBufferHandle_t source,
                                              opixDeviceSurfaceBufferHandle_t* destination) {
  return createFrontend(
      kNames, handle, destination,
      [&] {
        trace::value("filter type", type);
        trace::value("filter parameters", staticParameters);
        trace::value("max width", maxWidth);
        trace::value("max height", maxHeight);
        trace::buffer("source buffer", source);
      },
      [&](opixDeviceSurfaceBufferHandle_t* built) {
        if (!source) OPIX_THROW(OPIX_INVALID_VALUE);
        auto filter = makeFilter(type, source->surfaceFormat);
        filter->Init(source->surfaceFormat, type, staticParameters, maxWidth, maxHeight, source, built);
        return filter;
      });
}

extern "C" opixStatus_t opixImageFilterTransform(opixImageFilterHandle_t handle, const void* parameters,
                                                 uint32_t width, uint32_t height) {
  return transformFrontend(
      kNames, handle,
      [&] {
        trace::value("filter parameters", parameters);
        trace::value("width", width);
        trace::value("height", height);
      },
      [&](IImageFilter& f) { f.Transform(parameters, width, height); });
}

extern "C" opixStatus_t opixImageFilterDestroy(opixImageFilterHandle_t handle) {
  return destroyFrontend(kNames, handle);
}

extern "C" opixStatus_t opixImageFilterGetAllocatedGpuMemorySize(opixImageFilterHandle_t handle, uint64_t* bytes) {
  return memorySizeFrontend(handle, bytes);
}
