// TIFF files: read through libtiff (strips or tiles, 8 or 16 bits per sample,
// contiguous samples), written by our own single-strip little-endian writer.
#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FileIo.h"
#include "ImageFiles.h"

namespace opix {
namespace {

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// Tiles larger than this in a direction where the image is smaller serve no
// purpose; refusing them bounds the tile buffer of a malformed file.
constexpr uint32_t kMaxTileSide = 4096;

// PhotometricInterpretation of linear raw camera data (DNG).
constexpr uint16_t kPhotometricLinearRaw = 34892;

#if TIFFLIB_VERSION >= 20221213
int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }
#endif

// libtiff's own diagnostics are not part of this program's console output.
TiffHandle openQuietly(const std::string& path) {
  // "m": read with stdio rather than a mapping, which a file truncated
  // under us would turn into SIGBUS.
#if TIFFLIB_VERSION >= 20221213
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
  TiffHandle t(TIFFOpenExt(path.c_str(), "rm", options));
  TIFFOpenOptionsFree(options);
  return t;
#else
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  return TiffHandle(TIFFOpen(path.c_str(), "rm"));
#endif
}

bool photometricFits(TIFF* tif, uint16_t channels) {
  uint16_t photometric;
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return true;
  if (channels == 3) return photometric == PHOTOMETRIC_RGB;
  // Palette indices, inverted gray or colour spaces would pass as plain gray.
  return photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_CFA ||
         photometric == kPhotometricLinearRaw;
}

bool readStrips(TIFF* tif, unsigned char* data, uint32_t height, uint32_t pitch, uint64_t rowBytes) {
  if (TIFFScanlineSize64(tif) != rowBytes) return false;
  for (uint32_t r = 0; r < height; ++r)
    if (TIFFReadScanline(tif, data + uint64_t{r} * pitch, r, 0) < 0) return false;
  return true;
}

bool readTiles(TIFF* tif, unsigned char* data, uint32_t width, uint32_t height, uint32_t pitch, uint64_t pixelBytes) {
  uint32_t tileWidth = 0, tileLength = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
  if (tileWidth == 0 || tileLength == 0 || tileWidth > std::max(width, kMaxTileSide) ||
      tileLength > std::max(height, kMaxTileSide))
    return false;
  const uint64_t tileSize = TIFFTileSize64(tif);
  const uint64_t tileRowSize = TIFFTileRowSize64(tif);
  if (tileRowSize != tileWidth * pixelBytes || tileSize != tileRowSize * tileLength) return false;
  std::vector<unsigned char> tile(static_cast<size_t>(tileSize));
  for (uint64_t y = 0; y < height; y += tileLength) {
    for (uint64_t x = 0; x < width; x += tileWidth) {
      if (TIFFReadTile(tif, tile.data(), static_cast<uint32_t>(x), static_cast<uint32_t>(y), 0, 0) < 0) return false;
      const uint64_t copy = std::min<uint64_t>(width - x, tileWidth) * pixelBytes;
      for (uint64_t j = 0; j < tileLength && y + j < height; ++j)
        std::memcpy(data + (y + j) * pitch + x * pixelBytes, tile.data() + j * tileRowSize, copy);
    }
  }
  return true;
}

}  // namespace

bool readTiff(const std::string& path, DecodedImage& out) {
  TiffHandle t = openQuietly(path);
  if (!t) return false;
  TIFF* tif = t.get();
  const int directories = TIFFNumberOfDirectories(tif);
  if (directories > 1) {
    std::fprintf(stderr, "Number of directories more than 1 (%d)\n", directories);
    return false;
  }
  uint32_t width = 0, height = 0;
  uint16_t channels = 0, bits = 0, planar = 0, sampleFormat = 0, compression = 0;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) ||
      !TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &channels) ||
      !TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits) ||
      !TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar) ||
      !TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat) ||
      !TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression))
    return false;
  // Packed samples (1 to 7, 10, 12, 14 bits) and separate planes would need
  // unpacking or interleaving that host images do not describe.
  if ((bits != 8 && bits != 16) || planar != PLANARCONFIG_CONTIG || sampleFormat != SAMPLEFORMAT_UINT ||
      (channels != 1 && channels != 3) || !photometricFits(tif, channels))
    return false;
  const uint64_t pixelBytes = uint64_t{channels} * (bits / 8);
  uint32_t pitch;
  uint64_t bytes;
  if (!hostImageGeometry(width, height, channels, bits / 8, pitch, bytes)) return false;
  const uint64_t rowBytes = width * pixelBytes;
  struct stat st;
  if (compression == COMPRESSION_NONE && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<uint64_t>(st.st_size) < rowBytes * height)
    return false;

  DecodedImage img;
  img.data = allocatePinned(bytes);
  unsigned char* data = img.data.get();
  const bool ok = TIFFIsTiled(tif) ? readTiles(tif, data, width, height, pitch, pixelBytes)
                                   : readStrips(tif, data, height, pitch, rowBytes);
  if (!ok) return false;
  zeroRowPadding(data, pitch, rowBytes, height);
  img.width = width;
  img.height = height;
  img.pitch = pitch;
  img.bits = bits;
  img.channels = channels;
  out = std::move(img);
  return true;
}

bool writeTiff(const std::string& path, const void* buffer, uint32_t width, uint32_t pitch, uint32_t height,
               uint32_t bytesPerSample, uint32_t channels) {
  if ((channels != 1 && channels != 3) || (bytesPerSample != 1 && bytesPerSample != 2 && bytesPerSample != 4))
    return false;
  constexpr uint32_t kEntries = 8;
  const uint64_t rowBytes = uint64_t{width} * channels * bytesPerSample;
  const uint64_t imageBytes = rowBytes * height;
  const uint64_t directoryOffset = 8 + imageBytes;
  if (directoryOffset + 2 + 12 * kEntries + 4 > UINT32_MAX || (rowBytes > pitch && height > 0)) return false;

  unsigned char header[8] = {'I', 'I'};
  storeLe16(header + 2, 42);
  storeLe32(header + 4, static_cast<uint32_t>(directoryOffset));

  enum : uint16_t { kShort = 3, kLong = 4 };
  const struct {
    uint16_t tag, type;
    uint32_t value;
  } entries[kEntries] = {
      {256, kLong, width},
      {257, kLong, height},
      {258, kShort, bytesPerSample * 8},
      {262, kShort, channels == 3 ? 2u : 32803u},
      {273, kLong, 8},
      {277, kShort, channels},
      {278, kLong, height},
      {279, kLong, static_cast<uint32_t>(imageBytes)},
  };
  unsigned char directory[2 + 12 * kEntries + 4] = {};
  storeLe16(directory, kEntries);
  for (uint32_t i = 0; i < kEntries; ++i) {
    unsigned char* e = directory + 2 + 12 * i;
    storeLe16(e, entries[i].tag);
    storeLe16(e + 2, entries[i].type);
    storeLe32(e + 4, 1);
    // A SHORT value sits in the first two bytes of the value field.
    storeLe32(e + 8, entries[i].value);
  }

  OutputFile file(path);
  if (!file.isOpen()) return false;
  bool ok = file.write(header, sizeof header);
  const unsigned char* src = static_cast<const unsigned char*>(buffer);
  for (uint32_t r = 0; ok && r < height; ++r) ok = file.write(src + uint64_t{r} * pitch, rowBytes);
  return ok && file.write(directory, sizeof directory) && file.commit();
}

}  // namespace opix
