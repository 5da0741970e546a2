#include "ImageFilterColumn.h"

#include "Checks.h"
#include "KernelLaunch.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterColumn"

namespace opix {

void ImageFilterColumn::Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
                             uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                             opixDeviceSurfaceBufferHandle_t* destination) {
  if (!staticParameters) checks::fail("Column filter is not initialized", OPIX_INVALID_VALUE, __LINE__);
  ImageFilterBase::Init(sourceFormat, type, staticParameters, maxWidth, maxHeight, source, destination);
}

void ImageFilterColumn::ComputeMemorySize() { shareSourcePixels(); }

// The source's owner may move an external buffer's pixels between calls, so
// the placement is taken again before every pass.
void ImageFilterColumn::shareSourcePixels() {
  destination_->external = source_->external;
  destination_->memorySpaceBase = source_->memorySpaceBase;
  destination_->offset = source_->offset;
  destination_->size = source_->size;
  destination_->directPointer = source_->directPointer;
  destination_->maxPitch = source_->maxPitch;
}

void ImageFilterColumn::ApplyParameters(const void* record) {
  const int32_t column = static_cast<const opixColumnFilter_t*>(record)->columnOffset;
  if (column < 2) checks::fail("columnOffset < 2", OPIX_INVALID_VALUE, __LINE__);
  if (uint32_t(column) >= source_->maxWidth)
    checks::fail("columnOffset exceeds image width", OPIX_INVALID_VALUE, __LINE__);
  column_ = column;
}

void ImageFilterColumn::Transform(const void* parameters, uint32_t width, uint32_t height) {
  shareSourcePixels();
  ImageFilterBase::Transform(parameters, width, height);
  // The same pixels, so the same rows: a reader of the destination steps by
  // the source's pitch, which a caller-owned source may make wider.
  destination_->pitch = source_->pitch;
}

void ImageFilterColumn::Launch(const SurfaceView& source, const SurfaceView&) {
  if (uint32_t(column_) >= source.width) checks::fail("columnOffset exceeds image width", OPIX_INVALID_VALUE, __LINE__);
  // Rows are addressed by the pitch: for odd widths it is longer than the width.
  const ColumnArgs a{source.plane[0], source.pitch, source.height, uint32_t(column_)};
  OPIX_KERNEL_LAUNCH("GPUColumnFilter", launchColumnCuda(a), launchColumnHost(a));
}

void launchColumnHost(const ColumnArgs& a) {
  host::parallelRows(a.height, [&](int64_t y) {
    uint16_t* row = reinterpret_cast<uint16_t*>(a.plane + y * a.pitch);
    row[a.column] = row[a.column - 2];
  });
}

constexpr FilterType kColumnTypes[] = {
    {OPIX_COLUMN_FILTER, "column filter", kI12},
};
extern const FilterDeclaration kColumnFilter{kColumnTypes, makeFilter<ImageFilterColumn>,
                                             recordBytesOf<opixColumnFilter_t>, trace::recordOf<opixColumnFilter_t>};

}  // namespace opix
