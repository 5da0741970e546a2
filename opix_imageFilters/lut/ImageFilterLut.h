// One-dimensional look-up tables: every sample replaced by the entry it
// indexes, one table for all channels, one per colour channel, or one per
// Bayer site of a raw image; the output may have another bit depth.
#pragma once

#include <cstdint>
#include <vector>

#include "KernelLaunch.h"
#include "LutMath.h"
#include "MemSpace.h"
#include "TextureRead.h"
#include "common/ImageFilterBase.h"
#include "common/RecordStaging.h"

namespace opix {

// What a LUT type takes and gives.
struct LutTraits {
  uint32_t entries;     // per table in the record
  uint32_t entryBytes;  // 1 or 2
  int tables;           // 1, or 3 for colour and Bayer records
  bool bayer;
  int outBits;  // 8, 12 or 16
  LutIndexing indexing;
};

// The traits of a LUT type (2 to 27); other types raise OPIX_INVALID_VALUE.
LutTraits lutTraits(opixImageFilterType_t type);
// Bytes of a record of the type, Bayer pattern included.
uint64_t lutRecordBytes(const LutTraits& s);

// What both drivers of the pass receive.
struct LutArgs {
  SurfaceView src, dst;
  int srcBits;  // significant bits of the source samples
  int outBits;  // 8, 12 or 16
  LutIndexing indexing;
  uint32_t mask;           // entries - 1, for masked lookups
  int tables;              // 1 or 3
  bool bayer;              // tables by Bayer site
  int pattern;             // 1 to 4, Bayer tables only
  const void* table[3];    // device tables: 8-bit entries for 8-bit outputs, else 16-bit
  TextureView texture[3];  // full range types
  // Host driver, interpolating types: the result of every 16-bit input.
  const uint16_t* expanded[3];
};

class ImageFilterLut : public ImageFilterBase {
 public:
  void ComputeMemorySize() override;
  // Makes the textures, the staging slots and the expanded tables.
  void OnAllocated() override;

 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override { return "LUT is not initialized"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  uint64_t deviceTableBytes() const;
  // Bytes of one table as staged: a device table's stride, or the entries of
  // a full range texture.
  uint64_t stagingStride() const;
  // Whether the host driver may run (host backend), reading the expanded tables.
  bool expands() const;

  LutTraits traits_{};
  TypedArray<uint8_t> tables_;
  Texture1DU16 textures_[3];
  RecordStaging staging_;
  std::vector<uint16_t> expanded_;
  int pattern_ = 1;
};

// The class of the Bayer types: one table per Bayer site.
class ImageFilterLutBayer : public ImageFilterLut {};

OPIX_CUDA_DRIVERS(void launchLutCuda(const LutArgs& a);)
void launchLutHost(const LutArgs& a);

}  // namespace opix
