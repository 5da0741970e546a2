#include "ImageFilterLut3D.h"

#include <algorithm>

#include "Checks.h"
#include "KernelLaunch.h"
#include "MemSpace.h"
#include "TraceFile.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterLut3D"

namespace opix {

namespace {

void traceText(const char* s) {
  if (trace::active()) trace::text(std::string(trace::kIndent1) + s);
}

}  // namespace

bool ImageFilterLut3D::recordGrid(const void* record, Grid& grid, const float* (&tables)[3]) const {
  if (type_ == OPIX_HSV_LUT_3D) {
    const auto* r = static_cast<const opixHsvLut3D_t*>(record);
    grid = {r->dimH, r->dimS, r->dimV};
    tables[0] = r->lutH;
    tables[1] = r->lutS;
    tables[2] = r->lutV;
  } else {
    const auto* r = static_cast<const opixRGBLut_3D_t*>(record);
    grid = {r->size1D, r->size1D, r->size1D};
    tables[0] = r->lutR;
    tables[1] = r->lutG;
    tables[2] = r->lutB;
  }
  return grid.width && grid.height && grid.depth && tables[0] && tables[1] && tables[2];
}

void ImageFilterLut3D::Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
                            uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                            opixDeviceSurfaceBufferHandle_t* destination) {
  if (!staticParameters) checks::fail("Static Parameters have not to be NULL", OPIX_INVALID_VALUE, __LINE__);
  type_ = type;
  const float* tables[3];
  Grid g{};
  (void)recordGrid(staticParameters, g, tables);
  // Zero sizes have no grid; beyond the largest size the arrays could not be
  // made on any device (and their byte counts would overflow).
  for (uint32_t n : {g.width, g.height, g.depth})
    if (n == 0 || n > kLut3DMaxSize) checks::fail("Unsupported LUT size", OPIX_INVALID_SIZE, __LINE__);
  allocated_ = grid_ = g;
  copied_ = false;
  ImageFilterBase::Init(sourceFormat, type, staticParameters, maxWidth, maxHeight, source, destination);
  traceText("Resource init");
  traceText("Texture init");
  traceText("Create texture objects");
  for (auto& t : tables_)
    if (!t.createTexture()) checks::fail("Texture init failed", OPIX_INVALID_SIZE, __LINE__);
  traceText("Create: SUCCESS");
}

void ImageFilterLut3D::ComputeMemorySize() {
  ImageFilterBase::ComputeMemorySize();
  for (int t = 0; t < 3; ++t) {
    const std::string n = std::to_string(t + 1);
    if (trace::active()) trace::text("Allocating CUDA Array " + n);
    if (!tables_[t].allocate(allocated_.width, allocated_.height, allocated_.depth))
      checks::fail("CUDA Array allocation failed", OPIX_INSUFFICIENT_DEVICE_MEMORY, __LINE__);
    if (trace::active()) trace::text("CUDA Array " + n + " has been Allocated");
    // The arrays are not part of the component's block: only the device's
    // free memory is written.
    trace::deviceMemory(0);
  }
  staging_.allocate(uint64_t{allocated_.width} * allocated_.height * allocated_.depth * sizeof(float) * 3);
}

// Copies the record's tables into the arrays. A grid smaller than the arrays
// is stored with its last element repeated along each axis up to the arrays'
// extent, so reads near and past its end see its own clamped faces.
void ImageFilterLut3D::ApplyParameters(const void* record) {
  Grid g{};
  const float* tables[3];
  if (!recordGrid(record, g, tables)) return;
  traceText("Lut3D reinit");
  if (g.width > allocated_.width || g.height > allocated_.height || g.depth > allocated_.depth)
    checks::fail("New LUT size is greater than allocated memory", OPIX_INVALID_SIZE, __LINE__);
  int ops[3] = {OPIX_OP_REPLACE, OPIX_OP_REPLACE, OPIX_OP_REPLACE};
  if (type_ == OPIX_HSV_LUT_3D) {
    const auto* r = static_cast<const opixHsvLut3D_t*>(record);
    ops[0] = r->operationH;
    ops[1] = r->operationS;
    ops[2] = r->operationV;
  }
  traceText("Copy arrays");
  const Grid& a = allocated_;
  const size_t elements = size_t{a.width} * a.height * a.depth;
  // The uploads queue behind any pass still reading the arrays.
  auto* staged = reinterpret_cast<float*>(staging_.next());
  copied_ = false;
  bool uploaded = true;
  for (int t = 0; t < 3 && uploaded; ++t) {
    float* const table = staged + elements * t;
    float* out = table;
    for (uint32_t z = 0; z < a.depth; ++z)
      for (uint32_t y = 0; y < a.height; ++y) {
        const float* in =
            tables[t] + (size_t{std::min(z, g.depth - 1)} * g.height + std::min(y, g.height - 1)) * g.width;
        out = std::copy(in, in + g.width, out);
        out = std::fill_n(out, a.width - g.width, in[g.width - 1]);
      }
    const device::Memcpy3DParms parms = tables_[t].uploadParms(table);
    trace::record(&parms);
    uploaded = tables_[t].upload(table);
    trace::value("cudaMemcpy3D success", uploaded);
  }
  staging_.issued();
  if (!uploaded) checks::fail("CUDA Array copy failed", OPIX_INVALID_SIZE, __LINE__);
  grid_ = g;
  for (int c = 0; c < 3; ++c) operation_[c] = ops[c];
  copied_ = true;
  traceText("Lut3D reinit: SUCCESS");
}

void ImageFilterLut3D::Launch(const SurfaceView& source, const SurfaceView& destination) {
  if (grid_.width < 2 || grid_.height < 2) checks::fail("Invalide LUT size", OPIX_INVALID_VALUE, __LINE__);
  if (!copied_) {
    // No tables yet: the image passes unchanged.
    for (int c = 0; c < 3; ++c)
      copy2D(destination.plane[c], destination.pitch, source.plane[c], source.pitch, size_t{source.width} * 2,
             source.height, device::CopyKind::DeviceToDevice);
    return;
  }
  const bool hsv = type_ == OPIX_HSV_LUT_3D;
  if (hsv && (operation_[0] != OPIX_OP_ADD || operation_[1] != OPIX_OP_MULTIPLY || operation_[2] != OPIX_OP_MULTIPLY))
    checks::fail("Unsupported operation type", OPIX_INVALID_VALUE, __LINE__);
  Lut3DArgs a{};
  a.src = source;
  a.dst = destination;
  a.bits = static_cast<int>(opixFormatBits(source.format));
  a.hsv = hsv;
  for (int c = 0; c < 3; ++c) a.table[c] = tables_[c].view();
  if (hsv) {
    a.scale[0] = static_cast<float>(grid_.width - 1) / 360.0f;
    a.scale[1] = static_cast<float>(grid_.height - 1);
    a.scale[2] = static_cast<float>(grid_.depth - 1);
  } else {
    const float unit = a.bits == 12 ? 4096.0f : 65536.0f;
    a.scale[0] = static_cast<float>(grid_.width - 1) / unit;
    a.scale[1] = static_cast<float>(grid_.height - 1) / unit;
    a.scale[2] = static_cast<float>(grid_.depth - 1) / unit;
  }
  OPIX_KERNEL_LAUNCH("GPULut3D (3D mode)", launchLut3DCuda(a), launchLut3DHost(a));
}

void launchLut3DHost(const Lut3DArgs& a) {
  host::parallelRows(a.src.height, [&](int64_t y) {
    const uint16_t* s[3];
    uint16_t* d[3];
    for (int c = 0; c < 3; ++c) {
      s[c] = reinterpret_cast<const uint16_t*>(a.src.plane[c] + y * a.src.pitch);
      d[c] = reinterpret_cast<uint16_t*>(a.dst.plane[c] + y * a.dst.pitch);
    }
    for (uint32_t x = 0; x < a.src.width; ++x) {
      uint32_t px[3] = {s[0][x], s[1][x], s[2][x]};
      lut3DPixel(a, px);
      for (int c = 0; c < 3; ++c) d[c][x] = static_cast<uint16_t>(px[c]);
    }
  });
}

namespace {

uint64_t lut3DRecordBytes(opixImageFilterType_t type) {
  return type == OPIX_HSV_LUT_3D ? sizeof(opixHsvLut3D_t) : sizeof(opixRGBLut_3D_t);
}
void traceLut3DRecord(opixImageFilterType_t type, const void* record) {
  if (type == OPIX_HSV_LUT_3D)
    trace::record(static_cast<const opixHsvLut3D_t*>(record));
  else
    trace::record(static_cast<const opixRGBLut_3D_t*>(record));
}

}  // namespace

constexpr FilterType kLut3DTypes[] = {
    {OPIX_HSV_LUT_3D, "HSV 3D LUT", kRgb12P | kRgb16P},
    {OPIX_RGB_LUT_3D, "RGB 3D LUT", kRgb12P | kRgb16P},
};
extern const FilterDeclaration kLut3DFilter{kLut3DTypes, makeFilter<ImageFilterLut3D>, lut3DRecordBytes,
                                            traceLut3DRecord};

}  // namespace opix
