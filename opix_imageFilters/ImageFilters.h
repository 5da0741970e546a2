// The image filters: one base with the common initialise and transform, and
// the filter classes built so far.
#pragma once

#include <cstdint>

#include "Components.h"
#include "MemSpace.h"
#include "opix.h"
#include "opixDeviceSurfaceBuffer.h"

namespace opix {

class ImageFilterBase : public IImageFilter, public AttachableComponent {
 public:
  void Init(opixSurfaceFormat_t sourceFormat, opixImageFilterType_t type, const void* staticParameters,
            uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
            opixDeviceSurfaceBufferHandle_t* destination) override;
  void Transform(const void* parameters, uint32_t width, uint32_t height) override;
  void ComputeMemorySize() override;
  // Checks a new source of the same geometry, then attaches it.
  void ChangeSourceBuffer(uint32_t maxWidth, uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source);

 protected:
  // The filter's own part: its type, its parameters, its pass.
  virtual bool acceptsType(opixImageFilterType_t type) const = 0;
  virtual void applyParameters(const void* parameters) = 0;  // also traces the record
  virtual const char* notInitialisedMessage() const = 0;
  virtual void run(const SurfaceView& source, const SurfaceView& destination) = 0;

  int maxValue() const;

  opixImageFilterType_t type_ = opixImageFilterType_t(0);
  uint32_t maxWidth_ = 0, maxHeight_ = 0;
  bool parametersSupplied_ = false;
  SurfaceBufferPtr destination_;
};

// SAM and SAM16: per-pixel black shift and gain matrices.
class ImageFilterMad : public ImageFilterBase {
 public:
  // Values per black shift row: the kernel's row stride.
  static uint64_t shiftStride(opixImageFilterType_t type, uint32_t width);

 protected:
  bool acceptsType(opixImageFilterType_t t) const override { return t == OPIX_SAM || t == OPIX_SAM16; }
  void ComputeMemorySize() override;
  void applyParameters(const void* parameters) override;
  const char* notInitialisedMessage() const override;
  void run(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  uint64_t gainOffset_ = 0, shiftOffset_ = 0;
  bool hasGain_ = false, hasShift_ = false;
};

class ImageFilterWhiteBalance : public ImageFilterBase {
 protected:
  bool acceptsType(opixImageFilterType_t t) const override { return t == OPIX_WHITE_BALANCE; }
  void applyParameters(const void* parameters) override;
  const char* notInitialisedMessage() const override { return "White Balance filter is not initialized"; }
  void run(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  opixWhiteBalance_t p_{};
};

class ImageFilterBayerBlackShift : public ImageFilterBase {
 protected:
  bool acceptsType(opixImageFilterType_t t) const override { return t == OPIX_BAYER_BLACK_SHIFT; }
  void applyParameters(const void* parameters) override;
  const char* notInitialisedMessage() const override { return "Bayer Black Shift filter is not initialized"; }
  void run(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  opixBayerBlackShift_t p_{};
};

class ImageFilterBaseColorCorrection : public ImageFilterBase {
 protected:
  bool acceptsType(opixImageFilterType_t t) const override { return t == OPIX_BASE_COLOR_CORRECTION; }
  void ComputeMemorySize() override;
  void applyParameters(const void* parameters) override;
  const char* notInitialisedMessage() const override { return "Base Color Correction filter is not initialized"; }
  void run(const SurfaceView& source, const SurfaceView& destination) override;

 private:
  opixBaseColorCorrection_t p_{};
  TypedArray<float> matrix_;
  TypedArray<int32_t> whiteLevel_;
};

}  // namespace opix
