#include "HostImage.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "opix_internal/opix_program.h"

namespace opix {

void PinnedDeleter::operator()(void* p) const noexcept {
  try {
    OpixAllocator().free(p);
  } catch (const std::bad_alloc&) {
    // A failed release cannot be reported from here; the memory is lost
    // either way.
  }
}

PinnedBuffer allocatePinned(uint64_t bytes) {
  if (bytes > SIZE_MAX) throw std::bad_alloc();
  return PinnedBuffer(static_cast<unsigned char*>(OpixAllocator().allocate(static_cast<size_t>(bytes))));
}

bool hostImageGeometry(uint64_t width, uint64_t height, uint64_t channels, uint64_t bytesPerSample, uint32_t& pitch,
                       uint64_t& bytes) {
  if (width == 0 || height == 0 || channels == 0 || bytesPerSample == 0) return false;
  // Each factor is below 2^32 and channels x bytes below 2^20, so the product
  // cannot wrap before the comparison.
  if (width > UINT32_MAX || height > UINT32_MAX || channels * bytesPerSample > (1u << 20)) return false;
  const uint64_t p = opixRoundUpProduct(width, channels, bytesPerSample, 4);
  if (p > UINT32_MAX || p > kMaxImageBytes / height) return false;
  pitch = static_cast<uint32_t>(p);
  bytes = p * height;
  return true;
}

void zeroRowPadding(unsigned char* rows, uint32_t pitch, uint64_t rowBytes, uint64_t height) {
  if (rowBytes >= pitch) return;
  for (uint64_t r = 0; r < height; ++r) std::memset(rows + r * pitch + rowBytes, 0, pitch - rowBytes);
}

opixSurfaceFormat_t formatFromBits(uint32_t bits, uint32_t channels) {
  const bool gray = channels == 1;
  if (bits <= 8) return gray ? OPIX_I8 : OPIX_RGB8;
  if (bits <= 10) return gray ? OPIX_I10 : OPIX_RGB12;
  if (bits <= 12) return gray ? OPIX_I12 : OPIX_RGB12;
  if (bits <= 14) return gray ? OPIX_I14 : OPIX_RGB16;
  if (bits <= 16) return gray ? OPIX_I16 : OPIX_RGB16;
  return OPIX_I8;
}

opixStatus_t appendImageCopy(std::vector<HostImage>& list, const HostImage& image) {
  try {
    HostImage copy;
    copy.inputFileName = image.inputFileName;
    copy.outputFileName = image.outputFileName;
    const uint64_t bytes = uint64_t{image.pitch} * image.height;
    copy.data = allocatePinned(bytes);
    if (bytes) std::memcpy(copy.data.get(), image.data.get(), bytes);
    copy.width = image.width;
    copy.height = image.height;
    copy.pitch = image.pitch;
    copy.bitsPerChannel = image.bitsPerChannel;
    copy.surfaceFormat = image.surfaceFormat;
    list.push_back(std::move(copy));
  } catch (const std::bad_alloc& e) {
    std::fprintf(stderr, "Memory allocation failed: %s\n", e.what());
    return OPIX_INSUFFICIENT_HOST_MEMORY;
  }
  return OPIX_OK;
}

}  // namespace opix
