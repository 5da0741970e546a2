// Host images: the record every reader fills and every writer takes, with its
// pixel rows in page-locked memory so that import and export copy them
// asynchronously.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "opix.h"

namespace opix {

struct CameraRawInfo;

// Frees page-locked memory obtained through OpixAllocator.
struct PinnedDeleter {
  void operator()(void* p) const noexcept;
};
using PinnedBuffer = std::unique_ptr<unsigned char[], PinnedDeleter>;

// Page-locked memory of `bytes` bytes; throws std::bad_alloc when it cannot
// be had.
PinnedBuffer allocatePinned(uint64_t bytes);

// Largest pixel buffer a reader accepts: a header asking for more is refused
// as malformed before anything is allocated.
constexpr uint64_t kMaxImageBytes = uint64_t{4} << 30;

// Row pitch of a host image: width x channels x bytes per sample rounded up to
// a multiple of 4, in 64-bit arithmetic. Returns false, leaving the outputs
// alone, when a dimension is 0 or the pitch x height buffer exceeds
// kMaxImageBytes.
bool hostImageGeometry(uint64_t width, uint64_t height, uint64_t channels, uint64_t bytesPerSample, uint32_t& pitch,
                       uint64_t& bytes);

// Zeroes the bytes past rowBytes in each of `height` rows of `pitch` bytes,
// so that no uninitialised memory reaches the device or a file.
void zeroRowPadding(unsigned char* rows, uint32_t pitch, uint64_t rowBytes, uint64_t height);

// Surface format of a PNM, TIFF or RAW image from its bits per sample and
// channel count (RAW images have one channel).
opixSurfaceFormat_t formatFromBits(uint32_t bits, uint32_t channels);

struct HostImage {
  std::string inputFileName;
  std::string outputFileName;
  PinnedBuffer data;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t pitch = 0;
  uint32_t bitsPerChannel = 8;
  opixSurfaceFormat_t surfaceFormat = OPIX_I8;
  // A machine-vision frame kept packed (pitch 0: one bit stream), unpacked
  // by the import on the device.
  opixPacking_t packing = OPIX_PACKING_NONE;
  // What a camera raw file said about its mosaic; null for other files.
  std::shared_ptr<const CameraRawInfo> camera;

  HostImage() = default;
  HostImage(HostImage&&) noexcept = default;
  HostImage& operator=(HostImage&&) noexcept = default;
  // Copies go through appendImageCopy, which reports a failed allocation.
  HostImage(const HostImage&) = delete;
  HostImage& operator=(const HostImage&) = delete;
};

// Appends a copy of `image` with a fresh page-locked buffer of pitch x height
// bytes. When the memory cannot be had it prints "Memory allocation failed"
// with the allocator's text and returns OPIX_INSUFFICIENT_HOST_MEMORY; the
// list is then unchanged.
opixStatus_t appendImageCopy(std::vector<HostImage>& list, const HostImage& image);

}  // namespace opix
