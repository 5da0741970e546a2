#include "ImageFilterDefringe.h"

#include <cmath>
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

void launchDefringeHost(const DefringeArgs& a) {
  const int w = int(a.src.width), h = int(a.src.height);
  auto edge = [&](int x, int y) { return a.edges[int64_t{y} * a.edgePitch + x] != 0; };
  host::parallelRows(h, [&](int64_t y) {
    const uint16_t *r = planeRow(a.src, 0, y), *g = planeRow(a.src, 1, y), *b = planeRow(a.src, 2, y);
    uint16_t* out[3];
    for (int p = 0; p < 3; ++p) out[p] = reinterpret_cast<uint16_t*>(a.dst.plane[p] + y * a.dst.pitch);
    for (int x = 0; x < w; ++x) {
      uint32_t c[3] = {r[x], g[x], b[x]};
      if (fringeHue(c[0], c[1], c[2], a.rule) && inFringeBand(edge, x, int(y), w, h, a.rule.radius)) {
        const uint32_t luma = defringeLuma(c[0], c[1], c[2]);
        for (auto& v : c) v = defringeChannel(v, luma, a.rule.strength, a.hi);
      }
      for (int p = 0; p < 3; ++p) out[p][x] = static_cast<uint16_t>(c[p]);
    }
  });
}

constexpr FilterType kDefringeTypes[] = {
    {OPIX_DEFRINGE, "Defringe", kRgb12P | kRgb16P},
};
extern const FilterDeclaration kDefringeFilter{kDefringeTypes, makeFilter<ImageFilterDefringe>,
                                               recordBytesOf<opixDefringe_t>, trace::recordOf<opixDefringe_t>};

}  // namespace opix
