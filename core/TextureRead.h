// Texture reads of the kernels. On the GPU a read is a fetch from a texture
// object; the host backend has no texture unit, so the same read there is our
// own code over the elements the host backend keeps behind the texture's
// array. Every texture read of a kernel goes through these helpers, so both
// drivers of a kernel read the same values.
#pragma once

#include <cstdint>

#include "Hd.h"
#include "device/Device.h"

namespace opix {

// A texture as a kernel reads it.
struct TextureView {
  unsigned long long object;  // the texture object (CUDA backend)
  const unsigned char* host;  // host backend: the array's elements, rows packed
  uint32_t width;             // elements per row
};

// The view of a texture object for the backend in use.
TextureView textureView(device::TextureObject texture);

// Element i of a one-dimensional texture of integer elements, point sampled
// at unnormalised coordinates; indices outside the array clamp to its ends.
template <class T>
OPIX_HD T textureFetch1D(const TextureView& t, int32_t i) {
#if defined(__CUDA_ARCH__)
  return tex1D<T>(t.object, static_cast<float>(i) + 0.5f);
#else
  const int32_t last = static_cast<int32_t>(t.width) - 1;
  const int32_t k = i < 0 ? 0 : (i > last ? last : i);
  return reinterpret_cast<const T*>(t.host)[k];
#endif
}

// A one-dimensional CUDA array of 16-bit unsigned elements and its texture
// object (point sampling, clamp addressing, elements read as they are).
class Texture1DU16 {
 public:
  Texture1DU16() = default;
  ~Texture1DU16();
  Texture1DU16(const Texture1DU16&) = delete;
  Texture1DU16& operator=(const Texture1DU16&) = delete;

  // Allocates `entries` elements and creates the texture object; false when
  // either fails (nothing is then held).
  bool create(uint32_t entries);
  // Copies `entries` host values into the array; false on a failed copy.
  bool upload(const uint16_t* host);
  TextureView view() const { return textureView(texture_); }
  bool valid() const { return texture_ != 0; }

 private:
  void release();

  device::Array array_ = nullptr;
  device::TextureObject texture_ = 0;
  uint32_t entries_ = 0;
};

}  // namespace opix
