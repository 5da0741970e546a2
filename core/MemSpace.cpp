#include "MemSpace.h"

#include <new>

#include "StreamGlobal.h"
#include "TraceFile.h"
#include "opixException.h"
#include "opix_internal/opix_program.h"  // OpixAllocator, defined here

#define OPIX_SOURCE "core/MemSpace"

namespace opix {

MemSpace::~MemSpace() {
  try {
    release();
  } catch (const opixException& e) {
    // A destructor cannot report a failure: it goes to the trace and the
    // block is given up.
    trace::text(std::string("MemSpace release failure: ") + opixStatusName(e.status()));
    trace::boundary();
    pointer_ = nullptr;
  }
}

uint64_t MemSpace::reserve(uint64_t bytes) {
  const uint64_t offset = requested_;
  requested_ += alignUp(bytes, kSubBufferAlignment);
  return offset;
}

void MemSpace::allocate() {
  if (pointer_) OPIX_THROW(OPIX_INTERNAL_ERROR);
  if (requested_ == 0) return;
  void* p = nullptr;
  if (requested_ > SIZE_MAX)
    OPIX_THROW(kind_ == Kind::Device ? OPIX_INSUFFICIENT_DEVICE_MEMORY : OPIX_INSUFFICIENT_HOST_MEMORY);
  const size_t bytes = static_cast<size_t>(requested_);
  if (kind_ == Kind::Device) {
    if (device::malloc(&p, bytes) != device::kSuccess || !p) OPIX_THROW(OPIX_INSUFFICIENT_DEVICE_MEMORY);
  } else {
    if (device::mallocHost(&p, bytes) != device::kSuccess || !p) OPIX_THROW(OPIX_INSUFFICIENT_HOST_MEMORY);
  }
  pointer_ = p;
  allocated_ = requested_;
}

void MemSpace::release() {
  if (!pointer_) return;
  void* p = pointer_;
  pointer_ = nullptr;
  const device::Error e = kind_ == Kind::Device ? device::free(p) : device::freeHost(p);
  if (e != device::kSuccess) OPIX_THROW(OPIX_INTERNAL_ERROR);
}

unsigned char* sliceAddress(void* const* space, uint64_t offset) {
  if (!space || !*space) OPIX_THROW(OPIX_INTERNAL_ERROR);
  return static_cast<unsigned char*>(*space) + offset;
}

void uploadToSlice(void* const* space, uint64_t offset, uint64_t capacity, const void* host, uint64_t n,
                   size_t elementSize) {
  if (!space || !*space) OPIX_THROW(OPIX_INTERNAL_ERROR);
  if (n > capacity) OPIX_THROW(OPIX_INTERNAL_ERROR);
  copyAsync(sliceAddress(space, offset), host, static_cast<size_t>(n * elementSize), device::CopyKind::HostToDevice);
}

void copySliceFromHost(void* const* dstSpace, uint64_t dstOffset, uint64_t dstCount, void* const* srcSpace,
                       uint64_t srcOffset, uint64_t srcCount, size_t elementSize) {
  if (!dstSpace || !*dstSpace || !srcSpace || !*srcSpace) OPIX_THROW(OPIX_INTERNAL_ERROR);
  if (dstCount != srcCount) OPIX_THROW(OPIX_INTERNAL_ERROR);
  copyAsync(sliceAddress(dstSpace, dstOffset), sliceAddress(srcSpace, srcOffset),
            static_cast<size_t>(dstCount * elementSize), device::CopyKind::HostToDevice);
  streamSynchronize();
}

void copy2D(void* dst, size_t dstPitch, const void* src, size_t srcPitch, size_t rowBytes, size_t rows,
            device::CopyKind kind) {
  // Each pitch must hold a row even when there is one row only: a host
  // buffer of rows x pitch bytes would otherwise be read or written past its
  // end. The failure is the one of the copy call for several rows.
  if (rows != 0 && rowBytes != 0 && (dstPitch < rowBytes || srcPitch < rowBytes))
    OPIX_THROW_CUDA(OPIX_EXECUTION_FAILURE, device::kErrorInvalidPitchValue, "cudaMemcpy2DAsync");
  const device::Error e = device::memcpy2DAsync(dst, dstPitch, src, srcPitch, rowBytes, rows, kind);
  if (e != device::kSuccess) OPIX_THROW_CUDA(OPIX_EXECUTION_FAILURE, e, "cudaMemcpy2DAsync");
}

void copyAsync(void* dst, const void* src, size_t bytes, device::CopyKind kind) {
  const device::Error e = device::memcpyAsync(dst, src, bytes, kind);
  if (e != device::kSuccess) OPIX_THROW_CUDA(OPIX_EXECUTION_FAILURE, e, "cudaMemcpyAsync");
}

void* OpixAllocator::allocate(size_t bytes) {
  void* p = nullptr;
  if (opixHostMalloc(&p, bytes) != OPIX_OK) throw std::bad_alloc();
  return p;
}

void OpixAllocator::free(void* pointer) {
  if (opixHostFree(pointer) != OPIX_OK) throw std::bad_alloc();
}

}  // namespace opix

extern "C" opixStatus_t opixHostMalloc(void** pointer, size_t size) {
  if (!pointer) return OPIX_INVALID_VALUE;
  if (opix::device::backend() == opix::device::Backend::None) return OPIX_INVALID_DEVICE;
  return opix::device::mallocHost(pointer, size) == opix::device::kSuccess ? OPIX_OK : OPIX_INSUFFICIENT_HOST_MEMORY;
}

extern "C" opixStatus_t opixHostFree(void* pointer) {
  if (!pointer) return OPIX_OK;
  // Before initialisation no pointer can have come from opixHostMalloc.
  if (opix::device::backend() == opix::device::Backend::None) return OPIX_INVALID_DEVICE;
  return opix::device::freeHost(pointer) == opix::device::kSuccess ? OPIX_OK : OPIX_INTERNAL_ERROR;
}
