// PGM and PPM files: binary P5/P6 (16-bit samples most significant byte
// first), their little-endian variants P15/P16 and ASCII P2.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FileIo.h"
#include "ImageFiles.h"

namespace opix {
namespace {

bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(int c) { return c >= '0' && c <= '9'; }

void skipSpace(FILE* f, int& c) {
  do c = getc_unlocked(f);
  while (isSpace(c));
}

// Skips white space and reads an unsigned decimal word of at most `limit`.
// The word must end at white space, which is consumed, or at the end of the
// file.
bool readNumber(FILE* f, uint64_t limit, uint64_t& value) {
  int c;
  skipSpace(f, c);
  if (!isDigit(c)) return false;
  uint64_t v = 0;
  for (; isDigit(c); c = getc_unlocked(f)) {
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > limit) return false;
  }
  if (c != EOF && !isSpace(c)) return false;
  value = v;
  return true;
}

// Bits needed for maxval: 255 -> 8, 256 -> 9, 65535 -> 16.
uint32_t bitsOf(uint64_t maxval) {
  uint32_t bits = 0;
  for (; maxval; maxval >>= 1) ++bits;
  return bits;
}

void swapBytes16(unsigned char* row, uint64_t words) {
  for (uint64_t i = 0; i < words; ++i) {
    uint16_t v;
    std::memcpy(&v, row + 2 * i, 2);
    v = __builtin_bswap16(v);
    std::memcpy(row + 2 * i, &v, 2);
  }
}

}  // namespace

bool readPnm(const std::string& path, DecodedImage& out) {
  InputFile file(path);
  if (!file.isOpen()) {
    std::printf("Failed to open: %s\n", path.c_str());
    return false;
  }
  FILE* f = file.get();

  char magic[4] = {};
  int c;
  skipSpace(f, c);
  for (size_t n = 0; c != EOF && !isSpace(c); c = getc_unlocked(f)) {
    if (n == sizeof magic - 1) {
      magic[0] = '\0';
      break;
    }
    magic[n++] = static_cast<char>(c);
  }
  uint32_t channels;
  bool ascii = false, bigEndian = true;
  if (!std::strcmp(magic, "P2")) {
    channels = 1;
    ascii = true;
  } else if (!std::strcmp(magic, "P5") || !std::strcmp(magic, "P15")) {
    channels = 1;
    bigEndian = magic[1] == '5';
  } else if (!std::strcmp(magic, "P6") || !std::strcmp(magic, "P16")) {
    channels = 3;
    bigEndian = magic[1] == '6';
  } else {
    std::printf("Not supported format\n");
    return false;
  }
  // The character after the magic was consumed above; one comment line may
  // follow it.
  if ((c = getc_unlocked(f)) == '#') {
    while ((c = getc_unlocked(f)) != '\n')
      if (c == EOF) return false;
  } else if (c != EOF) {
    ungetc(c, f);
  }

  uint64_t width, height, maxval;
  if (!readNumber(f, UINT32_MAX, width) || !readNumber(f, UINT32_MAX, height) || !readNumber(f, 65535, maxval) ||
      maxval == 0)
    return false;
  const uint32_t bits = bitsOf(maxval);
  const uint32_t b = (bits + 7) / 8;
  uint32_t pitch;
  uint64_t bytes;
  if (!hostImageGeometry(width, height, channels, b, pitch, bytes)) return false;
  const uint64_t rowBytes = width * channels * b;
  const uint64_t samples = width * height;
  // Every sample needs at least one byte of a binary file, and a digit and a
  // separator (none after the last) in an ASCII one.
  if (!file.holds(ascii ? 2 * samples - 1 : rowBytes * height)) return false;

  DecodedImage img;
  img.data = allocatePinned(bytes);
  unsigned char* const data = img.data.get();
  if (ascii) {
    for (uint64_t r = 0; r < height; ++r) {
      unsigned char* row = data + r * pitch;
      for (uint64_t x = 0; x < width; ++x) {
        uint64_t v;
        if (!readNumber(f, maxval, v)) return false;
        if (b == 1) {
          row[x] = static_cast<unsigned char>(v);
        } else {
          const uint16_t s = static_cast<uint16_t>(v);
          std::memcpy(row + 2 * x, &s, 2);
        }
      }
    }
  } else {
    // Rows are read in runs of about 256 KiB and put in memory order while
    // they are still in the cache. Unpadded rows are contiguous in the file
    // and in the buffer, so a run of them is one read.
    const bool swap = b == 2 && bigEndian;
    const uint64_t runRows = pitch == rowBytes ? std::max<uint64_t>(1, (uint64_t{256} << 10) / rowBytes) : 1;
    for (uint64_t r = 0; r < height; r += runRows) {
      const uint64_t rows = std::min(runRows, height - r);
      unsigned char* run = data + r * pitch;
      if (!file.read(run, rows * rowBytes)) return false;
      if (swap) swapBytes16(run, rows * rowBytes / 2);
    }
  }
  zeroRowPadding(data, pitch, rowBytes, height);
  img.width = static_cast<uint32_t>(width);
  img.height = static_cast<uint32_t>(height);
  img.pitch = pitch;
  img.bits = bits;
  img.channels = channels;
  out = std::move(img);
  return true;
}

bool writePnm(const std::string& path, const void* buffer, uint32_t width, uint32_t pitch, uint32_t height,
              uint32_t bitsPerChannel, uint32_t channels) {
  if ((channels != 1 && channels != 3) || bitsPerChannel == 0 || bitsPerChannel > 16) return false;
  const uint64_t b = (bitsPerChannel + 7) / 8;
  const uint64_t rowBytes = uint64_t{width} * channels * b;
  if (rowBytes > pitch && height > 0) return false;
  OutputFile file(path);
  if (!file.isOpen()) return false;
  const std::string header = std::string(channels == 1 ? "P5\n" : "P6\n") + std::to_string(width) + "\n" +
                             std::to_string(height) + "\n" + std::to_string((1u << bitsPerChannel) - 1) + "\n";
  bool ok = file.write(header);
  const unsigned char* src = static_cast<const unsigned char*>(buffer);
  std::vector<unsigned char> swapped(b == 2 ? rowBytes : 0);
  for (uint32_t r = 0; ok && r < height; ++r) {
    const unsigned char* row = src + uint64_t{r} * pitch;
    if (b == 2) {
      std::memcpy(swapped.data(), row, rowBytes);
      swapBytes16(swapped.data(), rowBytes / 2);
      row = swapped.data();
    }
    ok = file.write(row, rowBytes);
  }
  return ok && file.commit();
}

}  // namespace opix
