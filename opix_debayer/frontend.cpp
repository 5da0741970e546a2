// The debayer's interface functions.
#include <memory>

#include "BinningMath.h"
#include "DFPDMath.h"
#include "DebayerBinning.h"
#include "DebayerDFPD.h"
#include "DebayerHQLI.h"
#include "DebayerL7.h"
#include "DebayerMG.h"
#include "GlobalMethods.h"
#include "HQLIMath.h"
#include "L7Math.h"
#include "MGMath.h"
#include "common/FilterRecords.h"

#define OPIX_SOURCE "opix_debayer/frontend"

namespace opix {

namespace {

const ObjectNames kNames{"Debayer. Create", "Debayer. Transform", "Debayer. Destroy", "Debayer. Destroyed."};
const ObjectNames kFormatNames{"Debayer. Create with destination format", "Debayer. Transform", "Debayer. Destroy",
                               "Debayer. Destroyed."};
const ObjectNames kPreNames{"Debayer. Create with pre-operations", "Debayer. Set pre-operations", "Debayer. Destroy",
                            "Debayer. Destroyed."};

void tracePreOperations(const opixDebayerPreOperations_t* r) {
  if (!trace::active()) return;
  trace::line() << trace::kIndent1 << "opixDebayerPreOperations_t" << (r ? ":" : ": NULL") << "\n";
  if (!r) return;
  trace::record(r->sam);
  trace::record(r->sam16);
  trace::record(r->blackShift);
  trace::record(r->whiteBalance);
}

bool isBinning(opixDebayerType_t t) { return t == OPIX_BINNING_2x2 || t == OPIX_BINNING_4x4 || t == OPIX_BINNING_8x8; }

// The component of a type and source format. Types without a component, and
// algorithms without a kernel for the source's bit depth, build nothing.
std::unique_ptr<IDebayer> makeDebayer(opixDebayerType_t type, opixSurfaceFormat_t source) {
  if (isBinning(type) && source == OPIX_I12) OPIX_THROW(OPIX_UNSUPPORTED_SURFACE);
  switch (type) {
    case OPIX_HQLI: return std::make_unique<DebayerHQLI>();
    case OPIX_DFPD:
      if (source == OPIX_I8) return std::make_unique<DebayerDFPD8>();
      return std::make_unique<DebayerDFPD16>();
    case OPIX_MG:
    case OPIX_MG2:  // MG2 and MG_V2 name the same MG
    case OPIX_MG_V2: return std::make_unique<DebayerMG16>();
    case OPIX_L7:
      if (source == OPIX_I8) OPIX_THROW(OPIX_UNSUPPORTED_FORMAT);  // no 8-bit kernel
      return std::make_unique<DebayerL7>();
    case OPIX_BINNING_2x2:
    case OPIX_BINNING_4x4:
    case OPIX_BINNING_8x8: return std::make_unique<DebayerBinning>();
    default: OPIX_THROW(OPIX_UNSUPPORTED_FORMAT);
  }
}

}  // namespace

}  // namespace opix

using namespace opix;

extern "C" opixStatus_t opixDebayerCreate(opixDebayerHandle_t* handle, opixDebayerType_t type, uint32_t maxWidth,
                                          uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                                          opixDeviceSurfaceBufferHandle_t* destination) {
  return createWithDestination(
      kNames, handle, destination, source,
      [&] {
        trace::value("debayer type", type);
        trace::buffer("source buffer", source);
      },
      [&](opixDeviceSurfaceBufferHandle_t* built) {
        if (!source) OPIX_THROW(OPIX_INVALID_VALUE);
        auto component = makeDebayer(type, source->surfaceFormat);
        component->Init(source->surfaceFormat, type, maxWidth, maxHeight, source, built);
        return component;
      });
}

namespace opix {
namespace {

// The debayer of a type with pre-operations (null: none) and, where
// `format`, that destination format.
std::unique_ptr<IDebayer> buildDebayer(opixDebayerType_t type, uint32_t maxWidth, uint32_t maxHeight,
                                       const opixDebayerPreOperations_t* preOperations,
                                       const opixSurfaceFormat_t* format, opixDeviceSurfaceBufferHandle_t source,
                                       opixDeviceSurfaceBufferHandle_t* built) {
  if (!source) OPIX_THROW(OPIX_INVALID_VALUE);
  auto component = makeDebayer(type, source->surfaceFormat);
  auto* pre = dynamic_cast<IPreOperations*>(component.get());
  if (preOperations && !pre) OPIX_THROW(OPIX_UNSUPPORTED_FORMAT);  // binning
  if (preOperations) pre->ReservePreOperations(*preOperations);
  if (format) component->RequestDestinationFormat(*format);
  component->Init(source->surfaceFormat, type, maxWidth, maxHeight, source, built);
  if (preOperations) pre->SetPreOperations(preOperations);
  return component;
}

}  // namespace
}  // namespace opix

extern "C" opixStatus_t opixDebayerCreateWithPreOperations(opixDebayerHandle_t* handle, opixDebayerType_t type,
                                                           uint32_t maxWidth, uint32_t maxHeight,
                                                           const opixDebayerPreOperations_t* preOperations,
                                                           opixDeviceSurfaceBufferHandle_t source,
                                                           opixDeviceSurfaceBufferHandle_t* destination) {
  return createWithDestination(
      kPreNames, handle, destination, source,
      [&] {
        trace::value("debayer type", type);
        trace::buffer("source buffer", source);
        tracePreOperations(preOperations);
      },
      [&](opixDeviceSurfaceBufferHandle_t* built) {
        return buildDebayer(type, maxWidth, maxHeight, preOperations, nullptr, source, built);
      });
}

extern "C" opixStatus_t opixDebayerCreateWithDestinationFormat(opixDebayerHandle_t* handle, opixDebayerType_t type,
                                                               uint32_t maxWidth, uint32_t maxHeight,
                                                               const opixDebayerPreOperations_t* preOperations,
                                                               opixSurfaceFormat_t destinationFormat,
                                                               opixDeviceSurfaceBufferHandle_t source,
                                                               opixDeviceSurfaceBufferHandle_t* destination) {
  return createWithDestination(
      kFormatNames, handle, destination, source,
      [&] {
        trace::value("debayer type", type);
        trace::buffer("source buffer", source);
        tracePreOperations(preOperations);
        trace::value("destination surface format", destinationFormat);
      },
      [&](opixDeviceSurfaceBufferHandle_t* built) {
        return buildDebayer(type, maxWidth, maxHeight, preOperations, &destinationFormat, source, built);
      });
}

extern "C" opixStatus_t opixDebayerSetPreOperations(opixDebayerHandle_t handle,
                                                    const opixDebayerPreOperations_t* preOperations) {
  return transformFrontend(
      kPreNames, handle, [&] { tracePreOperations(preOperations); },
      [&](IDebayer& c) {
        auto* pre = dynamic_cast<IPreOperations*>(&c);
        if (!pre) OPIX_THROW(OPIX_UNSUPPORTED_FORMAT);
        pre->SetPreOperations(preOperations);
      });
}

extern "C" opixStatus_t opixDebayerTransform(opixDebayerHandle_t handle, opixBayerPattern_t pattern, uint32_t width,
                                             uint32_t height) {
  return transformFrontend(
      kNames, handle,
      [&] {
        trace::value("bayer pattern", pattern);
        trace::value("width", width);
        trace::value("height", height);
      },
      [&](IDebayer& c) { c.Transform(pattern, width, height); });
}

extern "C" opixStatus_t opixDebayerDestroy(opixDebayerHandle_t handle) { return destroyFrontend(kNames, handle); }

extern "C" opixStatus_t opixDebayerGetAllocatedGpuMemorySize(opixDebayerHandle_t handle, uint64_t* bytes) {
  return memorySizeFrontend(handle, bytes);
}

extern "C" opixStatus_t opixDebayerGetReach(opixDebayerType_t type, uint32_t* reach) {
  if (!reach) return OPIX_INVALID_VALUE;
  int r;
  switch (type) {
    case OPIX_HQLI: r = kHQLIReach; break;
    case OPIX_DFPD: r = kDFPDReach; break;
    case OPIX_MG:
    case OPIX_MG2:
    case OPIX_MG_V2: r = kMgReach; break;
    case OPIX_L7: r = kL7Reach; break;
    case OPIX_BINNING_2x2:
    case OPIX_BINNING_4x4:
    case OPIX_BINNING_8x8: r = kBinningReach; break;
    default: return OPIX_UNSUPPORTED_FORMAT;
  }
  *reach = static_cast<uint32_t>(r);
  return OPIX_OK;
}

extern "C" opixStatus_t opixDebayerSetStream(opixDebayerHandle_t handle, opixStream_t stream) {
  return setStreamFrontend("Debayer. Set stream", handle, stream);
}
