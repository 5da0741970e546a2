// TIFF files: read through libtiff (any codec it was built with, strips or
// tiles, either byte order, classic or BigTIFF; 8 or 16 bits per sample,
// contiguous samples, gray palettes), written by our own single-strip
// little-endian writer.
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

// The largest width and height the SDK's components take.
constexpr uint32_t kMaxSide = 65535;

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

// How the samples of a file are to be taken.
enum class Samples { kGray, kRgb, kGrayPalette };

// Sorts a file by its PhotometricInterpretation: colour data of any layout
// is kTiffColor, layouts that are not plain gray or RGB are kTiffUnsupported.
// A palette whose every entry is gray fills `palette` with its levels.
TiffResult classify(TIFF* tif, uint16_t channels, uint16_t bits, Samples& samples, unsigned char* palette) {
  uint16_t photometric;
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
    photometric = channels == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_CFA:
    case kPhotometricLinearRaw:
      if (channels != 1) return photometric == kPhotometricLinearRaw ? kTiffColor : kTiffUnsupported;
      samples = Samples::kGray;
      return kTiffOk;
    case PHOTOMETRIC_RGB: samples = Samples::kRgb; return kTiffOk;
    case PHOTOMETRIC_SEPARATED:
    case PHOTOMETRIC_YCBCR:
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
    case PHOTOMETRIC_LOGLUV: return kTiffColor;
    case PHOTOMETRIC_PALETTE: {
      uint16_t *red, *green, *blue;
      if (channels != 1 || bits == 0 || bits > 16 || !TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue))
        return kTiffUnsupported;
      const uint32_t entries = uint32_t{1} << bits;
      bool eightBitEntries = true;
      for (uint32_t i = 0; i < entries; ++i) {
        if (red[i] != green[i] || red[i] != blue[i]) return kTiffColor;
        eightBitEntries = eightBitEntries && red[i] < 256;
      }
      if (bits != 8) return kTiffUnsupported;
      // Entries are 16-bit levels; some writers store 8-bit levels instead,
      // which read as 16-bit would make the image black.
      for (uint32_t i = 0; i < entries; ++i)
        palette[i] = static_cast<unsigned char>(eightBitEntries ? red[i] : red[i] / 257);
      samples = Samples::kGrayPalette;
      return kTiffOk;
    }
    // Inverted gray and anything else would pass as plain gray.
    default: return kTiffUnsupported;
  }
}

// The most bytes one stored byte of a strip or tile can decode to with each
// codec: generous, far above what real images reach.
uint64_t expansionLimit(uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return 64;
    case COMPRESSION_LZW: return 4096;
    case COMPRESSION_DEFLATE:
    case COMPRESSION_ADOBE_DEFLATE: return 1032;
    case COMPRESSION_JPEG: return 1024;
    default: return 131072;
  }
}

// How the image is cut into strips or tiles.
struct Striles {
  bool tiled = false;
  uint32_t count = 0;
  uint32_t rowsPerStrip = 0;
  uint32_t tileWidth = 0, tileLength = 0;
  uint64_t tileSize = 0, tileRowSize = 0;
};

// Whether the strips or tiles can hold the image, checked before any buffer
// is allocated for it: each must have bytes and lie inside the file, and
// together they must be able to decode to `imageBytes`. Strips may share
// bytes, so what they decode to together is bounded by the bytes the file
// holds, not only strip by strip: a file of a few kilobytes whose strips all
// name the same bytes cannot pass for an image of hundreds of megabytes.
// `decodedSize` gives the full decoded size of strip or tile i. `largest`
// receives the most any one of them can decode to.
template <class DecodedSize>
bool strilesHold(TIFF* tif, uint32_t count, uint64_t imageBytes, uint16_t compression, DecodedSize decodedSize,
                 uint64_t& largest) {
  struct stat st;
  const bool sized = fstat(TIFFFileno(tif), &st) == 0 && S_ISREG(st.st_mode);
  const uint64_t fileSize = sized ? static_cast<uint64_t>(st.st_size) : 0;
  const uint64_t ratio = expansionLimit(compression);
  if (sized && fileSize < (imageBytes + ratio - 1) / ratio) return false;
  uint64_t total = 0;
  largest = 0;
  for (uint32_t i = 0; i < count; ++i) {
    int err = 0;
    const uint64_t offset = TIFFGetStrileOffsetWithErr(tif, i, &err);
    if (err) return false;
    const uint64_t bytes = TIFFGetStrileByteCountWithErr(tif, i, &err);
    if (err || bytes == 0) return false;
    if (sized && (offset > fileSize || bytes > fileSize - offset)) return false;
    const uint64_t decoded = decodedSize(i);
    const uint64_t most = bytes >= (decoded + ratio - 1) / ratio ? decoded : bytes * ratio;
    largest = std::max(largest, most);
    // Kept at most imageBytes before each addition: no overflow.
    total = std::min(total + most, imageBytes);
  }
  return total >= imageBytes;
}

// Checks the strip or tile layout against the image and the file.
bool planStriles(TIFF* tif, uint32_t width, uint32_t height, uint64_t pixelBytes, uint16_t compression, Striles& s) {
  const uint64_t rowBytes = width * pixelBytes;
  const uint64_t imageBytes = rowBytes * height;
  uint64_t largest;
  s.tiled = TIFFIsTiled(tif);
  if (!s.tiled) {
    if (TIFFScanlineSize64(tif) != rowBytes) return false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &s.rowsPerStrip);
    s.rowsPerStrip = std::min(s.rowsPerStrip, height);
    if (s.rowsPerStrip == 0) return false;
    s.count = (height + s.rowsPerStrip - 1) / s.rowsPerStrip;
    const uint32_t rows = s.rowsPerStrip;
    return TIFFNumberOfStrips(tif) == s.count &&
           strilesHold(
               tif, s.count, imageBytes, compression,
               [&](uint32_t i) { return std::min(rows, height - i * rows) * rowBytes; }, largest);
  }
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &s.tileWidth);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &s.tileLength);
  if (s.tileWidth == 0 || s.tileLength == 0 || s.tileWidth > std::max(width, kMaxTileSide) ||
      s.tileLength > std::max(height, kMaxTileSide))
    return false;
  s.tileSize = TIFFTileSize64(tif);
  s.tileRowSize = TIFFTileRowSize64(tif);
  if (s.tileRowSize != s.tileWidth * pixelBytes || s.tileSize != s.tileRowSize * s.tileLength) return false;
  const uint64_t count =
      ((uint64_t{width} + s.tileWidth - 1) / s.tileWidth) * ((uint64_t{height} + s.tileLength - 1) / s.tileLength);
  if (TIFFNumberOfTiles(tif) != count) return false;
  s.count = static_cast<uint32_t>(count);
  const uint64_t tileSize = s.tileSize;
  // The tile buffer, too, must be one that some tile can fill.
  return strilesHold(
             tif, s.count, imageBytes, compression, [&](uint32_t) { return tileSize; }, largest) &&
         largest >= tileSize;
}

bool readStrips(TIFF* tif, const Striles& s, unsigned char* data, uint32_t height, uint32_t pitch, uint64_t rowBytes) {
  // Strips are decoded whole (some codecs cannot stop inside one), straight
  // into the image when its rows are unpadded.
  std::vector<unsigned char> strip;
  if (pitch != rowBytes) strip.resize(static_cast<size_t>(s.rowsPerStrip * rowBytes));
  for (uint32_t i = 0; i < s.count; ++i) {
    const uint64_t first = uint64_t{i} * s.rowsPerStrip;
    const uint64_t rows = std::min<uint64_t>(s.rowsPerStrip, height - first);
    const tmsize_t size = static_cast<tmsize_t>(rows * rowBytes);
    unsigned char* to = strip.empty() ? data + first * pitch : strip.data();
    if (TIFFReadEncodedStrip(tif, i, to, size) != size) return false;
    if (!strip.empty())
      for (uint64_t j = 0; j < rows; ++j)
        std::memcpy(data + (first + j) * pitch, strip.data() + j * rowBytes, rowBytes);
  }
  return true;
}

bool readTiles(TIFF* tif, const Striles& s, unsigned char* data, uint32_t width, uint32_t height, uint32_t pitch,
               uint64_t pixelBytes) {
  std::vector<unsigned char> tile(static_cast<size_t>(s.tileSize));
  for (uint64_t y = 0; y < height; y += s.tileLength) {
    for (uint64_t x = 0; x < width; x += s.tileWidth) {
      if (TIFFReadTile(tif, tile.data(), static_cast<uint32_t>(x), static_cast<uint32_t>(y), 0, 0) !=
          static_cast<tmsize_t>(s.tileSize))
        return false;
      const uint64_t copy = std::min<uint64_t>(width - x, s.tileWidth) * pixelBytes;
      for (uint64_t j = 0; j < s.tileLength && y + j < height; ++j)
        std::memcpy(data + (y + j) * pitch + x * pixelBytes, tile.data() + j * s.tileRowSize, copy);
    }
  }
  return true;
}

}  // namespace

TiffResult readTiff(const std::string& path, DecodedImage& out, uint64_t maxDecodedBytes) {
  TiffHandle t = openQuietly(path);
  if (!t) return kTiffReadError;
  TIFF* tif = t.get();
  const int directories = TIFFNumberOfDirectories(tif);
  if (directories > 1) {
    std::fprintf(stderr, "Number of directories more than 1 (%d)\n", directories);
    return kTiffUnsupported;
  }
  uint32_t width = 0, height = 0;
  uint16_t channels = 0, bits = 0, planar = 0, sampleFormat = 0, compression = 0;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) ||
      !TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &channels) ||
      !TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits) ||
      !TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar) ||
      !TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat) ||
      !TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression))
    return kTiffReadError;
  Samples samples;
  unsigned char palette[256];
  const TiffResult kind = classify(tif, channels, bits, samples, palette);
  if (kind != kTiffOk) return kind;
  // RGB with other than three 8- or 16-bit samples (alpha, floats, planes)
  // is still colour.
  const bool plain = (bits == 8 || bits == 16) && planar == PLANARCONFIG_CONTIG && sampleFormat == SAMPLEFORMAT_UINT;
  if (samples == Samples::kRgb && (channels != 3 || !plain)) return kTiffColor;
  // Packed samples (1 to 7, 10, 12, 14 bits), signed or floating-point
  // samples and separate planes have no host image layout.
  if (!plain || channels != (samples == Samples::kRgb ? 3 : 1)) return kTiffUnsupported;
  if (width > kMaxSide || height > kMaxSide || !TIFFIsCODECConfigured(compression)) return kTiffUnsupported;
  const uint64_t pixelBytes = uint64_t{channels} * (bits / 8);
  uint32_t pitch;
  uint64_t bytes;
  if (!hostImageGeometry(width, height, channels, bits / 8, pitch, bytes)) return kTiffUnsupported;
  const uint64_t rowBytes = width * pixelBytes;
  Striles striles;
  if (!planStriles(tif, width, height, pixelBytes, compression, striles)) return kTiffReadError;
  // Compressed pixels may still expand far beyond the file: up to the
  // caller's limit.
  struct stat st;
  if (compression != COMPRESSION_NONE && rowBytes * height > maxDecodedBytes &&
      (fstat(TIFFFileno(tif), &st) != 0 || rowBytes * height > static_cast<uint64_t>(st.st_size)))
    return kTiffTooLarge;

  DecodedImage img;
  img.data = allocatePinned(bytes);
  unsigned char* data = img.data.get();
  const bool ok = striles.tiled ? readTiles(tif, striles, data, width, height, pitch, pixelBytes)
                                : readStrips(tif, striles, data, height, pitch, rowBytes);
  if (!ok) return kTiffReadError;
  if (samples == Samples::kGrayPalette)
    for (uint64_t r = 0; r < height; ++r)
      for (unsigned char *p = data + r * pitch, *end = p + rowBytes; p != end; ++p) *p = palette[*p];
  zeroRowPadding(data, pitch, rowBytes, height);
  img.width = width;
  img.height = height;
  img.pitch = pitch;
  img.bits = bits;
  img.channels = channels;
  out = std::move(img);
  return kTiffOk;
}

bool writeTiff(const std::string& path, const void* buffer, uint32_t width, uint32_t pitch, uint32_t height,
               uint32_t bytesPerSample, uint32_t channels, uint32_t significantBits) {
  if ((channels != 1 && channels != 3) || (bytesPerSample != 1 && bytesPerSample != 2 && bytesPerSample != 4))
    return false;
  // Samples of fewer bits than their words (12-bit results in 16-bit words)
  // name their largest value, one per channel, in MaxSampleValue and
  // SMaxSampleValue; more than one channel's values follow the directory.
  const bool narrow = significantBits != 0 && significantBits < bytesPerSample * 8 && significantBits <= 16;
  const uint32_t entryCount = narrow ? 10 : 8;
  const uint64_t rowBytes = uint64_t{width} * channels * bytesPerSample;
  const uint64_t imageBytes = rowBytes * height;
  const uint64_t directoryOffset = 8 + imageBytes;
  const uint64_t directoryBytes = 2 + 12 * uint64_t{entryCount} + 4;
  const uint64_t extraOffset = directoryOffset + directoryBytes;
  if (extraOffset + 4 * channels > UINT32_MAX || (rowBytes > pitch && height > 0)) return false;

  unsigned char header[8] = {'I', 'I'};
  storeLe16(header + 2, 42);
  storeLe32(header + 4, static_cast<uint32_t>(directoryOffset));

  enum : uint16_t { kShort = 3, kLong = 4 };
  const uint16_t largest = narrow ? static_cast<uint16_t>((1u << significantBits) - 1) : 0;
  const struct {
    uint16_t tag, type;
    uint32_t count, value;
  } entries[10] = {
      {256, kLong, 1, width},
      {257, kLong, 1, height},
      {258, kShort, 1, bytesPerSample * 8},
      {262, kShort, 1, channels == 3 ? 2u : 32803u},
      {273, kLong, 1, 8},
      {277, kShort, 1, channels},
      {278, kLong, 1, height},
      {279, kLong, 1, static_cast<uint32_t>(imageBytes)},
      // Inline for one channel, else at the extra bytes.
      {281, kShort, channels, channels == 1 ? largest : static_cast<uint32_t>(extraOffset)},
      {341, kShort, channels, channels == 1 ? largest : static_cast<uint32_t>(extraOffset + 2 * channels)},
  };
  unsigned char directory[2 + 12 * 10 + 4] = {};
  unsigned char extra[12] = {};
  storeLe16(directory, static_cast<uint16_t>(entryCount));
  for (uint32_t i = 0; i < entryCount; ++i) {
    unsigned char* e = directory + 2 + 12 * i;
    storeLe16(e, entries[i].tag);
    storeLe16(e + 2, entries[i].type);
    storeLe32(e + 4, entries[i].count);
    // A SHORT value sits in the first two bytes of the value field.
    storeLe32(e + 8, entries[i].value);
  }
  for (uint32_t c = 0; c < 2 * channels; ++c) storeLe16(extra + 2 * c, largest);

  OutputFile file(path);
  if (!file.isOpen()) return false;
  bool ok = file.write(header, sizeof header);
  const unsigned char* src = static_cast<const unsigned char*>(buffer);
  for (uint32_t r = 0; ok && r < height; ++r) ok = file.write(src + uint64_t{r} * pitch, rowBytes);
  ok = ok && file.write(directory, directoryBytes);
  if (narrow && channels > 1) ok = ok && file.write(extra, 4 * channels);
  return ok && file.commit();
}

}  // namespace opix
