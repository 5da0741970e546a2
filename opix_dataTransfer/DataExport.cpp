#include "DataExport.h"

#include "ChannelKernels.h"
#include "Checks.h"
#include "StreamGlobal.h"
#include "TraceFile.h"
#include "opixException.h"

#define OPIX_SOURCE "opix_dataTransfer/DataExport"

namespace opix {

namespace {

const opixDeviceSurfaceBuffer_t& required(opixDeviceSurfaceBufferHandle_t source) {
  if (!source) OPIX_THROW(OPIX_INVALID_VALUE);
  return *source;
}

bool accepted(opixSurfaceFormat_t f) {
  switch (f) {
    case OPIX_I8:
    case OPIX_I10:
    case OPIX_I12:
    case OPIX_I14:
    case OPIX_I16:
    case OPIX_RGB8:
    case OPIX_BGR8:
    case OPIX_RGB12:
    case OPIX_RGB16:
    case OPIX_RGB12_PLANAR:
    case OPIX_RGB16_PLANAR: return true;
    default: return false;
  }
}

opixSurfaceFormat_t deliveredFormat(opixSurfaceFormat_t source) {
  switch (source) {
    case OPIX_RGB12_PLANAR: return OPIX_RGB12;
    case OPIX_RGB16_PLANAR: return OPIX_RGB16;
    default: return source;
  }
}

}  // namespace

void traceExportParameters(const opixExportParameters_t* parameters) {
  if (!trace::active()) return;
  if (!parameters) {
    trace::line() << trace::kIndent1 << "opixExportParameters_t: NULL\n";
    return;
  }
  trace::line() << trace::kIndent1 << "opixExportParameters_t:\n";
  trace::field("\tconvert", std::string(opixConvertTypeName(parameters->convert)));
}

DataExport::DataExport(opixDeviceSurfaceBufferHandle_t source)
    : MemoryAdapter(required(source).surfaceFormat, required(source).maxWidth, required(source).maxHeight),
      source_(source),
      sourceOwner_(leases::hold(source)) {
  if (!accepted(format_)) unsupported(format_);
  checks::externalBuffer(*source);
  // The CUDA drivers swap or interleave on the device, into a buffer the
  // copy to the host then reads. The host drivers write the delivered layout
  // as they copy the image into host memory: no pass and no buffer of their
  // own.
  const bool converts = format_ == OPIX_RGB8 || isPlanar(format_);
  if (converts && cudaDrivers())
    intermediate_ = createSurfaceBuffer(source->maxWidth, source->maxHeight, deliveredFormat(format_));
  delivered_ = deliveredFormat(format_);
  Allocate();
}

void DataExport::ComputeMemorySize() {
  if (intermediate_) reserve(*intermediate_);
}

void DataExport::Copy(void* destination, uint32_t width, uint32_t pitch, uint32_t height,
                      const opixExportParameters_t* parameters, bool wait) {
  trace::buffer("source buffer", source_);
  traceExportParameters(parameters);
  checks::widthMatches(width, source_->width);
  checks::heightMatches(height, source_->height);

  // Planar colour is interleaved, and a blue-green-red delivery swapped, on
  // the way; the source keeps its order, so exporting the same buffer twice
  // delivers the same image twice.
  const bool swap = format_ == OPIX_RGB8 && parameters && parameters->convert == OPIX_CONVERT_BGR;
  const bool convert = swap || isPlanar(format_);
  const opixDeviceSurfaceBuffer_t* from = source_;
  if (convert && intermediate_) {
    setCurrentSize(*intermediate_, width, height);
    if (swap)
      launchChannelReplace(surfaceView(*source_), surfaceView(*intermediate_));
    else
      launchChannelMerge(surfaceView(*source_), surfaceView(*intermediate_));
    from = intermediate_.get();
  }
  try {
    if (convert && !intermediate_)
      packToHost(surfaceView(*source_), swap, destination, pitch);
    else if (width != 0 && height != 0)
      copy2D(destination, pitch, deviceAddress(*from), from->pitch, hostRowBytes(width), height,
             device::CopyKind::DeviceToHost);
    if (wait) streamSynchronize();
  } catch (const opixException& e) {
    trace::status(e.status());
    trace::value("CUDA Error", static_cast<int32_t>(e.cudaError()));
    trace::value("Func Name", e.cudaCall());
    throw;
  }
}

}  // namespace opix
