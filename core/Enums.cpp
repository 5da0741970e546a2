// Names and size rules of the SDK's enumerations.
#include "DeviceSurfaceBuffer.h"  // isPlanar
#include "opix.h"

namespace {

const char* const kStatusNames[] = {
    "OPIX_OK",
    "other",
    "OPIX_INVALID_DEVICE",
    "OPIX_INCOMPATIBLE_DEVICE",
    "OPIX_INSUFFICIENT_DEVICE_MEMORY",
    "OPIX_INSUFFICIENT_HOST_MEMORY",
    "OPIX_INVALID_HANDLE",
    "OPIX_INVALID_VALUE",
    "OPIX_UNAPPLICABLE_OPERATION",
    "OPIX_INVALID_SIZE",
    "OPIX_UNALIGNED_DATA",
    "OPIX_INVALID_TABLE",
    "OPIX_BITSTREAM_CORRUPT",
    "OPIX_EXECUTION_FAILURE",
    "OPIX_INTERNAL_ERROR",
    "OPIX_UNSUPPORTED_SURFACE",
    "OPIX_IO_ERROR",
    "OPIX_INVALID_FORMAT",
    "OPIX_UNSUPPORTED_FORMAT",
    "OPIX_END_OF_STREAM",
    "OPIX_CHILD_PROCESS_ERROR",
    "OPIX_TIMEOUT",
    "OPIX_OPEN_FILE_ERROR",
    "OPIX_UNRECOGNIZED_ERROR",
};

template <class T, unsigned N>
const char* lookup(const char* const (&table)[N], T value, const char* fallback) {
  const long v = static_cast<long>(value);
  return v >= 0 && v < static_cast<long>(N) ? table[v] : fallback;
}

struct FormatInfo {
  const char* name;
  uint32_t channels;
  uint32_t bits;
  float bytesPerElement;
};

const FormatInfo kFormats[] = {
    {"I8", 1, 8, 1.0f},     {"I10", 1, 10, 2.0f},   {"I12", 1, 12, 2.0f},   {"I14", 1, 14, 2.0f},
    {"I16", 1, 16, 2.0f},   {"RGB8", 3, 8, 1.0f},   {"BGR8", 3, 8, 1.0f},   {"RGB12", 3, 12, 2.0f},
    {"RGB16", 3, 16, 2.0f}, {"Other", 4, 8, 1.0f},  {"CrCbY", 3, 8, 1.0f},  {"YCbCr", 3, 8, 1.0f},
    {"Other", 3, 32, 4.0f}, {"Other", 3, 12, 2.0f}, {"Other", 3, 16, 2.0f},
};

const FormatInfo* formatInfo(opixSurfaceFormat_t f) {
  const int v = static_cast<int>(f);
  return v >= 0 && v < static_cast<int>(sizeof kFormats / sizeof kFormats[0]) ? &kFormats[v] : nullptr;
}

uint64_t round4(uint64_t x) { return (x + 3) & ~uint64_t{3}; }

}  // namespace

extern "C" {

const char* opixStatusName(int status) { return lookup(kStatusNames, status, "other"); }

const char* opixSurfaceFormatName(opixSurfaceFormat_t format) {
  const FormatInfo* info = formatInfo(format);
  return info ? info->name : "Other";
}

const char* opixBayerPatternName(opixBayerPattern_t pattern) {
  static const char* const names[] = {"none", "RGGB", "BGGR", "GBRG", "GRBG"};
  return lookup(names, pattern, "Other");
}

const char* opixDebayerTypeName(opixDebayerType_t type) {
  static const char* const names[] = {"DFPD", "HQLI", "MG", "Other", "Other", "Other", "Other", "Other", "L7", "AMAZE"};
  return lookup(names, type, "Other");
}

const char* opixOperationTypeName(opixColorSaturationOperationType_t op) {
  static const char* const names[] = {"OPIX_OP_REPLACE", "OPIX_OP_ADD", "OPIX_OP_MULTIPLY"};
  return lookup(names, op, "Other");
}

const char* opixBinningModeName(opixBinningMode_t mode) {
  static const char* const names[] = {"none", "sum", "average"};
  return lookup(names, mode, "Other");
}

const char* opixConvertTypeName(opixConvertType_t convert) {
  static const char* const names[] = {"none", "BGR"};
  return lookup(names, convert, "Other");
}

uint32_t opixRowBytes(opixSurfaceFormat_t format, uint32_t width) {
  const uint64_t w = width;
  uint64_t bytes = 0;
  switch (format) {
    case OPIX_I8: bytes = round4(w); break;
    case OPIX_I10:
    case OPIX_I12:
    case OPIX_I14:
    case OPIX_I16:
    case OPIX_RGB12_PLANAR:
    case OPIX_RGB16_PLANAR: bytes = round4(2 * w); break;
    case OPIX_RGB8:
    case OPIX_BGR8:
    case OPIX_CrCbY:
    case OPIX_YCbCr: bytes = round4(3 * w); break;
    case OPIX_RGB12:
    case OPIX_RGB16: bytes = round4(6 * w); break;
    case OPIX_BGRX8: bytes = 4 * w; break;
    case OPIX_RGB32: bytes = 12 * w; break;
    default: return 0;
  }
  // Widths above 2^32 / 12 do not fit the 32-bit row size; no component accepts them.
  return bytes > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes);
}

uint64_t opixImageSize(opixSurfaceFormat_t format, uint32_t width, uint32_t height) {
  const uint64_t rows = opixRowBytes(format, width);
  const uint64_t planes = opix::isPlanar(format) ? 3 : 1;
  return planes * rows * height;
}

uint64_t opixRoundUpProduct(uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
  const uint64_t p = a * b * c;
  return d == 0 ? p : p + (d - p % d) % d;
}

uint32_t opixFormatChannels(opixSurfaceFormat_t format) {
  const FormatInfo* info = formatInfo(format);
  return info ? info->channels : 0;
}

uint32_t opixFormatBits(opixSurfaceFormat_t format) {
  const FormatInfo* info = formatInfo(format);
  return info ? info->bits : 0;
}

float opixFormatBytesPerElement(opixSurfaceFormat_t format) {
  const FormatInfo* info = formatInfo(format);
  return info ? info->bytesPerElement : 0.0f;
}

}  // extern "C"
