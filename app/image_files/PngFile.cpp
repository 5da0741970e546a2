// PNG files through libpng. Read: a grey mosaic of 8 or 16 bits (colour files
// decode as RGB, which the program refuses as colour input). Written: 8-bit
// samples as they are, deeper ones as 16-bit samples scaled to the full range
// with the true depth in an sBIT chunk.
//
// libpng reports errors by longjmp: every function that calls setjmp keeps
// only trivially destructible objects in its frame, and the owners of the
// libpng structures and of the pixel buffer live in its caller.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "FileIo.h"
#include "ImageFiles.h"

namespace opix {
namespace {

// A deflate stream expands at most 1032 times; a file far too small for the
// image its header declares is refused before the buffer is allocated.
constexpr uint64_t kMaxDeflateRatio = 1032;

// libpng's diagnostics are not part of this program's console output.
void silentError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void silentWarning(png_structp, png_const_charp) {}

struct ReadStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ReadStructs() {
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, silentError, silentWarning);
    if (png) info = png_create_info_struct(png);
  }
  ~ReadStructs() { png_destroy_read_struct(&png, &info, nullptr); }
  ReadStructs(const ReadStructs&) = delete;
  ReadStructs& operator=(const ReadStructs&) = delete;
};

struct WriteStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  WriteStructs() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, silentError, silentWarning);
    if (png) info = png_create_info_struct(png);
  }
  ~WriteStructs() { png_destroy_write_struct(&png, &info); }
  WriteStructs(const WriteStructs&) = delete;
  WriteStructs& operator=(const WriteStructs&) = delete;
};

struct PngHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bits = 0;      // significant bits per sample after the transformations
  uint32_t channels = 0;  // 1 or 3
  uint64_t rowBytes = 0;  // bytes of one decoded row
};

// Reads the header and sets up the transformations to 8-bit or 16-bit
// little-endian grey or RGB samples: palettes expand to RGB, grey below 8
// bits to 8, alpha and 16-bit tRNS are dropped, and a 16-bit image with an
// sBIT chunk of 9 to 15 bits is shifted down to that depth.
bool readHeader(png_structp png, png_infop info, FILE* file, PngHeader& h) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_read_info(png, info);
  const png_byte colorType = png_get_color_type(png, info);
  const png_byte depth = png_get_bit_depth(png, info);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (colorType & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(png);
  // A tRNS chunk describes transparency only; it is not expanded to alpha.
  uint32_t bits = depth < 8 ? 8 : depth;
  png_color_8p significant = nullptr;
  if (depth == 16 && png_get_sBIT(png, info, &significant) == PNG_INFO_sBIT && significant) {
    const png_byte s = (colorType & PNG_COLOR_MASK_COLOR) ? significant->red : significant->gray;
    const bool sameForAll = !(colorType & PNG_COLOR_MASK_COLOR) || (significant->green == s && significant->blue == s);
    if (s > 8 && s < 16 && sameForAll) {
      png_set_shift(png, significant);
      bits = s;
    }
  }
  if (depth == 16) png_set_swap(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  h.width = png_get_image_width(png, info);
  h.height = png_get_image_height(png, info);
  h.channels = png_get_channels(png, info);
  h.bits = bits;
  h.rowBytes = png_get_rowbytes(png, info);
  return true;
}

bool readRows(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  return true;
}

void writeToFile(png_structp png, png_bytep data, size_t length) {
  auto* file = static_cast<OutputFile*>(png_get_io_ptr(png));
  if (!file->write(data, length)) png_error(png, "write failed");
}

void flushNothing(png_structp) {}

bool writeRows(png_structp png, png_infop info, OutputFile* file, const PngHeader& h, png_color_8* significant,
               png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, file, writeToFile, flushNothing);
  png_set_IHDR(png, info, h.width, h.height, h.bits > 8 ? 16 : 8,
               h.channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (significant) png_set_sBIT(png, info, significant);
  png_write_info(png, info);
  if (h.bits > 8) png_set_swap(png);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  return true;
}

// A `bits`-bit sample (9 to 16) scaled to 16 bits by repeating its top bits
// below it, so that the largest value becomes 65535 and a shift right by
// 16 - bits gives the sample back.
inline uint16_t scaleTo16(uint32_t v, uint32_t bits) {
  const uint32_t top = (1u << bits) - 1;
  if (v > top) v = top;
  return static_cast<uint16_t>(v << (16 - bits) | v >> (2 * bits - 16));
}

}  // namespace

bool readPng(const std::string& path, DecodedImage& out) {
  InputFile file(path);
  if (!file.isOpen()) return false;
  ReadStructs s;
  if (!s.info) return false;
  PngHeader h;
  if (!readHeader(s.png, s.info, file.get(), h)) return false;
  if (h.channels != 1 && h.channels != 3) return false;
  uint32_t pitch;
  uint64_t bytes;
  if (!hostImageGeometry(h.width, h.height, h.channels, h.bits > 8 ? 2 : 1, pitch, bytes)) return false;
  if (h.rowBytes > pitch) return false;
  // The rows still to come take at least one byte per 1032 of their data
  // and their filter bytes.
  if (!file.holds((h.rowBytes + 1) * h.height / kMaxDeflateRatio)) return false;

  DecodedImage img;
  img.data = allocatePinned(bytes);
  std::vector<png_bytep> rows(h.height);
  for (uint32_t y = 0; y < h.height; ++y) rows[y] = img.data.get() + uint64_t{y} * pitch;
  if (!readRows(s.png, rows.data())) return false;
  zeroRowPadding(img.data.get(), pitch, h.rowBytes, h.height);
  img.width = h.width;
  img.height = h.height;
  img.pitch = pitch;
  img.bits = h.bits;
  img.channels = h.channels;
  out = std::move(img);
  return true;
}

bool writePng(const std::string& path, const void* buffer, uint32_t width, uint32_t pitch, uint32_t height,
              uint32_t bitsPerChannel, uint32_t channels) {
  if ((channels != 1 && channels != 3) || bitsPerChannel == 0 || bitsPerChannel > 16 || width == 0 || height == 0 ||
      width > PNG_USER_WIDTH_MAX || height > PNG_USER_HEIGHT_MAX)
    return false;
  const bool wide = bitsPerChannel > 8;
  const uint64_t rowBytes = uint64_t{width} * channels * (wide ? 2 : 1);
  if (rowBytes > pitch) return false;

  // libpng takes non-const rows; 8-bit and 16-bit rows go out unchanged,
  // others through one scaled row at a time.
  const bool scaled = wide && bitsPerChannel < 16;
  const unsigned char* src = static_cast<const unsigned char*>(buffer);
  std::vector<unsigned char> scaledImage(scaled ? rowBytes * height : 0);
  std::vector<png_bytep> rows(height);
  for (uint32_t y = 0; y < height; ++y) {
    const unsigned char* row = src + uint64_t{y} * pitch;
    if (scaled) {
      unsigned char* dst = scaledImage.data() + uint64_t{y} * rowBytes;
      for (uint64_t i = 0; i < rowBytes / 2; ++i) {
        uint16_t v;
        std::memcpy(&v, row + 2 * i, 2);
        v = scaleTo16(v, bitsPerChannel);
        std::memcpy(dst + 2 * i, &v, 2);
      }
      row = dst;
    }
    rows[y] = const_cast<png_bytep>(row);
  }

  png_color_8 significant{};
  const png_byte depth = static_cast<png_byte>(bitsPerChannel);
  significant.red = significant.green = significant.blue = significant.gray = depth;

  OutputFile file(path);
  if (!file.isOpen()) return false;
  WriteStructs s;
  if (!s.info) return false;
  PngHeader h;
  h.width = width;
  h.height = height;
  h.bits = bitsPerChannel;
  h.channels = channels;
  if (!writeRows(s.png, s.info, &file, h, wide ? &significant : nullptr, rows.data())) return false;
  return file.commit();
}

}  // namespace opix
