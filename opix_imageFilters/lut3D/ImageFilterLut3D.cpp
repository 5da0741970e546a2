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
  const uint64_t elements = uint64_t{allocated_.width} * allocated_.height * allocated_.depth;
  staging_.allocate(elements * sizeof(float) * 3);
  if (!onCuda()) {  // the host drivers may run on it
    nodeSpace_.reserve(elements * sizeof(float) * 4);
    nodeSpace_.allocate();
    nodes_.node = static_cast<float*>(nodeSpace_.pointer());
  }
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
  ++tablesVersion_;
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
  if (!cudaDrivers() && !nodes_.node) OPIX_THROW(OPIX_INTERNAL_ERROR);
  a.nodes = &nodes_;
  a.tablesVersion = tablesVersion_;
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

namespace {

// The host rows go a chunk of pixels at a time through arrays: the grid
// coordinates and each axis's taps and weight in one loop the compiler
// vectorises, then, a pixel at a time, the eight nodes around its point read
// from the node copy (a node's three table elements in one vector) and
// weighed as textureLinear3D weighs each table (x first, then y, then z), the
// three tables in the lanes of one vector, then the samples (for the HSV
// table, after the way back to RGB) in a second vectorised loop. Every step
// is the shared maths or its select form.
constexpr int kChunk = 64;

typedef float Node __attribute__((vector_size(16)));

struct Lut3DChunk {
  float v[3][kChunk];                // the pixels' channels as floats: samples, or hue, saturation and value
  int i0[3][kChunk], i1[3][kChunk];  // each axis's two elements
  float w[3][kChunk];                // and the weight of the second
  float lut[3][kChunk];              // the three tables' values
  uint32_t out[3][kChunk];           // the new samples
};

template <bool Hsv, int Bits>
void lut3DRow(const Lut3DArgs& a, int64_t y) {
  constexpr uint32_t kHi = Bits == 12 ? 4095u : 65535u;
  constexpr float kUnit = Bits == 12 ? 4096.0f : 65536.0f;
  const uint32_t extent[3] = {a.table[0].width, a.table[0].height, a.table[0].depth};
  const size_t row = a.table[0].width, slice = size_t{a.table[0].width} * a.table[0].height;
  const Node* nodes = reinterpret_cast<const Node*>(a.nodes->node);
  const uint16_t* src[3];
  uint16_t* dst[3];
  for (int c = 0; c < 3; ++c) {
    src[c] = reinterpret_cast<const uint16_t*>(a.src.plane[c] + y * a.src.pitch);
    dst[c] = reinterpret_cast<uint16_t*>(a.dst.plane[c] + y * a.dst.pitch);
  }
  Lut3DChunk k;
  for (uint32_t x0 = 0; x0 < a.src.width; x0 += kChunk) {
    const int n = static_cast<int>(a.src.width - x0 < kChunk ? a.src.width - x0 : kChunk);
    for (int c = 0; c < 3; ++c) {
      const uint16_t* __restrict s = src[c] + x0;
      for (int i = 0; i < n; ++i) k.v[c][i] = static_cast<float>(s[i] & kHi);
    }
    for (int i = 0; i < n; ++i) {
      float p[3];
      if constexpr (Hsv) {
        lut3DHsvOfSelect(k.v[0][i] / kUnit, k.v[1][i] / kUnit, k.v[2][i] / kUnit, p);
        for (int c = 0; c < 3; ++c) k.v[c][i] = p[c];
      } else {
        for (int c = 0; c < 3; ++c) p[c] = k.v[c][i];
      }
      for (int c = 0; c < 3; ++c)
        linearTapsSelect(lut3DCoordinate(a.scale[c], p[c]), extent[c], k.i0[c][i], k.i1[c][i], k.w[c][i]);
    }
    for (int i = 0; i < n; ++i) {
      const Node* r[4];  // the rows of the corners, y + 2z
      for (int yz = 0; yz < 4; ++yz)
        r[yz] =
            nodes + size_t(yz & 2 ? k.i1[2][i] : k.i0[2][i]) * slice + size_t(yz & 1 ? k.i1[1][i] : k.i0[1][i]) * row;
      const size_t x0i = size_t(k.i0[0][i]), x1i = size_t(k.i1[0][i]);
      const float ax = k.w[0][i], ay = k.w[1][i], az = k.w[2][i];
      const auto lerpX = [&](int yz) { return (1.0f - ax) * r[yz][x0i] + ax * r[yz][x1i]; };
      const auto lerpY = [&](int z) { return (1.0f - ay) * lerpX(2 * z) + ay * lerpX(2 * z + 1); };
      const Node lut = (1.0f - az) * lerpY(0) + az * lerpY(1);
      for (int t = 0; t < 3; ++t) k.lut[t][i] = lut[t];
    }
    for (int i = 0; i < n; ++i) {
      const float lut[3] = {k.lut[0][i], k.lut[1][i], k.lut[2][i]};
      if constexpr (Hsv) {
        const float hsv[3] = {k.v[0][i], k.v[1][i], k.v[2][i]};
        float rgb[3];
        lut3DHsvApplySelect(hsv, lut, rgb);
        for (int c = 0; c < 3; ++c) k.out[c][i] = saturationSampleSelect(rgb[c], kUnit, kHi);
      } else {
        for (int c = 0; c < 3; ++c) k.out[c][i] = lut3DSampleSelect(lut[c], kHi);
      }
    }
    for (int c = 0; c < 3; ++c) {
      uint16_t* __restrict d = dst[c] + x0;
      for (int i = 0; i < n; ++i) d[i] = static_cast<uint16_t>(k.out[c][i]);
    }
  }
}

OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void lut3DHostRow(const Lut3DArgs& a, int64_t y) {
  if (a.hsv)
    a.bits == 12 ? lut3DRow<true, 12>(a, y) : lut3DRow<true, 16>(a, y);
  else
    a.bits == 12 ? lut3DRow<false, 12>(a, y) : lut3DRow<false, 16>(a, y);
}

}  // namespace

void launchLut3DHost(const Lut3DArgs& a) {
  Lut3DNodes& copy = *a.nodes;
  if (copy.tablesVersion != a.tablesVersion) {
    const auto* t0 = reinterpret_cast<const float*>(a.table[0].host);
    const auto* t1 = reinterpret_cast<const float*>(a.table[1].host);
    const auto* t2 = reinterpret_cast<const float*>(a.table[2].host);
    const size_t elements = size_t{a.table[0].width} * a.table[0].height * a.table[0].depth;
    host::parallelFor(int64_t(elements), [&](int64_t begin, int64_t end) {
      Node* __restrict node = reinterpret_cast<Node*>(copy.node);
      for (int64_t e = begin; e < end; ++e) node[e] = Node{t0[e], t1[e], t2[e], 0.0f};
    });
    copy.tablesVersion = a.tablesVersion;
  }
  host::parallelRows(a.src.height, [&](int64_t y) { lut3DHostRow(a, y); });
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
