// BMP files: 8-bit gray-palette and 24-bit uncompressed, read bottom-up or
// top-down; written as 8-bit gray with an identity palette or 24-bit.
#include <cstring>
#include <string>
#include <vector>

#include "FileIo.h"
#include "ImageFiles.h"

namespace opix {
namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kHeadersBytes = kFileHeaderBytes + kInfoHeaderBytes;

}  // namespace

BmpResult readBmp(const std::string& path, DecodedImage& out) {
  InputFile file(path);
  unsigned char h[kHeadersBytes];
  if (!file.isOpen() || !file.read(h, sizeof h)) return kBmpReadError;
  const uint32_t fileSize = loadLe32(h + 2);
  const uint32_t dataOffset = loadLe32(h + 10);
  const uint32_t infoSize = loadLe32(h + 14);
  const int64_t width = static_cast<int32_t>(loadLe32(h + 18));
  const int64_t signedHeight = static_cast<int32_t>(loadLe32(h + 22));
  const uint32_t bitsPerPixel = loadLe16(h + 28);
  const uint32_t compression = loadLe32(h + 30);
  const uint32_t imageSize = loadLe32(h + 34);
  const uint32_t colorsUsed = loadLe32(h + 46);

  const uint64_t entries = bitsPerPixel < 16 ? (colorsUsed ? colorsUsed : uint64_t{1} << bitsPerPixel) : 0;
  const bool topDown = signedHeight < 0;
  const uint64_t height = static_cast<uint64_t>(topDown ? -signedHeight : signedHeight);

  if (h[0] != 'B' || h[1] != 'M') return kBmpInvalid;
  // Info headers shorter than 40 bytes (OS/2) lay out their fields otherwise.
  if ((bitsPerPixel != 8 && bitsPerPixel != 24) || compression != 0 || width < 1 || infoSize < kInfoHeaderBytes)
    return kBmpUnsupported;
  if (height == 0 || entries > 256) return kBmpInvalid;
  const uint64_t rowBytes = (bitsPerPixel * static_cast<uint64_t>(width) + 31) / 32 * 4;
  const uint64_t pixelBytes = height * rowBytes;
  // The palette follows the info header, whose size differs between versions.
  const uint64_t paletteOffset = kFileHeaderBytes + uint64_t{infoSize};
  if (imageSize != 0 && imageSize < pixelBytes) return kBmpInvalid;
  if (dataOffset < paletteOffset + 4 * entries || fileSize < pixelBytes + kHeadersBytes + 4 * entries)
    return kBmpInvalid;

  const uint32_t channels = bitsPerPixel / 8;
  uint32_t pitch;
  uint64_t bytes;
  if (!hostImageGeometry(static_cast<uint64_t>(width), height, channels, 1, pitch, bytes)) return kBmpReadError;

  unsigned char palette[256 * 4];
  if (!file.seek(paletteOffset) || !file.read(palette, 4 * entries)) return kBmpReadError;
  bool identity = entries == 256;
  for (uint32_t i = 0; i < entries; ++i) {
    const unsigned char* e = palette + 4 * i;
    if (e[0] != e[1] || e[0] != e[2]) return kBmpUnsupported;
    identity = identity && e[0] == i;
  }

  if (!file.seek(dataOffset) || !file.holds(pixelBytes)) return kBmpReadError;
  DecodedImage img;
  img.data = allocatePinned(bytes);
  const uint64_t used = static_cast<uint64_t>(width) * channels;
  for (uint64_t k = 0; k < height; ++k) {
    unsigned char* row = img.data.get() + (topDown ? k : height - 1 - k) * pitch;
    if (!file.read(row, rowBytes)) return kBmpReadError;
    if (channels == 1 && !identity) {
      for (uint64_t x = 0; x < used; ++x) {
        // An index past a short palette names no colour.
        if (row[x] >= entries) return kBmpInvalid;
        row[x] = palette[4 * row[x]];
      }
    }
    std::memset(row + used, 0, pitch - used);
  }
  img.width = static_cast<uint32_t>(width);
  img.height = static_cast<uint32_t>(height);
  img.pitch = pitch;
  img.bits = 8;
  img.channels = channels;
  out = std::move(img);
  return kBmpOk;
}

bool writeBmp(const std::string& path, const void* buffer, uint32_t channels, uint32_t height, uint32_t width,
              uint32_t pitch) {
  if (channels != 1 && channels != 3) return false;
  const uint64_t used = uint64_t{width} * channels;
  const uint64_t rowBytes = (used + 3) / 4 * 4;
  const uint32_t paletteBytes = channels == 1 ? 256 * 4 : 0;
  const uint64_t imageBytes = rowBytes * height;
  const uint64_t fileSize = imageBytes + kHeadersBytes + paletteBytes;
  if (width > INT32_MAX || height > INT32_MAX || fileSize > UINT32_MAX || (used > pitch && height > 0)) return false;

  std::vector<unsigned char> head(kHeadersBytes + paletteBytes, 0);
  unsigned char* h = head.data();
  h[0] = 'B';
  h[1] = 'M';
  storeLe32(h + 2, static_cast<uint32_t>(fileSize));
  storeLe32(h + 10, kHeadersBytes + paletteBytes);
  storeLe32(h + 14, kInfoHeaderBytes);
  storeLe32(h + 18, width);
  storeLe32(h + 22, height);
  storeLe16(h + 26, 1);
  storeLe16(h + 28, 8 * channels);
  storeLe32(h + 34, static_cast<uint32_t>(imageBytes));
  if (channels == 1) {
    storeLe32(h + 46, 256);
    storeLe32(h + 50, 256);
    for (uint32_t i = 0; i < 256; ++i) std::memset(h + kHeadersBytes + 4 * i, static_cast<int>(i), 3);
  }

  OutputFile file(path);
  if (!file.isOpen()) return false;
  bool ok = file.write(head.data(), head.size());
  const unsigned char* src = static_cast<const unsigned char*>(buffer);
  const unsigned char padding[3] = {};
  for (uint32_t r = 0; ok && r < height; ++r)
    ok = file.write(src + uint64_t{height - 1 - r} * pitch, used) && file.write(padding, rowBytes - used);
  return ok && file.commit();
}

}  // namespace opix
