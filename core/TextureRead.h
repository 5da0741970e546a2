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
  uint32_t height = 1;        // rows per slice (three-dimensional textures)
  uint32_t depth = 1;         // slices
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

#if !defined(__CUDA_ARCH__)
// One axis of a linear filtered read, as the texture unit does it: the
// coordinate less half an element, the two elements around it clamped to the
// array, and the fraction between them kept with 8 fractional bits (the
// unit's 1.8 fixed-point weights, so a weight of 1 is exact).
struct LinearTaps {
  uint32_t i0, i1;
  float a;  // weight of element i1; element i0 has 1 - a
};

inline LinearTaps linearTaps(float x, uint32_t n) {
  const float last = static_cast<float>(n - 1);
  float b = x - 0.5f;
  // Beyond the ends both elements are the end element: the fraction no
  // longer matters, so it is made 0 (also for coordinates past int range).
  if (!(b > 0.0f)) b = 0.0f;
  if (b > last) b = last;
  // b and the scaled fraction are not negative: truncation is the floor.
  const auto i = static_cast<uint32_t>(b);
  const float f = static_cast<float>(i);
  const float a = static_cast<float>(static_cast<uint32_t>((b - f) * 256.0f + 0.5f)) * (1.0f / 256.0f);
  return {i, i + 1 < n ? i + 1 : i, a};
}

// linearTaps's values through selects, for host rows that vectorise: once
// clamped, the coordinate lies in [0, n - 1] (n below 2^31), so its
// truncation to int is the unsigned truncation.
inline void linearTapsSelect(float x, uint32_t n, int& i0, int& i1, float& a) {
  const float last = static_cast<float>(n - 1);
  const float d = x - 0.5f;
  const float low = d > 0.0f ? d : 0.0f;
  const float b = low > last ? last : low;
  const int i = static_cast<int>(b);
  const float f = static_cast<float>(i);
  a = static_cast<float>(static_cast<int>((b - f) * 256.0f + 0.5f)) * (1.0f / 256.0f);
  i0 = i;
  i1 = i + 1 < static_cast<int>(n) ? i + 1 : i;
}
#endif

// A three-dimensional texture of float elements read with linear filtering
// at unnormalised coordinates (x, y, z), element (i, j, k) centred at
// (i + 0.5, j + 0.5, k + 0.5); coordinates outside the array clamp to its
// faces. The host code weighs the eight elements around the point exactly
// as the texture unit does, x first, then y, then z.
#if !defined(__CUDA_ARCH__)
struct LinearTaps3D {
  LinearTaps x, y, z;
  size_t row, slice;  // elements between rows and between slices
};

inline LinearTaps3D linearTaps3D(const TextureView& t, float x, float y, float z) {
  return {linearTaps(x, t.width), linearTaps(y, t.height), linearTaps(z, t.depth), t.width, size_t{t.width} * t.height};
}

// The read at prepared taps; textures of the same extent share them.
inline float textureLinear3D(const TextureView& t, const LinearTaps3D& p) {
  const auto* e = reinterpret_cast<const float*>(t.host);
  auto lerpX = [&](uint32_t j, uint32_t k) {
    const float* r = e + k * p.slice + j * p.row;
    return (1.0f - p.x.a) * r[p.x.i0] + p.x.a * r[p.x.i1];
  };
  auto lerpY = [&](uint32_t k) { return (1.0f - p.y.a) * lerpX(p.y.i0, k) + p.y.a * lerpX(p.y.i1, k); };
  return (1.0f - p.z.a) * lerpY(p.z.i0) + p.z.a * lerpY(p.z.i1);
}
#endif

OPIX_HD float textureLinear3D(const TextureView& t, float x, float y, float z) {
#if defined(__CUDA_ARCH__)
  return tex3D<float>(t.object, x, y, z);
#else
  return textureLinear3D(t, linearTaps3D(t, x, y, z));
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
  // Copies `entries` host values into the array on the SDK stream; false on a
  // failed copy. The values must stay as they are until the stream has run it.
  bool upload(const uint16_t* host);
  TextureView view() const { return textureView(texture_); }
  bool valid() const { return texture_ != 0; }

 private:
  void release();

  device::Array array_ = nullptr;
  device::TextureObject texture_ = 0;
  uint32_t entries_ = 0;
};

// A three-dimensional CUDA array of 32-bit float elements and its texture
// object (linear filtering, clamp addressing on every axis, elements read as
// they are, unnormalised coordinates).
class Texture3DF32 {
 public:
  Texture3DF32() = default;
  ~Texture3DF32();
  Texture3DF32(const Texture3DF32&) = delete;
  Texture3DF32& operator=(const Texture3DF32&) = delete;

  // Allocates the array, width x height x depth elements (each at least 1);
  // false when that fails (nothing is then held).
  bool allocate(uint32_t width, uint32_t height, uint32_t depth);
  // Creates the texture object over the allocated array; false on failure.
  bool createTexture();
  // Copies a whole array's worth of host elements, rows packed, on the SDK
  // stream; false on a failed copy. The elements must stay as they are until
  // the stream has run it.
  bool upload(const float* host);
  // The description of that copy.
  device::Memcpy3DParms uploadParms(const float* host) const;
  TextureView view() const { return textureView(texture_); }
  bool allocated() const { return array_ != nullptr; }
  bool textured() const { return texture_ != 0; }

 private:
  void release();

  device::Array array_ = nullptr;
  device::TextureObject texture_ = 0;
  uint32_t width_ = 0, height_ = 0, depth_ = 0;
};

}  // namespace opix
