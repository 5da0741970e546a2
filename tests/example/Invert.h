// An example image filter, built the way every filter of the SDK is: on
// ImageFilterBase (size checks, destination buffer, parameter record) with
// one kernel written once as maths (InvertMath.h) and driven twice, by a
// CUDA driver (Invert.cu) and a host driver (Invert.cpp), joined by the
// kernel launch macro. It inverts an 8-bit or 16-bit grey surface against a
// white level.
#pragma once

#include <cstdint>

#include "KernelLaunch.h"
#include "common/FilterRegistry.h"
#include "common/ImageFilterBase.h"
#include "opix.h"

namespace opix::example {

// The filter's parameter record: samples become white - min(sample, white).
struct InvertParameters {
  uint32_t white;
};

// The filter's type: a value no filter of the SDK uses, so no SDK record
// printer ever reads this record.
constexpr opixImageFilterType_t kInvertType = static_cast<opixImageFilterType_t>(0x7F00);

class Invert : public ImageFilterBase {
 public:
  void Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
            uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
            opixDeviceSurfaceBufferHandle_t* destination) override;
  ~Invert() override { ++destroyed; }

  static int destroyed;      // components destroyed so far
  static bool failOnInit;    // makes the next Init fail after allocating
  static bool throwForeign;  // makes the next pass throw a non-SDK exception

 protected:
  void ApplyParameters(const void* record) override;
  const char* NotInitializedMessage() const override { return "Invert filter is not initialized"; }
  void Launch(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  InvertParameters parameters_{};
};

// What the kernel needs, and nothing of the component.
struct InvertArgs {
  SurfaceView src, dst;  // I8 or I16
  uint32_t white;
};

// The filter's declaration, registered with the image filter interface.
extern const FilterDeclaration kInvertFilter;

OPIX_CUDA_DRIVERS(void launchInvertCuda(const InvertArgs& a);)
void launchInvertHost(const InvertArgs& a);

}  // namespace opix::example

// The example's interface functions, shaped like every SDK frontend. Create
// sets the white level to the largest value of the source format.
extern "C" {
opixStatus_t exampleInvertCreate(opixImageFilterHandle_t* handle, uint32_t maxWidth, uint32_t maxHeight,
                                 opixDeviceSurfaceBufferHandle_t source, opixDeviceSurfaceBufferHandle_t* destination);
opixStatus_t exampleInvertTransform(opixImageFilterHandle_t handle, uint32_t width, uint32_t height);
opixStatus_t exampleInvertDestroy(opixImageFilterHandle_t handle);
opixStatus_t exampleInvertGetAllocatedGpuMemorySize(opixImageFilterHandle_t handle, uint64_t* bytes);
}
