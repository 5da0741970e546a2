#include "ImageFilterDefringe.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "Checks.h"
#include "KernelLaunch.h"
#include "common/FilterRecords.h"
#include "common/FilterRegistry.h"
#include "device/Parallel.h"

#define OPIX_SOURCE "opix_imageFilters/ImageFilterDefringe"

namespace opix {

void ImageFilterDefringe::ComputeMemorySize() {
  ImageFilterBase::ComputeMemorySize();
  edges_.place(memSpace_, uint64_t{edgePitch()} * source_->maxHeight);
}

namespace {

bool validHue(float h) { return h >= 0.0f && h <= 360.0f; }

}  // namespace

void ImageFilterDefringe::ApplyParameters(const void* record) {
  const auto* r = static_cast<const opixDefringe_t*>(record);
  const bool valid = r->edgeThreshold >= 0.0f && std::isfinite(r->edgeThreshold) && r->bandRadius >= 1 &&
                     r->bandRadius <= 8 && validHue(r->purpleHue[0]) && validHue(r->purpleHue[1]) &&
                     validHue(r->greenHue[0]) && validHue(r->greenHue[1]) && r->strength >= 0.0f && r->strength <= 1.0f;
  if (!valid) checks::fail("Defringe parameters out of range", OPIX_INVALID_VALUE, __LINE__);
  rule_ = DefringeRule{r->edgeThreshold,
                       int(r->bandRadius),
                       {r->purpleHue[0], r->purpleHue[1]},
                       {r->greenHue[0], r->greenHue[1]},
                       r->strength};
}

void ImageFilterDefringe::Launch(const SurfaceView& source, const SurfaceView& destination) {
  const DefringeArgs a{
      source, destination, edges_.data(), edgePitch(), maxSample(static_cast<int>(opixFormatBits(source.format))),
      rule_};
  OPIX_KERNEL_LAUNCH("GPUDefringeEdges", launchDefringeEdgesCuda(a), launchDefringeEdgesHost(a));
  OPIX_KERNEL_LAUNCH("GPUDefringe", launchDefringeCuda(a), launchDefringeHost(a));
}

namespace {

const uint16_t* planeRow(const SurfaceView& v, int p, int64_t y) {
  return reinterpret_cast<const uint16_t*>(v.plane[p] + y * v.pitch);
}

}  // namespace

namespace {

// The luminance of row y (clamped to the image) into `line`, widened by one
// pixel on each side (the edge pixel repeated).
void lumaLine(const SurfaceView& v, int y, uint32_t* __restrict line) {
  const int w = int(v.width);
  const uint16_t* __restrict r = planeRow(v, 0, clampIndex(y, int(v.height)));
  const uint16_t* __restrict g = planeRow(v, 1, clampIndex(y, int(v.height)));
  const uint16_t* __restrict b = planeRow(v, 2, clampIndex(y, int(v.height)));
  for (int x = 0; x < w; ++x) line[x + 1] = defringeLuma(r[x], g[x], b[x]);
  line[0] = line[1];
  line[w + 1] = line[w];
}

void edgeLine(const uint32_t* __restrict up, const uint32_t* __restrict mid, const uint32_t* __restrict down,
              uint8_t* __restrict marks, int w, float threshold) {
  for (int x = 0; x < w; ++x) marks[x] = defringeEdge(mid[x], mid[x + 2], up[x + 1], down[x + 1], threshold);
}

}  // namespace

// Row by row over a ring of three luminance lines.
void launchDefringeEdgesHost(const DefringeArgs& a) {
  const int w = int(a.src.width), h = int(a.src.height);
  if (w == 0 || h == 0) return;
  host::parallelFor(h, [&](int64_t begin, int64_t end) {
    std::vector<uint32_t> ring(3 * size_t(w + 2));
    auto line = [&](int64_t y) { return ring.data() + ((y + 3) % 3) * (w + 2); };
    lumaLine(a.src, int(begin) - 1, line(begin - 1));
    lumaLine(a.src, int(begin), line(begin));
    for (int64_t y = begin; y < end; ++y) {
      lumaLine(a.src, int(y) + 1, line(y + 1));
      edgeLine(line(y - 1), line(y), line(y + 1), a.edges + y * a.edgePitch, w, a.rule.threshold);
    }
  });
}

namespace {

// Pass 2 over one row: band[x] is nonzero where an edge mark lies within
// the radius of pixel x.
OPIX_HOST_SIMD_CLONES __attribute__((flatten)) void defringeRow(const uint16_t* __restrict r,
                                                                const uint16_t* __restrict g,
                                                                const uint16_t* __restrict b,
                                                                const uint8_t* __restrict band, uint16_t* __restrict o0,
                                                                uint16_t* __restrict o1, uint16_t* __restrict o2, int w,
                                                                const DefringeRule& rule, uint32_t hi) {
  const DefringeRule k = rule;
  for (int x = 0; x < w; ++x) {
    const uint32_t c0 = r[x], c1 = g[x], c2 = b[x];
    const auto f = [](uint16_t v) { return static_cast<float>(static_cast<int32_t>(v)); };
    const bool on = fringeHueSelect(f(r[x]), f(g[x]), f(b[x]), k) & (band[x] != 0);
    const uint32_t luma = defringeLuma(c0, c1, c2);
    const RoundHalfUpClampSelect round;
    const uint32_t n0 = defringeChannel(c0, luma, k.strength, hi, round);
    const uint32_t n1 = defringeChannel(c1, luma, k.strength, hi, round);
    const uint32_t n2 = defringeChannel(c2, luma, k.strength, hi, round);
    o0[x] = static_cast<uint16_t>(on ? n0 : c0);
    o1[x] = static_cast<uint16_t>(on ? n1 : c1);
    o2[x] = static_cast<uint16_t>(on ? n2 : c2);
  }
}

// The marks of rows [y - radius, y + radius] (within the image) or-ed into
// column[radius + x], which has radius zeros on each side.
OPIX_HOST_SIMD_CLONES void markColumns(const DefringeArgs& a, int y, int radius, uint8_t* __restrict column) {
  const int w = int(a.src.width), h = int(a.src.height);
  uint8_t* __restrict c = column + radius;
  const int y0 = y - radius < 0 ? 0 : y - radius, y1 = y + radius > h - 1 ? h - 1 : y + radius;
  std::memcpy(c, a.edges + int64_t{y0} * a.edgePitch, size_t(w));
  for (int j = y0 + 1; j <= y1; ++j) {
    const uint8_t* __restrict m = a.edges + int64_t{j} * a.edgePitch;
    for (int x = 0; x < w; ++x) c[x] = static_cast<uint8_t>(c[x] | m[x]);
  }
}

// band[x]: column[x .. x + 2 radius] or-ed.
OPIX_HOST_SIMD_CLONES void markRow(const uint8_t* __restrict column, uint8_t* __restrict band, int w, int radius) {
  std::memcpy(band, column, size_t(w));
  for (int k = 1; k <= 2 * radius; ++k)
    for (int x = 0; x < w; ++x) band[x] = static_cast<uint8_t>(band[x] | column[x + k]);
}

}  // namespace

// The band around the edge marks (inFringeBand's window) is taken as two or
// passes, over the rows and then along the row, instead of pixel by pixel.
void launchDefringeHost(const DefringeArgs& a) {
  const int w = int(a.src.width), h = int(a.src.height), radius = a.rule.radius;
  if (w == 0 || h == 0) return;
  host::parallelFor(h, [&](int64_t begin, int64_t end) {
    std::vector<uint8_t> column(size_t(w) + 2 * size_t(radius), 0);
    std::vector<uint8_t> band(static_cast<size_t>(w));
    for (int64_t y = begin; y < end; ++y) {
      markColumns(a, int(y), radius, column.data());
      markRow(column.data(), band.data(), w, radius);
      uint16_t* out[3];
      for (int p = 0; p < 3; ++p) out[p] = reinterpret_cast<uint16_t*>(a.dst.plane[p] + y * a.dst.pitch);
      defringeRow(planeRow(a.src, 0, y), planeRow(a.src, 1, y), planeRow(a.src, 2, y), band.data(), out[0], out[1],
                  out[2], w, a.rule, a.hi);
    }
  });
}

constexpr FilterType kDefringeTypes[] = {
    {OPIX_DEFRINGE, "Defringe", kRgb12P | kRgb16P},
};
extern const FilterDeclaration kDefringeFilter{kDefringeTypes, makeFilter<ImageFilterDefringe>,
                                               recordBytesOf<opixDefringe_t>, trace::recordOf<opixDefringe_t>};

}  // namespace opix
