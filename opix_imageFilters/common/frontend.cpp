// The image filters' interface functions and the dispatch from a filter type
// and a source format to a filter class.
#include <memory>

#include "GlobalMethods.h"
#include "badPixelCorrection/ImageFilterBadPixelCorrection.h"
#include "baseColorCorrection/ImageFilterBaseColorCorrection.h"
#include "bayerBlackShift/ImageFilterBayerBlackShift.h"
#include "binning/ImageFilterBinning.h"
#include "colorSaturation/ImageFilterColorSaturation.h"
#include "column/ImageFilterColumn.h"
#include "defringe/ImageFilterDefringe.h"
#include "ffc/ImageFilterFfc.h"
#include "gaussianSharpen/ImageFilterGaussianSharpen.h"
#include "lut/ImageFilterLut.h"
#include "lut3D/ImageFilterLut3D.h"
#include "mad/ImageFilterMad.h"
#include "median/ImageFilterMedian.h"
#include "toneCurve/ImageFilterToneCurve.h"
#include "whiteBalance/ImageFilterWhiteBalance.h"

#define OPIX_SOURCE "opix_imageFilters/frontend"

namespace opix {

namespace {

const ObjectNames kNames{"Image filter. Create", "Image filter. Transform", "Image filter. Destroy",
                         "Image filter. Destroyed."};

enum class FilterClass {
  GaussianSharpen,
  Lut,
  LutBayer,
  Lut3D,
  ToneCurve,
  Mad,
  BaseColorCorrection,
  WhiteBalance,
  Column,
  ColorSaturation,
  Median,
  BayerBlackShift,
  Defringe,
  BadPixelCorrection,
  Binning,
  Ffc,
};

constexpr uint32_t bit(opixSurfaceFormat_t f) { return 1u << f; }
// The classes of types 1 and 43 check the source format themselves.
constexpr uint32_t kByClass = ~0u;
constexpr uint32_t kI8 = bit(OPIX_I8), kI10 = bit(OPIX_I10), kI12 = bit(OPIX_I12), kI14 = bit(OPIX_I14),
                   kI16 = bit(OPIX_I16), kRgb8 = bit(OPIX_RGB8), kRgb12P = bit(OPIX_RGB12_PLANAR),
                   kRgb16P = bit(OPIX_RGB16_PLANAR);
constexpr uint32_t kGray = kI8 | kI10 | kI12 | kI14 | kI16;

struct Dispatch {
  FilterClass cls;
  uint32_t sources;  // accepted source formats
};

// By filter type, 1 to 44.
constexpr Dispatch kTable[44] = {
    {FilterClass::GaussianSharpen, kByClass},                                           // 1
    {FilterClass::Lut, kI8 | kRgb8},                                                    // 2 LUT 8->8
    {FilterClass::Lut, kRgb8},                                                          // 3
    {FilterClass::Lut, kI8 | kRgb8},                                                    // 4 LUT 8->12
    {FilterClass::Lut, kRgb8},                                                          // 5
    {FilterClass::Lut, kI8 | kRgb8},                                                    // 6 LUT 8->16
    {FilterClass::Lut, kRgb8},                                                          // 7
    {FilterClass::LutBayer, kI8},                                                       // 8
    {FilterClass::Lut, kI10},                                                           // 9 LUT 10->16
    {FilterClass::LutBayer, kI10},                                                      // 10
    {FilterClass::Lut, kI12 | kRgb12P},                                                 // 11 LUT 12->8
    {FilterClass::Lut, kRgb12P},                                                        // 12
    {FilterClass::Lut, kI12 | kRgb12P},                                                 // 13 LUT 12->12
    {FilterClass::Lut, kRgb12P},                                                        // 14
    {FilterClass::Lut, kI12 | kRgb12P},                                                 // 15 LUT 12->16
    {FilterClass::Lut, kRgb12P},                                                        // 16
    {FilterClass::LutBayer, kI12},                                                      // 17
    {FilterClass::Lut, kI14},                                                           // 18 LUT 14->16
    {FilterClass::LutBayer, kI14},                                                      // 19
    {FilterClass::Lut, kI16 | kRgb16P},                                                 // 20 LUT 16->16
    {FilterClass::Lut, kRgb16P},                                                        // 21
    {FilterClass::Lut, kI16 | kRgb16P},                                                 // 22 LUT 16->8
    {FilterClass::Lut, kRgb16P},                                                        // 23
    {FilterClass::LutBayer, kI16},                                                      // 24
    {FilterClass::Lut, kI16 | kRgb16P},                                                 // 25 full range
    {FilterClass::Lut, kRgb16P},                                                        // 26
    {FilterClass::LutBayer, kI16},                                                      // 27
    {FilterClass::Lut3D, kRgb12P | kRgb16P},                                            // 28 HSV 3D LUT
    {FilterClass::Lut3D, kRgb12P | kRgb16P},                                            // 29 RGB 3D LUT
    {FilterClass::ToneCurve, kRgb16P},                                                  // 30
    {FilterClass::Mad, kGray},                                                          // 31 SAM
    {FilterClass::Mad, kI10 | kI12 | kI14 | kI16},                                      // 32 SAM16
    {FilterClass::BaseColorCorrection, kI8 | kI12 | kI16 | kRgb8 | kRgb12P | kRgb16P},  // 33
    {FilterClass::WhiteBalance, kI8 | kI12 | kI16},                                     // 34
    {FilterClass::Column, kI12},                                                        // 35
    {FilterClass::ColorSaturation, kRgb8 | kRgb12P | kRgb16P},                          // 36 HSL
    {FilterClass::ColorSaturation, kRgb8 | kRgb12P | kRgb16P},                          // 37 HSV
    {FilterClass::Median, kI12 | kI16 | kRgb12P | kRgb16P},                             // 38
    {FilterClass::BayerBlackShift, kI12 | kI16},                                        // 39
    {FilterClass::Defringe, kRgb12P | kRgb16P},                                         // 40
    {FilterClass::BadPixelCorrection, kGray},                                           // 41
    {FilterClass::Binning, kI12 | kI16},                                                // 42
    {FilterClass::GaussianSharpen, kByClass},                                           // 43 plain blur
    {FilterClass::Ffc, kI12 | kI16},                                                    // 44
};

// The filter of a type and source format. A class that is not built here
// yet is refused with OPIX_INVALID_VALUE.
std::unique_ptr<ImageFilterBase> makeFilter(opixImageFilterType_t type, opixSurfaceFormat_t source) {
  if (type < 1 || type > 44) OPIX_THROW(OPIX_INVALID_VALUE);
  const Dispatch& d = kTable[type - 1];
  if (source < OPIX_I8 || source > OPIX_RGB16_PLANAR || !(d.sources & bit(source)))
    OPIX_THROW(OPIX_UNSUPPORTED_SURFACE);
  switch (d.cls) {
    case FilterClass::Lut: return std::make_unique<ImageFilterLut>();
    case FilterClass::LutBayer: return std::make_unique<ImageFilterLutBayer>();
    case FilterClass::Lut3D: return std::make_unique<ImageFilterLut3D>();
    case FilterClass::ColorSaturation: return std::make_unique<ImageFilterColorSaturation>();
    case FilterClass::Ffc: return std::make_unique<ImageFilterFfc>();
    case FilterClass::ToneCurve: return std::make_unique<ImageFilterToneCurve>();
    case FilterClass::Mad: return std::make_unique<ImageFilterMad>();
    case FilterClass::BaseColorCorrection: return std::make_unique<ImageFilterBaseColorCorrection>();
    case FilterClass::WhiteBalance: return std::make_unique<ImageFilterWhiteBalance>();
    case FilterClass::BayerBlackShift: return std::make_unique<ImageFilterBayerBlackShift>();
    case FilterClass::Median: return std::make_unique<ImageFilterMedian>();
    case FilterClass::GaussianSharpen: return std::make_unique<ImageFilterGaussianSharpen>();
    case FilterClass::Binning: return std::make_unique<ImageFilterBinning>();
    case FilterClass::BadPixelCorrection: return std::make_unique<ImageFilterBadPixelCorrection>();
    case FilterClass::Column: return std::make_unique<ImageFilterColumn>();
    case FilterClass::Defringe: return std::make_unique<ImageFilterDefringe>();
    default: OPIX_THROW(OPIX_INVALID_VALUE);
  }
}

}  // namespace

}  // namespace opix

using namespace opix;

extern "C" opixStatus_t opixImageFilterCreate(opixImageFilterHandle_t* handle, opixImageFilterType_t type,
                                              const void* staticParameters, uint32_t maxWidth, uint32_t maxHeight,
                                              opixDeviceSurfaceBufferHandle_t source,
                                              opixDeviceSurfaceBufferHandle_t* destination) {
  return createWithDestination(
      kNames, handle, destination, source,
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

extern "C" opixStatus_t opixImageFilterTransform(opixImageFilterHandle_t handle, const void* parameters, uint32_t width,
                                                 uint32_t height) {
  return transformFrontend(
      kNames, handle,
      [&] {
        trace::value("filter parameters", parameters);
        trace::value("width", width);
        trace::value("height", height);
      },
      [&](IImageFilter& c) { c.Transform(parameters, width, height); });
}

extern "C" opixStatus_t opixImageFilterDestroy(opixImageFilterHandle_t handle) {
  return destroyFrontend(kNames, handle);
}

extern "C" opixStatus_t opixImageFilterGetAllocatedGpuMemorySize(opixImageFilterHandle_t handle, uint64_t* bytes) {
  return memorySizeFrontend(handle, bytes);
}
