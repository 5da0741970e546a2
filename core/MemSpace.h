// Device memory of components: one block per component, carved into pieces
// that start at multiples of 128 bytes, and page-locked host memory. The host
// allocators, which the programs' host images use, are declared in
// opix_internal/opix_program.h and defined in MemSpace.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/Device.h"
#include "opix.h"

namespace opix {

constexpr uint64_t kSubBufferAlignment = 128;

inline uint64_t alignUp(uint64_t bytes, uint64_t alignment) { return (bytes + alignment - 1) / alignment * alignment; }

// One block of device (or page-locked host) memory. Slices keep the address
// of `pointer` and an offset, so they are valid from the moment the block is
// allocated.
class MemSpace {
 public:
  enum class Kind { Device, PinnedHost };

  explicit MemSpace(Kind kind = Kind::Device) : kind_(kind) {}
  ~MemSpace();
  MemSpace(const MemSpace&) = delete;
  MemSpace& operator=(const MemSpace&) = delete;

  // Reserves `bytes` and returns their offset; the next reservation starts at
  // the following multiple of 128.
  uint64_t reserve(uint64_t bytes);
  // Allocates the requested size once; a second call raises OPIX_INTERNAL_ERROR.
  void allocate();
  // Frees the block; a failure raises OPIX_INTERNAL_ERROR.
  void release();

  void** pointerField() { return &pointer_; }
  void* pointer() const { return pointer_; }
  uint64_t requestedSize() const { return requested_; }
  uint64_t allocatedSize() const { return allocated_; }
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
  void* pointer_ = nullptr;
  uint64_t requested_ = 0;
  uint64_t allocated_ = 0;
};

// The address of a slice: the value behind `space` plus `offset`. A null or
// unallocated space raises OPIX_INTERNAL_ERROR.
unsigned char* sliceAddress(void* const* space, uint64_t offset);

// The byte-level work of TypedArray, shared by every element type.
void uploadToSlice(void* const* space, uint64_t offset, uint64_t capacity, const void* host, uint64_t n,
                   size_t elementSize);
void copySliceFromHost(void* const* dstSpace, uint64_t dstOffset, uint64_t dstCount, void* const* srcSpace,
                       uint64_t srcOffset, uint64_t srcCount, size_t elementSize);

// A slice of a memory space holding `count` elements of T.
template <class T>
class TypedArray {
 public:
  // Reserves the array in `space`.
  void place(MemSpace& space, uint64_t count) {
    offset_ = space.reserve(count * sizeof(T));
    space_ = space.pointerField();
    count_ = count;
  }

  T* data() const { return reinterpret_cast<T*>(sliceAddress(space_, offset_)); }
  uint64_t count() const { return count_; }

  // Copies `n` host elements into the array on the SDK stream; more than the
  // capacity raises OPIX_INTERNAL_ERROR before any copy.
  void upload(const T* host, uint64_t n) { uploadToSlice(space_, offset_, count_, host, n, sizeof(T)); }

  // Copies a whole page-locked host array of the same count into this one and
  // waits for the copy, so the host array may be rewritten at once.
  void copyFrom(const TypedArray<T>& hostArray) {
    copySliceFromHost(space_, offset_, count_, hostArray.space_, hostArray.offset_, hostArray.count_, sizeof(T));
  }

 private:
  void* const* space_ = nullptr;
  uint64_t offset_ = 0;
  uint64_t count_ = 0;
};

// A pitched copy on the SDK stream; a failure raises OPIX_EXECUTION_FAILURE.
void copy2D(void* dst, size_t dstPitch, const void* src, size_t srcPitch, size_t rowBytes, size_t rows,
            device::CopyKind kind);
// A linear copy on the SDK stream; a failure raises OPIX_EXECUTION_FAILURE.
void copyAsync(void* dst, const void* src, size_t bytes, device::CopyKind kind);

}  // namespace opix
