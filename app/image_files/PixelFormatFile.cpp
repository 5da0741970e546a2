// Machine-vision frames: headerless files in the pixel formats cameras
// report. Packed samples stay packed here; import from host unpacks them on
// the device.
#include <cstring>

#include "CameraFiles.h"
#include "FileIo.h"

namespace opix {

namespace {

struct Family {
  const char* prefix;
  opixBayerPattern_t pattern;
};

const Family kFamilies[] = {{"Mono", OPIX_BAYER_NONE},
                            {"BayerRG", OPIX_BAYER_RGGB},
                            {"BayerGR", OPIX_BAYER_GRBG},
                            {"BayerGB", OPIX_BAYER_GBRG},
                            {"BayerBG", OPIX_BAYER_BGGR}};

struct Depth {
  const char* suffix;
  opixPacking_t packing;
  uint32_t bits;
};

const Depth kDepths[] = {{"8", OPIX_PACKING_NONE, 8},     {"10p", OPIX_PACKING_10P, 10},
                         {"12p", OPIX_PACKING_12P, 12},   {"12Packed", OPIX_PACKING_12_PACKED, 12},
                         {"10", OPIX_PACKING_16_LOW, 10}, {"12", OPIX_PACKING_16_LOW, 12},
                         {"14", OPIX_PACKING_16_LOW, 14}, {"16", OPIX_PACKING_16_LOW, 16}};

std::vector<PixelFormat> buildTable(bool msb) {
  static std::vector<std::string> names;
  std::vector<PixelFormat> table;
  if (names.empty())
    for (const Family& f : kFamilies)
      for (const Depth& d : kDepths) names.push_back(std::string(f.prefix) + d.suffix);
  size_t i = 0;
  for (const Family& f : kFamilies)
    for (const Depth& d : kDepths) {
      opixPacking_t packing = d.packing;
      if (msb && packing == OPIX_PACKING_16_LOW) packing = OPIX_PACKING_16_HIGH;
      table.push_back({names[i++].c_str(), packing, d.bits, f.pattern});
    }
  return table;
}

const std::vector<PixelFormat>& table(bool msb) {
  static const std::vector<PixelFormat> low = buildTable(false), high = buildTable(true);
  return msb ? high : low;
}

}  // namespace

const PixelFormat* findPixelFormat(const char* name, bool msb) {
  if (!name) return nullptr;
  for (const PixelFormat& f : table(msb))
    if (std::strcmp(f.name, name) == 0) return &f;
  return nullptr;
}

std::string pixelFormatNames() {
  std::string s;
  for (const PixelFormat& f : table(false)) s += (s.empty() ? "" : ", ") + std::string(f.name);
  return s;
}

uint64_t pixelFormatFrameBytes(const PixelFormat& format, uint32_t width, uint32_t height) {
  const uint64_t bitsPerSample = format.packing == OPIX_PACKING_NONE        ? 8
                                 : format.packing == OPIX_PACKING_10P       ? 10
                                 : format.packing == OPIX_PACKING_12P       ? 12
                                 : format.packing == OPIX_PACKING_12_PACKED ? 12
                                                                            : 16;
  return (uint64_t{width} * height * bitsPerSample + 7) / 8;
}

bool readPixelFormatFrame(const std::string& path, const PixelFormat& format, uint32_t width, uint32_t height,
                          DecodedImage& out, std::string& why) {
  if (width == 0 || height == 0) {
    why = "a " + std::string(format.name) + " frame needs its size (-w and -h)";
    return false;
  }
  const uint64_t bytes = pixelFormatFrameBytes(format, width, height);
  if (bytes > kMaxImageBytes) {
    why = "frame too large";
    return false;
  }
  InputFile f(path);
  if (!f.isOpen()) {
    why = "cannot be read";
    return false;
  }
  // The file must hold exactly one frame: a longer one is another layout or
  // another size, a shorter one a truncated frame.
  uint64_t size = 0;
  if (std::fseek(f.get(), 0, SEEK_END) == 0) {
    const long end = std::ftell(f.get());
    size = end < 0 ? 0 : static_cast<uint64_t>(end);
  }
  if (size != bytes || !f.seek(0)) {
    why = std::to_string(size) + " bytes, but a " + std::to_string(width) + "x" + std::to_string(height) + " " +
          format.name + " frame has " + std::to_string(bytes);
    return false;
  }
  DecodedImage img;
  // Whole words, the tail zeroed: the device copy reads no byte the file
  // did not give.
  const uint64_t stored = (bytes + 3) / 4 * 4;
  img.data = allocatePinned(stored);
  std::memset(img.data.get() + bytes, 0, stored - bytes);
  if (!f.read(img.data.get(), bytes)) {
    why = "read failed";
    return false;
  }
  img.width = width;
  img.height = height;
  // Unpacked 8-bit rows lie one byte a sample; packed frames are one bit
  // stream (pitch 0 for the import).
  img.pitch = format.packing == OPIX_PACKING_NONE ? width : 0;
  img.bits = format.bits;
  img.channels = 1;
  out = std::move(img);
  return true;
}

}  // namespace opix
