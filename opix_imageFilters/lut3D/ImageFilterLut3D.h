// Three-dimensional look-up tables: every pixel of a planar colour image
// mapped through three float tables on a regular grid, read with trilinear
// interpolation through textures; indexed by R, G, B (new R, G, B) or by
// hue, saturation and value (hue offset, saturation and value factors).
#pragma once

#include <cstdint>
#include "KernelLaunch.h"
#include "Lut3DMath.h"
#include "MemSpace.h"
#include "TextureRead.h"
#include "common/ImageFilterBase.h"
#include "common/RecordStaging.h"

namespace opix {

// Largest grid size along any axis.
constexpr uint32_t kLut3DMaxSize = 2048;

// The three arrays' elements node by node, four floats a node (the fourth
// unused), nodes in the arrays' order, so that a corner of the trilinear read
// is one load; the host driver remakes it from the arrays when the filter has
// put newer tables in them.
struct Lut3DNodes {
  float* node = nullptr;
  uint64_t tablesVersion = 0;  // of the tables it holds; 0: none
};

class ImageFilterLut3D : public ImageFilterBase {
 public:
  void Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
            uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
            opixDeviceSurfaceBufferHandle_t* destination) override;
  void ComputeMemorySize() override;

 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override { return "Static Parameters have not to be NULL"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  struct Grid {
    uint32_t width, height, depth;
  };
  // The record's grid and tables; false for a record without tables.
  bool recordGrid(const void* record, Grid& grid, const float* (&tables)[3]) const;

  Grid allocated_{};  // the arrays' extent, the grid of Create
  Grid grid_{};       // the grid in force
  int operation_[3] = {0, 0, 0};
  bool copied_ = false;  // tables in the arrays
  Texture3DF32 tables_[3];
  RecordStaging staging_;       // three tables at the arrays' extent
  uint64_t tablesVersion_ = 0;  // tables put into the arrays so far
  // Host backend: the host driver's copy of the arrays.
  MemSpace nodeSpace_{MemSpace::Kind::PinnedHost};
  Lut3DNodes nodes_;
};

OPIX_CUDA_DRIVERS(void launchLut3DCuda(const Lut3DArgs& a);)
void launchLut3DHost(const Lut3DArgs& a);

}  // namespace opix
