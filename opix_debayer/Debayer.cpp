#include "Debayer.h"

#include <cstring>

#include "ApronCopyMath.h"
#include "BayerTraits.h"
#include "Checks.h"
#include "KernelLaunch.h"
#include "StreamGlobal.h"
#include "TraceFile.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_debayer/Debayer"

namespace opix {

opixSurfaceFormat_t debayerDestinationFormat(opixSurfaceFormat_t source) {
  switch (source) {
    case OPIX_I8: return OPIX_RGB8;
    case OPIX_I12: return OPIX_RGB12_PLANAR;
    case OPIX_I16: return OPIX_RGB16_PLANAR;
    default: OPIX_THROW(OPIX_UNSUPPORTED_FORMAT);
  }
}

opixSurfaceFormat_t requestedDestinationFormat(opixSurfaceFormat_t own, opixSurfaceFormat_t requested) {
  const bool delivered = (own == OPIX_RGB8 && requested == OPIX_BGR8) ||
                         (own == OPIX_RGB12_PLANAR && requested == OPIX_RGB12) ||
                         (own == OPIX_RGB16_PLANAR && requested == OPIX_RGB16);
  if (requested != own && !delivered) OPIX_THROW(OPIX_UNSUPPORTED_SURFACE);
  return requested;
}

CopyShift debayerCopyShift(opixDebayerType_t type, opixSurfaceFormat_t source, int sx, int sy) {
  if (source == OPIX_I8 || type == OPIX_HQLI || type == OPIX_DFPD) return {sx, sy};
  return {0, 0};  // MG and L7 kernels take the whole pattern
}

static uint32_t bytesPerSample(opixSurfaceFormat_t f) { return f == OPIX_I8 ? 1 : 2; }

template <opixDebayerType_t N>
void Debayer<N>::Init(opixSurfaceFormat_t sourceFormat, opixDebayerType_t, uint32_t maxWidth, uint32_t maxHeight,
                      opixDeviceSurfaceBufferHandle_t source, opixDeviceSurfaceBufferHandle_t* destination) {
  checks::maxWidthLimit(maxWidth);
  checks::maxHeightLimit(maxHeight);
  checks::widthMatches(maxWidth, source->maxWidth);
  checks::heightMatches(maxHeight, source->maxHeight);
  checks::minHeight(maxHeight);
  checks::minWidth(maxWidth);
  checks::externalBuffer(*source);
  sourceFormat_ = sourceFormat;
  holdSource(source);
  const opixSurfaceFormat_t own = debayerDestinationFormat(sourceFormat);
  destination_ = createSurfaceBuffer(maxWidth, maxHeight,
                                     formatRequested_ ? requestedDestinationFormat(own, requestedFormat_) : own);
  *destination = destination_.get();
  // The work buffer of the component's memory layout: rows of whole 128-byte
  // lines, a multiple of 32 of them. It stays reserved though the drivers
  // read the source instead (WorkView), so the layout and the memory figure
  // are those of a debayer that copies its source first.
  const uint64_t workPitch = alignUp(uint64_t{maxWidth + 2 * kApron + 1} * bytesPerSample(sourceFormat), 128);
  workSize_ = alignUp(uint64_t{maxHeight} + 2 * kApron + 1, 32) * workPitch;
  Allocate();
}

template <opixDebayerType_t N>
void Debayer<N>::ComputeMemorySize() {
  memSpace_.reserve(workSize_);
  // A destination in the export's layout keeps the room of the debayer's own
  // (as large or larger), so the memory figure is the same either way.
  reserve(*destination_,
          opixImageSize(debayerDestinationFormat(sourceFormat_), destination_->maxWidth, destination_->maxHeight));
  const uint32_t w = source_->maxWidth, h = source_->maxHeight;
  if (roomForFactor_) factor_.place(memSpace_, uint64_t{w} * h);
  if (roomForShift_) shift_.place(memSpace_, uint64_t{madShiftPitch(roomForWideShift_, w)} * h);
}

template <opixDebayerType_t N>
void Debayer<N>::ReservePreOperations(const opixDebayerPreOperations_t& r) {
  const opixSam_t* sam = r.sam;
  const opixSam16_t* sam16 = r.sam16;
  roomForFactor_ = (sam && sam->correctionMatrix) || (sam16 && sam16->correctionMatrix);
  roomForShift_ = (sam && sam->blackShiftMatrix) || (sam16 && sam16->blackShiftMatrix);
  roomForWideShift_ = sam16 && sam16->blackShiftMatrix;
}

template <opixDebayerType_t N>
void Debayer<N>::SetPreOperations(const opixDebayerPreOperations_t* r) {
  PreOperations next;
  next.hi = maxSample(static_cast<int>(opixFormatBits(sourceFormat_)));
  if (!r) {
    pre_ = next;
    withPreOperations_ = true;
    return;
  }
  // Every check before anything changes; the filters' statuses.
  if (r->sam && r->sam16) OPIX_THROW(OPIX_INVALID_VALUE);
  if ((r->sam16 || r->blackShift) && sourceFormat_ == OPIX_I8) OPIX_THROW(OPIX_UNSUPPORTED_SURFACE);
  if (r->blackShift) checkBayerPattern(r->blackShift->bayerPattern, OPIX_INVALID_FORMAT);
  if (r->whiteBalance) checkBayerPattern(r->whiteBalance->bayerPattern, OPIX_INVALID_VALUE);
  const bool wide = r->sam16 != nullptr;
  const void* shift = r->sam ? static_cast<const void*>(r->sam->blackShiftMatrix)
                      : wide ? static_cast<const void*>(r->sam16->blackShiftMatrix)
                             : nullptr;
  const float* factor = r->sam ? r->sam->correctionMatrix : wide ? r->sam16->correctionMatrix : nullptr;
  const uint32_t w = source_->maxWidth, h = source_->maxHeight;
  const uint64_t shiftBytes = uint64_t{madShiftPitch(wide, w)} * h, factorCount = uint64_t{w} * h;
  if ((shift && shiftBytes > shift_.count()) || (factor && factorCount > factor_.count()))
    OPIX_THROW(OPIX_INVALID_VALUE);  // no room was reserved at Create
  if (shift) shift_.upload(static_cast<const uint8_t*>(shift), shiftBytes);
  if (factor) factor_.upload(factor, factorCount);
  // The caller may reuse its matrices once the call returns.
  if (shift || factor) streamSynchronize();

  if (r->sam || r->sam16) {
    next.sam = true;
    next.wideShift = wide;
    next.shift = shift ? shift_.data() : nullptr;
    next.shiftPitch = madShiftPitch(wide, w);
    next.factor = factor ? factor_.data() : nullptr;
    next.factorPitch = w;
  }
  if (r->blackShift) {
    next.blackShift = true;
    const float* b = r->blackShift->blackShift;
    setBlackLevels(next, static_cast<int>(r->blackShift->bayerPattern), {b[0], b[1], b[2]});
  }
  if (const opixWhiteBalance_t* wb = r->whiteBalance) {
    next.whiteBalance = true;
    setBalanceGains(next, static_cast<int>(wb->bayerPattern), {wb->R, wb->G1, wb->G2, wb->B});
  }
  pre_ = next;
  withPreOperations_ = true;
}

template <opixDebayerType_t N>
void Debayer<N>::Transform(opixBayerPattern_t pattern, uint32_t width, uint32_t height) {
  trace::buffer("source buffer", source_);
  checks::widthMatches(width, source_->width);
  checks::heightMatches(height, source_->height);
  checkBayerPattern(pattern, OPIX_UNRECOGNIZED_ERROR);
  const PatternShift shift = bayerShift(pattern);
  setCurrentSize(*destination_, width, height);
  const CopyShift copy = debayerCopyShift(N, sourceFormat_, shift.sx, shift.sy);

  WorkView work{
      sourceFormat_, width + 2 * kApron + copy.cx, height + 2 * kApron + copy.cy, width, height, kApron, copy.cx,
      copy.cy};
  const SurfaceView src = surfaceView(*source_);
  if (!src.plane[0]) OPIX_THROW(OPIX_INTERNAL_ERROR);
  // The drivers read the work image's samples from the source, its margins
  // through the mirror, correcting them where there are pre-operations: the
  // host drivers as they assemble each row, the CUDA drivers as their blocks
  // load their tiles. The image is not copied and no apron is filled.
  const bool corrected = withPreOperations_ && pre_.any();
  work.source = src.plane[0];
  work.sourcePitch = src.pitch;
  work.pre = corrected ? &pre_ : nullptr;
  if (corrected) work.corrections = pre_;
  Launch(pattern, work, surfaceView(*destination_));
}

namespace {

// Samples [x0, x0 + n) of image row y corrected step by step, each step a
// plain loop over the row (which stays in the cache), as the filters' host
// drivers run it; the samples round through selects (the shared rounding's
// values).
template <class T>
void correctRow(const PreOperations& p, const T* s, T* d, int y, int x0, int n) {
  const T* in = s;
  const uint32_t hi = p.hi;
  if (p.sam) {
    const uint8_t* shiftRow = p.shift ? p.shift + int64_t{y} * p.shiftPitch : nullptr;
    const float* f = p.factor ? p.factor + int64_t{y} * p.factorPitch + x0 : nullptr;
    if (p.wideShift) {
      const int16_t* b = shiftRow ? reinterpret_cast<const int16_t*>(shiftRow) + x0 : nullptr;
      madRowSelect(in, d, b, f, n, hi);
    } else {
      const int8_t* b = shiftRow ? reinterpret_cast<const int8_t*>(shiftRow) + x0 : nullptr;
      madRowSelect(in, d, b, f, n, hi);
    }
    in = d;
  }
  const PreRowSites sites = preRowSites(p, y);
  const bool odd = (x0 & 1) != 0;  // the first sample's column
  if (p.blackShift) {
    sitePairRow(in, d, n, odd ? sites.levelOdd : sites.levelEven, odd ? sites.levelEven : sites.levelOdd,
                [hi](uint32_t v, float b) { return blackShiftSampleSelect(v, b, hi); });
    in = d;
  }
  if (p.whiteBalance) {
    sitePairRow(in, d, n, odd ? sites.gainOdd : sites.gainEven, odd ? sites.gainEven : sites.gainOdd,
                [hi](uint32_t v, float k) { return whiteBalanceSampleSelect(v, k, hi); });
    in = d;
  }
  if (in == s) std::memcpy(d, s, sizeof(T) * size_t(n));
}
// The rows built for x86-64-v3 and v4 too, where the white balance's fmaf
// is one instruction.
OPIX_HOST_FMA_CLONES __attribute__((flatten)) void correctRow8(const PreOperations& p, const uint8_t* s, uint8_t* d,
                                                               int y, int x0, int n) {
  correctRow(p, s, d, y, x0, n);
}
OPIX_HOST_FMA_CLONES __attribute__((flatten)) void correctRow16(const PreOperations& p, const uint16_t* s, uint16_t* d,
                                                                int y, int x0, int n) {
  correctRow(p, s, d, y, x0, n);
}

}  // namespace

void correctPreRow(const PreOperations& p, const uint8_t* s, uint8_t* d, int y, int x0, int n) {
  correctRow8(p, s, d, y, x0, n);
}
void correctPreRow(const PreOperations& p, const uint16_t* s, uint16_t* d, int y, int x0, int n) {
  correctRow16(p, s, d, y, x0, n);
}

uint32_t correctPreSample(const PreOperations& p, uint32_t v, int x, int y) {
  return preOperationSample(p, preRowSites(p, y), v, x, y);
}

template class Debayer<OPIX_DFPD>;
template class Debayer<OPIX_HQLI>;
template class Debayer<OPIX_MG>;
template class Debayer<OPIX_L7>;

}  // namespace opix
