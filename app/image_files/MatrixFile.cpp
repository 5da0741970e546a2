// Matrix A files: "P7", width, height and channels as little-endian 32-bit
// words, then width x channels x height 32-bit floats, top row first.
#include <cstdio>
#include <new>
#include <string>

#include "FileIo.h"
#include "ImageFiles.h"

namespace opix {

opixStatus_t readMatrixA(const std::string& path, HostImage& holder, uint32_t& width, uint32_t& pitch,
                         uint32_t elementSize, uint32_t& height, uint32_t& channels) {
  if (elementSize == 0) return OPIX_INVALID_VALUE;
  InputFile file(path);
  unsigned char h[14];
  if (!file.isOpen() || !file.read(h, sizeof h) || h[0] != 'P' || h[1] != '7') return OPIX_IO_ERROR;
  const uint64_t w = loadLe32(h + 2), rows = loadLe32(h + 6), c = loadLe32(h + 10);
  const uint64_t elements = w * c;
  if (w == 0 || rows == 0 || c == 0 || elements > UINT32_MAX || elements * elementSize > kMaxImageBytes / rows)
    return OPIX_IO_ERROR;
  const uint64_t bytes = elements * elementSize * rows;
  // Every row must be there whole: a partly present row would leave the rest
  // of the matrix undefined.
  if (!file.holds(bytes)) return OPIX_IO_ERROR;

  PinnedBuffer data;
  try {
    data = allocatePinned(bytes);
  } catch (const std::bad_alloc& e) {
    std::fprintf(stderr, "Memory allocation failed: %s\n", e.what());
    return OPIX_INSUFFICIENT_HOST_MEMORY;
  }
  if (!file.read(data.get(), bytes)) return OPIX_IO_ERROR;

  holder.data = std::move(data);
  holder.width = width = static_cast<uint32_t>(w);
  holder.height = height = static_cast<uint32_t>(rows);
  holder.pitch = pitch = static_cast<uint32_t>(elements);
  channels = static_cast<uint32_t>(c);
  return OPIX_OK;
}

}  // namespace opix
