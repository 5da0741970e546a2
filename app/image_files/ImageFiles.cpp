// File-type rules and the image reader and writer dispatch.
#include "ImageFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "CameraFiles.h"
#include "FileIo.h"
#include "opix_internal/opix_program.h"

namespace opix {

bool hasExtension(const std::string& name, const char* extension) {
  const size_t dot = name.find_last_of('.');
  const char* tail = name.c_str() + (dot == std::string::npos ? 0 : dot);
  for (;; ++tail, ++extension) {
    if (std::tolower(static_cast<unsigned char>(*tail)) != static_cast<unsigned char>(*extension)) return false;
    if (*tail == '\0') return true;
  }
}

namespace {

bool hasAnyExtension(const std::string& name, std::initializer_list<const char*> extensions) {
  for (const char* e : extensions)
    if (hasExtension(name, e)) return true;
  return false;
}

}  // namespace

namespace {

// The writer names a PNM result by its channels (.ppm or .pgm) and has no
// ".ppm16": a 16-bit result goes to a .ppm or .tif file.
const std::initializer_list<const char*> kColorOutputExtensions = {".bmp", ".ppm", ".tif", ".tiff", ".png"};
const std::initializer_list<const char*> kGrayInputExtensions = {".bmp", ".pgm",  ".pgm16", ".raw",
                                                                 ".tif", ".tiff", ".png"};

}  // namespace

std::string extensionList(int kind) {
  std::string list;
  for (const char* e : kind == kFileColorOutput ? kColorOutputExtensions : kGrayInputExtensions)
    list += (list.empty() ? "" : "/") + std::string(e + 1);
  return list;
}

bool isFileType(const std::string& name, int kind) {
  switch (kind) {
    case kFileAnyImage:
    case kFileAnyImage2: return hasAnyExtension(name, {".bmp", ".ppm", ".pgm", ".tif", ".tiff", ".png"});
    case kFileColorOutput: return hasAnyExtension(name, kColorOutputExtensions);
    case kFileGrayInput: return hasAnyExtension(name, kGrayInputExtensions) || isCameraRawName(name);
    case kFileBmp: return hasExtension(name, ".bmp");
    case kFileJpeg: return hasAnyExtension(name, {".jpg", ".jpeg", ".jfif"});
    case kFileJpeg2000: return hasAnyExtension(name, {".jp2", ".j2k"});
    case kFileAvi: return hasExtension(name, ".avi");
    case kFileMp4: return hasExtension(name, ".mp4");
    case kFileMxf: return hasExtension(name, ".mxf");
    case kFileYv12: return hasExtension(name, ".yv12");
    case kFileSdi: return hasExtension(name, ".sdi");
    default: return false;
  }
}

bool readRaw(const std::string& path, uint32_t width, uint32_t height, uint32_t bits, DecodedImage& out) {
  if (bits == 0 || bits > 16) return false;
  const uint64_t bytesPerSample = bits <= 8 ? 1 : 2;
  const uint64_t pitch = width * bytesPerSample;
  const uint64_t bytes = pitch * height;
  if (width == 0 || height == 0 || bytes > kMaxImageBytes || pitch > UINT32_MAX) return false;
  InputFile f(path);
  if (!f.isOpen() || !f.holds(bytes)) return false;
  DecodedImage img;
  img.data = allocatePinned(bytes);
  if (!f.read(img.data.get(), bytes)) return false;
  img.width = width;
  img.height = height;
  img.pitch = static_cast<uint32_t>(pitch);
  img.bits = bits;
  img.channels = 1;
  out = std::move(img);
  return true;
}

namespace {

opixStatus_t unappropriateFormat(opixStatus_t status) {
  std::fputs("Input file has unappropriate format\n", stderr);
  return status;
}

// A 9- to 15-bit gray image keeps its samples in 16-bit words; one above its
// depth (16-bit data read as 12-bit RAW, a PGM sample above its maxval's
// bits) would be taken for a brighter or wrapped value by every later stage.
bool samplesFitDepth(const DecodedImage& d) {
  if (d.channels != 1 || d.bits <= 8 || d.bits >= 16) return true;
  const uint16_t limit = static_cast<uint16_t>((1u << d.bits) - 1);
  for (uint64_t y = 0; y < d.height; ++y) {
    const unsigned char* row = d.data.get() + y * d.pitch;
    uint16_t largest = 0;
    for (uint64_t x = 0; x < d.width; ++x) {
      uint16_t v;
      std::memcpy(&v, row + 2 * x, 2);
      largest = v > largest ? v : largest;
    }
    if (largest > limit) return false;
  }
  return true;
}

// A RAW file has no header: its size is all that can tell -w, -h or -bits
// wrong (a 16-bit file read as 8-bit gives garbage of the right size for a
// frame twice as wide). A regular file must hold exactly one frame.
bool rawSizeMatches(const std::string& path, uint32_t width, uint32_t height, uint32_t bits) {
  struct stat st {};
  if (bits == 0 || bits > 16 || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
  const uint32_t bytesPerSample = bits <= 8 ? 1 : 2;
  const uint64_t expected = uint64_t{width} * height * bytesPerSample;
  // A size no frame can have is the reader's to refuse.
  if (expected == 0 || expected > kMaxImageBytes || uint64_t(st.st_size) == expected) return true;
  std::fprintf(stderr, "RAW file %s: expected %llu bytes (%u x %u samples of %u bits, %u byte%s each), got %llu\n",
               path.c_str(), static_cast<unsigned long long>(expected), width, height, bits, bytesPerSample,
               bytesPerSample == 1 ? "" : "s", static_cast<unsigned long long>(st.st_size));
  return false;
}

opixStatus_t readImageFile(const std::string& inputName, const std::string& outputName, HostImage& image,
                           uint32_t height, uint32_t width, uint32_t rawBits) {
  if (access(inputName.c_str(), R_OK) != 0) {
    std::fputs("Can not open input file\n", stderr);
    return OPIX_IO_ERROR;
  }
  DecodedImage d;
  opixSurfaceFormat_t format;
  try {
    if (hasExtension(inputName, ".bmp") || hasExtension(inputName, ".dib")) {
      switch (readBmp(inputName, d)) {
        case kBmpOk: break;
        case kBmpInvalid: return unappropriateFormat(OPIX_INVALID_FORMAT);
        case kBmpUnsupported: return unappropriateFormat(OPIX_UNSUPPORTED_FORMAT);
        default: return unappropriateFormat(OPIX_IO_ERROR);
      }
      format = d.channels == 1 ? OPIX_I8 : OPIX_BGR8;
    } else if (hasAnyExtension(inputName, {".pgm", ".pgm16", ".ppm", ".ppm16"})) {
      if (!readPnm(inputName, d)) return unappropriateFormat(OPIX_IO_ERROR);
      format = formatFromBits(d.bits, d.channels);
    } else if (hasAnyExtension(inputName, {".tif", ".tiff"})) {
      switch (readTiff(inputName, d)) {
        case kTiffOk: break;
        case kTiffUnsupported: return unappropriateFormat(OPIX_UNSUPPORTED_FORMAT);
        case kTiffTooLarge:
          std::fprintf(stderr, "Input file's compressed pixels decode to more than %llu MB\n",
                       static_cast<unsigned long long>(kMaxTiffDecodedBytes >> 20));
          return OPIX_INVALID_SIZE;
        case kTiffColor:
          // The message and status of a colour image that was read.
          std::fputs("Input file must not be color\n", stderr);
          return OPIX_IO_ERROR;
        default: return unappropriateFormat(OPIX_IO_ERROR);
      }
      format = formatFromBits(d.bits, d.channels);
    } else if (hasExtension(inputName, ".png")) {
      if (!readPng(inputName, d)) return unappropriateFormat(OPIX_IO_ERROR);
      format = formatFromBits(d.bits, d.channels);
    } else if (hasExtension(inputName, ".raw")) {
      if (!rawSizeMatches(inputName, width, height, rawBits)) return OPIX_INVALID_SIZE;
      if (!readRaw(inputName, width, height, rawBits, d)) return unappropriateFormat(OPIX_IO_ERROR);
      format = formatFromBits(d.bits, 1);
    } else {
      std::fputs("Input file has inappropriate extension\n", stderr);
      return OPIX_UNSUPPORTED_FORMAT;
    }
  } catch (const std::bad_alloc&) {
    return OPIX_INSUFFICIENT_HOST_MEMORY;
  }
  if (!samplesFitDepth(d)) {
    std::fprintf(stderr, "Input file has sample values above %u bits\n", d.bits);
    return OPIX_INVALID_FORMAT;
  }
  image.inputFileName = inputName;
  image.outputFileName = outputName;
  image.data = std::move(d.data);
  image.width = d.width;
  image.height = d.height;
  image.pitch = d.pitch;
  image.surfaceFormat = format;
  image.bitsPerChannel = opixFormatBits(format);
  return OPIX_OK;
}

// Turns the extension letter at `index` past the last dot into `letter`,
// keeping the case the name had.
void replaceExtensionLetter(std::string& name, size_t index, char letter) {
  char& c = name[name.find_last_of('.') + index];
  c = std::isupper(static_cast<unsigned char>(c)) ? static_cast<char>(std::toupper(letter)) : letter;
}

}  // namespace

opixStatus_t readImage(const std::string& inputName, const std::string& outputName, HostImage& image, uint32_t height,
                       uint32_t width, uint32_t bits) {
  return readImageFile(inputName, outputName, image, height, width, bits);
}

opixStatus_t readImage(const std::string& inputName, const std::string& outputName, HostImage& image, uint32_t height,
                       uint32_t width) {
  return readImageFile(inputName, outputName, image, height, width, 8);
}

opixStatus_t writeImage(std::string& outputName, const void* buffer, opixSurfaceFormat_t format, uint32_t height,
                        uint32_t width, uint32_t pitch) {
  const uint32_t channels = opixFormatChannels(format);
  const uint32_t bytes = static_cast<uint32_t>(opixFormatBytesPerElement(format));
  // Planar formats keep each channel in its own plane, which none of the
  // interleaved file layouts below can take as it is.
  const bool interleaved = !isPlanar(format);
  bool written;
  if (hasExtension(outputName, ".bmp")) {
    if (bytes == 2) {
      std::fputs("BMP file is not support two byte per channel format.\n", stderr);
      return OPIX_UNSUPPORTED_FORMAT;
    }
    written = interleaved && bytes == 1 && writeBmp(outputName, buffer, channels, height, width, pitch);
  } else if (hasExtension(outputName, ".pgm") || hasExtension(outputName, ".ppm")) {
    if (hasExtension(outputName, ".pgm") && channels != 1) {
      std::fputs("Unappropriate output file format. Set to PPM\n", stderr);
      replaceExtensionLetter(outputName, 2, 'p');
    } else if (hasExtension(outputName, ".ppm") && channels == 1) {
      std::fputs("Unappropriate output file format. Set to PGM\n", stderr);
      replaceExtensionLetter(outputName, 2, 'g');
    }
    written = interleaved && writePnm(outputName, buffer, width, pitch, height, opixFormatBits(format), channels);
  } else if (hasExtension(outputName, ".tif") || hasExtension(outputName, ".tiff")) {
    written =
        interleaved && writeTiff(outputName, buffer, width, pitch, height, bytes, channels, opixFormatBits(format));
  } else if (hasExtension(outputName, ".png")) {
    written = interleaved && writePng(outputName, buffer, width, pitch, height, opixFormatBits(format), channels);
  } else {
    std::fputs("Input file has inappropriate extension\n", stderr);
    return OPIX_UNSUPPORTED_FORMAT;
  }
  if (!written) {
    std::fputs("Could not save to file\n", stderr);
    return OPIX_IO_ERROR;
  }
  return OPIX_OK;
}

}  // namespace opix
