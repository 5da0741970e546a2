#include "BitDepthConverter.h"

#include <string>

#include "Checks.h"
#include "TraceFile.h"
#include "opixException.h"

#define OPIX_SOURCE "opix_surfaceConverter/opixBitDepthConverter"

namespace opix {

namespace {

constexpr uint64_t kMaxShift = 15;

// The depth a source format implies; 0 for formats the converter refuses.
uint32_t impliedBits(opixSurfaceFormat_t f) {
  switch (f) {
    case OPIX_I8:
    case OPIX_RGB8: return 8;
    case OPIX_I10: return 10;
    case OPIX_I12:
    case OPIX_RGB12_PLANAR: return 12;
    case OPIX_I14: return 14;
    case OPIX_I16:
    case OPIX_RGB16_PLANAR: return 16;
    default: return 0;
  }
}

opixSurfaceFormat_t destinationFormat(uint32_t channels, uint32_t t) {
  if (t > 16) return OPIX_I8;
  if (channels == 1) {
    if (t <= 8) return OPIX_I8;
    if (t <= 10) return OPIX_I10;
    if (t <= 12) return OPIX_I12;
    return t <= 14 ? OPIX_I14 : OPIX_I16;
  }
  if (t <= 8) return OPIX_RGB8;
  return t <= 12 ? OPIX_RGB12_PLANAR : OPIX_RGB16_PLANAR;
}

bool isGray16(opixSurfaceFormat_t f) { return f >= OPIX_I10 && f <= OPIX_I16; }

// The kernel for a pair of formats. Pairs without a conversion (8-bit to
// 8-bit, colour to gray) are refused rather than left without output.
BitDepthKernel kernelFor(opixSurfaceFormat_t from, opixSurfaceFormat_t to) {
  if (from == OPIX_I8 && isGray16(to)) return BitDepthKernel::Gray8To16;
  if (isGray16(from) && to == OPIX_I8) return BitDepthKernel::Gray16To8;
  if (isGray16(from) && isGray16(to)) return BitDepthKernel::Same16;
  if (from == OPIX_RGB8 && isPlanar(to)) return BitDepthKernel::Color8To16;
  if (isPlanar(from) && to == OPIX_RGB8) return BitDepthKernel::Color16To8;
  if (isPlanar(from) && isPlanar(to)) return BitDepthKernel::Same16;
  OPIX_THROW(OPIX_UNSUPPORTED_SURFACE);
}

const opixBitDepthConverter_t& record(const void* parameters) {
  if (!parameters) OPIX_THROW(OPIX_INVALID_VALUE);
  return *static_cast<const opixBitDepthConverter_t*>(parameters);
}

}  // namespace

void traceBitDepthParameters(const opixBitDepthConverter_t* p) {
  if (!trace::active()) return;
  if (!p) {
    trace::line() << trace::kIndent1 << "opixBitDepthConverter_t: NULL\n";
    return;
  }
  trace::line() << trace::kIndent1 << "opixBitDepthConverter_t:\n";
  trace::field("is override source bits per channel",
               std::string(p->isOverrideSourceBitsPerChannel ? "true" : "false"));
  trace::field("override source bits per channel", p->overrideSourceBitsPerChannel);
  trace::field("target bits per channel", p->targetBitsPerChannel);
}

uint32_t BitDepthConverter::shiftFor(uint64_t s, uint64_t t, bool* left) const {
  uint64_t shift = 0;
  bool valid = true;
  *left = false;
  switch (kernel_) {
    case BitDepthKernel::Gray8To16:
    case BitDepthKernel::Color8To16:
      valid = t >= s;
      shift = t - s;
      *left = true;
      break;
    case BitDepthKernel::Gray16To8:
    case BitDepthKernel::Color16To8:
      valid = s >= t;
      shift = s - t;
      break;
    case BitDepthKernel::Same16:
      *left = t > s;
      shift = *left ? t - s : s - t;
      break;
  }
  if (!valid || shift > kMaxShift) OPIX_THROW(OPIX_INVALID_VALUE);
  return static_cast<uint32_t>(shift);
}

void BitDepthConverter::Init(opixSurfaceConverter_t type, const void* staticParameters, uint32_t maxWidth,
                             uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                             opixDeviceSurfaceBufferHandle_t* destination) {
  if (!source || !destination) OPIX_THROW(OPIX_INVALID_VALUE);
  const uint32_t implied = impliedBits(source->surfaceFormat);
  if (implied == 0) OPIX_THROW(OPIX_UNSUPPORTED_SURFACE);
  const opixBitDepthConverter_t& p = record(staticParameters);
  const uint32_t s = p.isOverrideSourceBitsPerChannel ? p.overrideSourceBitsPerChannel : implied;
  const uint32_t t = p.targetBitsPerChannel;
  const opixSurfaceFormat_t to = destinationFormat(opixFormatChannels(source->surfaceFormat), t);
  kernel_ = kernelFor(source->surfaceFormat, to);
  checkMaxSize(maxWidth, maxHeight, *source);
  bool left = false;
  shiftFor(s, t, &left);
  sourceBits_ = s;
  targetBits_ = t;
  attachAndAllocate(type, source, to, destination);
}

void BitDepthConverter::Transform(const void* parameters, uint32_t width, uint32_t height) {
  checks::widthMatches(width, source_->width);
  checks::heightMatches(height, source_->height);
  uint32_t s = sourceBits_;
  uint32_t t = targetBits_;
  if (parameters) {
    const auto* p = static_cast<const opixBitDepthConverter_t*>(parameters);
    traceBitDepthParameters(p);
    if (p->isOverrideSourceBitsPerChannel) s = p->overrideSourceBitsPerChannel;
    t = p->targetBitsPerChannel;
  }
  bool left = false;
  const uint32_t shift = shiftFor(s, t, &left);
  sourceBits_ = s;
  targetBits_ = t;
  setCurrentSize(*destination_, width, height);
  launchBitDepthConversion(kernel_, surfaceView(*source_), surfaceView(*destination_), shift, left);
}

}  // namespace opix
