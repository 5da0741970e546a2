// Trace printers of the image filters' parameter records.
#pragma once

#include "device/Device.h"
#include "opix.h"

namespace opix::trace {

void record(const opixSam_t* r);
void record(const opixSam16_t* r);
void record(const opixWhiteBalance_t* r);
void record(const opixBayerBlackShift_t* r);
void record(const opixBaseColorCorrection_t* r);
// The neighbourhood filters.
void record(const opixGaussianFilter_t* r);
void record(const opixColumnFilter_t* r);
void record(const opixBadPixelCorrection_t* r);
void record(const opixBinning_t* r);
void record(const opixDefringe_t* r);
void record(const opixFFC_t* r);
void record(const opixColorSaturation_t* r);
void record(const opixHsvLut3D_t* r);
void record(const opixRGBLut_3D_t* r);
// The description of a 3D copy (of a table into a CUDA array).
void record(const device::Memcpy3DParms* p);

// A look-up table record of a LUT type (2 to 27): header and Bayer pattern,
// and the tables when print tables is set.
void lutRecord(opixImageFilterType_t type, const void* r);

// The printer of a record type, in the shape a filter's declaration names.
template <class Record>
void recordOf(opixImageFilterType_t, const void* r) {
  record(static_cast<const Record*>(r));
}

}  // namespace opix::trace
