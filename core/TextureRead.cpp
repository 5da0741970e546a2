#include "TextureRead.h"

namespace opix {

TextureView textureView(device::TextureObject texture) {
  TextureView v{texture, nullptr, 0};
  if (device::backend() == device::Backend::Host) {
    if (const device::HostTexture* t = device::hostTexture(texture)) {
      v.host = t->array->data;
      const device::Extent& e = t->array->extent;
      v.width = static_cast<uint32_t>(e.width);
      v.height = e.height ? static_cast<uint32_t>(e.height) : 1u;
      v.depth = e.depth ? static_cast<uint32_t>(e.depth) : 1u;
    }
  }
  return v;
}

Texture1DU16::~Texture1DU16() { release(); }

void Texture1DU16::release() {
  if (texture_) (void)device::destroyTextureObject(texture_);
  if (array_) (void)device::freeArray(array_);
  texture_ = 0;
  array_ = nullptr;
  entries_ = 0;
}

bool Texture1DU16::create(uint32_t entries) {
  release();
  const device::ChannelFormat format{16, 0, 0, 0, device::ChannelKind::Unsigned};
  if (device::malloc3DArray(&array_, format, device::Extent{entries, 0, 0}) != device::kSuccess) {
    array_ = nullptr;
    return false;
  }
  device::TextureDesc desc;
  desc.filterMode = device::FilterMode::Point;
  desc.readMode = device::ReadMode::ElementType;
  desc.normalizedCoords = false;
  if (device::createTextureObject(&texture_, array_, desc) != device::kSuccess) {
    texture_ = 0;
    release();
    return false;
  }
  entries_ = entries;
  return true;
}

bool Texture1DU16::upload(const uint16_t* host) {
  device::Memcpy3DParms p;
  p.srcPtr = device::PitchedPtr{const_cast<uint16_t*>(host), entries_ * sizeof(uint16_t), entries_, 1};
  p.dstArray = array_;
  p.extent = device::Extent{entries_, 1, 1};
  p.kind = device::CopyKind::HostToDevice;
  return device::memcpy3DAsync(p) == device::kSuccess;
}

Texture3DF32::~Texture3DF32() { release(); }

void Texture3DF32::release() {
  if (texture_) (void)device::destroyTextureObject(texture_);
  if (array_) (void)device::freeArray(array_);
  texture_ = 0;
  array_ = nullptr;
  width_ = height_ = depth_ = 0;
}

bool Texture3DF32::allocate(uint32_t width, uint32_t height, uint32_t depth) {
  release();
  const device::ChannelFormat format{32, 0, 0, 0, device::ChannelKind::Float};
  if (device::malloc3DArray(&array_, format, device::Extent{width, height, depth}) != device::kSuccess) {
    array_ = nullptr;
    return false;
  }
  width_ = width;
  height_ = height;
  depth_ = depth;
  return true;
}

bool Texture3DF32::createTexture() {
  if (!array_ || texture_) return false;
  device::TextureDesc desc;
  for (auto& m : desc.addressMode) m = device::AddressMode::Clamp;
  desc.filterMode = device::FilterMode::Linear;
  desc.readMode = device::ReadMode::ElementType;
  desc.normalizedCoords = false;
  if (device::createTextureObject(&texture_, array_, desc) != device::kSuccess) {
    texture_ = 0;
    return false;
  }
  return true;
}

device::Memcpy3DParms Texture3DF32::uploadParms(const float* host) const {
  device::Memcpy3DParms p;
  p.srcPtr = device::PitchedPtr{const_cast<float*>(host), width_ * sizeof(float), width_, height_};
  p.dstArray = array_;
  p.extent = device::Extent{width_, height_, depth_};
  p.kind = device::CopyKind::HostToDevice;
  return p;
}

bool Texture3DF32::upload(const float* host) {
  return array_ && device::memcpy3DAsync(uploadParms(host)) == device::kSuccess;
}

}  // namespace opix
