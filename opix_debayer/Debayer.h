// The debayer component: a Bayer mosaic in a device surface buffer becomes a
// colour image in a buffer of its own.
//
// Debayer<N> serves every algorithm that works from a padded copy of the
// source (the work image): Transform copies the source into the work image
// with mirrored margins of the algorithm's apron A, then calls Launch, which
// each algorithm implements by starting its kernels. Without pre-operations
// the host drivers are given the source instead and assemble the rows of the
// work image themselves (WorkView::source).
#pragma once

#include <cstdint>

#include "Components.h"
#include "DebayerMath.h"
#include "DeviceSurfaceBuffer.h"
#include "KernelLaunch.h"
#include "MemSpace.h"
#include "PreOperationsMath.h"
#include "opix.h"

namespace opix {

// Apron of each algorithm with a work image.
constexpr int debayerApron(opixDebayerType_t type) {
  return type == OPIX_DFPD ? 6 : type == OPIX_HQLI ? 2 : type == OPIX_MG ? 12 : type == OPIX_L7 ? 3 : 0;
}

// Destination format of a source format; OPIX_UNSUPPORTED_FORMAT for others.
opixSurfaceFormat_t debayerDestinationFormat(opixSurfaceFormat_t source);

// The format of the destination of a debayer whose own is `own`, where the
// caller asks for `requested`: its own, or the layout the export of its own
// delivers (BGR8 for RGB8, the interleaved RGB12 and RGB16 for the planar
// ones); any other is OPIX_UNSUPPORTED_SURFACE.
opixSurfaceFormat_t requestedDestinationFormat(opixSurfaceFormat_t own, opixSurfaceFormat_t requested);

// The part of the pattern shift (sx, sy) that the copy applies, per algorithm
// and bit depth; the kernels take the rest.
struct CopyShift {
  int cx, cy;
};
CopyShift debayerCopyShift(opixDebayerType_t type, opixSurfaceFormat_t source, int sx, int sy);

// A debayer that takes pre-operations (opixDebayerCreateWithPreOperations).
class IPreOperations {
 public:
  virtual ~IPreOperations() = default;
  // Before Init: notes the matrices whose room Init reserves.
  virtual void ReservePreOperations(const opixDebayerPreOperations_t& record) = 0;
  // After Init: checks the record, uploads its matrices, and applies it from
  // the next Transform on (null: no step).
  virtual void SetPreOperations(const opixDebayerPreOperations_t* record) = 0;
};

template <opixDebayerType_t N>
class Debayer : public IDebayer, public AttachableComponent, public IPreOperations {
 public:
  static constexpr int kApron = debayerApron(N);

  void Init(opixSurfaceFormat_t sourceFormat, opixDebayerType_t type, uint32_t maxWidth, uint32_t maxHeight,
            opixDeviceSurfaceBufferHandle_t source, opixDeviceSurfaceBufferHandle_t* destination) override;
  void Transform(opixBayerPattern_t pattern, uint32_t width, uint32_t height) override;
  // Starts the algorithm's kernels on the prepared work image; Transform has
  // checked the pattern.
  virtual void Launch(opixBayerPattern_t pattern, const WorkView& work, const SurfaceView& destination) = 0;

  void ComputeMemorySize() override;
  void ReservePreOperations(const opixDebayerPreOperations_t& record) override;
  void SetPreOperations(const opixDebayerPreOperations_t* record) override;

 protected:
  opixSurfaceFormat_t sourceFormat_ = OPIX_I8;
  uint64_t workSize_ = 0;  // reserved, not written (Init)
  SurfaceBufferPtr destination_;
  // Pre-operations: once set (and with steps), the drivers apply them as
  // they read the source.
  bool withPreOperations_ = false;
  PreOperations pre_;
  bool roomForFactor_ = false, roomForShift_ = false, roomForWideShift_ = false;
  TypedArray<float> factor_;
  TypedArray<uint8_t> shift_;
};

}  // namespace opix
