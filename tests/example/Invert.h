#pragma once

#include <stdexcept>

#include "Components.h"
#include "opix.h"
#include "KernelLaunch.h"

namespace opix::example {

// A grey-surface inverter built on the component classes of the core.
class Invert : public IImageFilter, public AttachableComponent {
 public:
  void Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
            uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
            opixDeviceSurfaceBufferHandle_t* destination) override;
  void Transform(const void* parameters, uint32_t width, uint32_t height) override;
  void ComputeMemorySize() override;
  ~Invert() override { ++destroyed; }

  static int destroyed;     // components destroyed so far
  static bool failOnInit;   // makes the next Init fail after allocating
  static bool throwForeign; // makes Transform throw a non-SDK exception

 private:
  SurfaceBufferPtr destination_;
};

struct View {
  const unsigned char* src;
  uint32_t srcPitch;
  unsigned char* dst;
  uint32_t dstPitch;
  uint32_t width, height;
  bool wide;  // 16-bit samples
};

OPIX_CUDA_DRIVERS(
void launchInvertCuda(const View& v);
)
void launchInvertHost(const View& v);

}  // namespace opix::example

// The example's interface functions, shaped like every SDK frontend.
extern "C" {
opixStatus_t exampleInvertCreate(opixImageFilterHandle_t* handle, uint32_t maxWidth, uint32_t maxHeight,
                                 opixDeviceSurfaceBufferHandle_t source, opixDeviceSurfaceBufferHandle_t* destination);
opixStatus_t exampleInvertTransform(opixImageFilterHandle_t handle, uint32_t width, uint32_t height);
opixStatus_t exampleInvertDestroy(opixImageFilterHandle_t handle);
opixStatus_t exampleInvertGetAllocatedGpuMemorySize(opixImageFilterHandle_t handle, uint64_t* bytes);
}
