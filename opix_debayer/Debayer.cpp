#include "Debayer.h"

#include "ApronCopyMath.h"
#include "BayerTraits.h"
#include "Checks.h"
#include "CopyWithApron.h"
#include "KernelLaunch.h"
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
  destination_ = createSurfaceBuffer(maxWidth, maxHeight, debayerDestinationFormat(sourceFormat));
  *destination = destination_.get();
  workWidth_ = maxWidth + 2 * kApron + 1;
  workPitch_ = static_cast<uint32_t>(alignUp(uint64_t{workWidth_} * bytesPerSample(sourceFormat), 128));
  workHeight_ = maxHeight + 2 * kApron + 1;
  workHeightRounded_ = static_cast<uint32_t>(alignUp(workHeight_, 32));
  workSize_ = uint64_t{workHeightRounded_} * workPitch_;
  Allocate();
}

template <opixDebayerType_t N>
void Debayer<N>::ComputeMemorySize() {
  workOffset_ = memSpace_.reserve(workSize_);
  reserve(*destination_);
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

  WorkView work{sourceFormat_,
                sliceAddress(memSpace_.pointerField(), workOffset_),
                workPitch_,
                width + 2 * kApron + copy.cx,
                height + 2 * kApron + copy.cy,
                width,
                height,
                kApron,
                copy.cx,
                copy.cy};
  const SurfaceView src = surfaceView(*source_);
  const SurfaceView workSurface{sourceFormat_, {work.base, nullptr, nullptr}, work.pitch, work.width, work.height};
  copyWithOffsetAndApron(src, workSurface, kApron, static_cast<uint32_t>(kApron + copy.cx),
                         static_cast<uint32_t>(kApron + copy.cy));
  fillWorkApron(work);
  Launch(pattern, work, surfaceView(*destination_));
}

void fillWorkApron(const WorkView& work) {
  OPIX_KERNEL_LAUNCH("GpuCopyApron", launchApronFillCuda(work), launchApronFillHost(work));
}

namespace {

template <class T>
void fillRows(const WorkView& w) {
  const int first = w.apron + w.cx;  // first image column
  const int cols = static_cast<int>(w.imageWidth);
  const int total = static_cast<int>(w.width);
  host::parallelRows(w.height, [&](int64_t y) {
    T* row = reinterpret_cast<T*>(w.base + y * w.pitch);
    for (int c = 0; c < first; ++c) row[c] = row[first + apronSourceRow(c, first, cols)];
    for (int c = first + cols; c < total; ++c) row[c] = row[first + apronSourceRow(c, first, cols)];
  });
}

}  // namespace

void launchApronFillHost(const WorkView& work) {
  if (work.format == OPIX_I8)
    fillRows<uint8_t>(work);
  else
    fillRows<uint16_t>(work);
}

template class Debayer<OPIX_DFPD>;
template class Debayer<OPIX_HQLI>;
template class Debayer<OPIX_MG>;
template class Debayer<OPIX_L7>;

}  // namespace opix
