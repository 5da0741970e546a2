#include "TextureRead.h"

namespace opix {

TextureView textureView(device::TextureObject texture) {
  TextureView v{texture, nullptr, 0};
  if (device::backend() == device::Backend::Host) {
    if (const device::HostTexture* t = device::hostTexture(texture)) {
      v.host = t->array->data;
      v.width = static_cast<uint32_t>(t->array->extent.width);
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
  return device::memcpy3D(p) == device::kSuccess;
}

}  // namespace opix
