// The class tree every SDK component derives from.
//
// A component owns one device block (its MemSpace), reads the destination
// buffer of the component before it and writes a destination buffer of its
// own. Init validates, creates the destination buffer and calls Allocate,
// which reserves every sub-buffer (ComputeMemorySize), allocates the block
// once and then runs OnAllocated. Transform allocates nothing.
#pragma once

#include <cstdint>

#include "DeviceSurfaceBuffer.h"
#include "MemSpace.h"
#include "SurfaceLease.h"
#include "opix.h"

namespace opix {

class IAllocatable {
 public:
  virtual void GetAllocatedGpuMemorySize(uint64_t* bytes) const = 0;
  virtual ~IAllocatable() = default;
};

class IAttachable : public virtual IAllocatable {
 public:
  virtual void Attach(opixDeviceSurfaceBufferHandle_t source) = 0;
};

class BaseComponent : public virtual IAllocatable {
 public:
  void GetAllocatedGpuMemorySize(uint64_t* bytes) const override { *bytes = allocatedSize_; }

  // Reserves, allocates the block once and runs OnAllocated.
  virtual void Allocate();
  virtual void ComputeMemorySize() {}
  virtual void OnAllocated() {}

 protected:
  // Places a buffer's pixels in this component's block.
  void reserve(opixDeviceSurfaceBuffer_t& buffer, uint64_t atLeast = 0) {
    reserveSurfaceBuffer(buffer, memSpace_, atLeast);
  }

  MemSpace memSpace_;
  uint64_t allocatedSize_ = 0;
};

class AttachableComponent : public BaseComponent, public virtual IAttachable {
 public:
  // Replaces the source by a buffer of the same max size and format.
  void Attach(opixDeviceSurfaceBufferHandle_t source) override;

 protected:
  // Reads `source` from now on, and keeps the component that owns it alive
  // for as long as it does.
  void holdSource(opixDeviceSurfaceBufferHandle_t source) {
    sourceOwner_ = leases::hold(source);
    source_ = source;
  }

  opixDeviceSurfaceBufferHandle_t source_ = nullptr;

 private:
  SurfaceOwner sourceOwner_;
};

class IDebayer : public virtual IAttachable {
 public:
  virtual void Init(opixSurfaceFormat_t sourceFormat, opixDebayerType_t type, uint32_t maxWidth, uint32_t maxHeight,
                    opixDeviceSurfaceBufferHandle_t source, opixDeviceSurfaceBufferHandle_t* destination) = 0;
  virtual void Transform(opixBayerPattern_t pattern, uint32_t width, uint32_t height) = 0;
  // Before Init: the format of the destination Init makes, where the caller
  // names one (opixDebayerCreateWithDestinationFormat); Init checks it.
  void RequestDestinationFormat(opixSurfaceFormat_t format) {
    requestedFormat_ = format;
    formatRequested_ = true;
  }

 protected:
  opixSurfaceFormat_t requestedFormat_ = OPIX_I8;
  bool formatRequested_ = false;
};

class ISurfaceConverter : public virtual IAttachable {
 public:
  virtual void Init(opixSurfaceConverter_t type, const void* staticParameters, uint32_t maxWidth, uint32_t maxHeight,
                    opixDeviceSurfaceBufferHandle_t source, opixDeviceSurfaceBufferHandle_t* destination) = 0;
  virtual void Transform(const void* parameters, uint32_t width, uint32_t height) = 0;
};

class IImageFilter : public virtual IAttachable {
 public:
  virtual void Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
                    uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                    opixDeviceSurfaceBufferHandle_t* destination) = 0;
  virtual void Transform(const void* parameters, uint32_t width, uint32_t height) = 0;
};

}  // namespace opix
