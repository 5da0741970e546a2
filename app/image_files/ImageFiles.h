// Image files on the host: file-type rules, the image reader and writer that
// dispatch by extension, and the readers and writers of each format.
#pragma once

#include <cstdint>
#include <string>

#include "HostImage.h"
#include "opix.h"

namespace opix {

// ------------------------------------------------------------ file names

// Whether `name` ends in `extension` (written in lower case, with its dot),
// ignoring the case of the name. The comparison starts at the last '.' of the
// name, or at its first character when it has none.
bool hasExtension(const std::string& name, const char* extension);

// File kinds of isFileType.
enum FileKind : int {
  kFileAnyImage = 0,
  kFileColorOutput = 1,
  kFileGrayInput = 2,
  kFileBmp = 3,
  kFileJpeg = 4,
  kFileJpeg2000 = 5,
  kFileAvi = 6,
  kFileMp4 = 7,
  kFileMxf = 8,
  kFileYv12 = 9,
  kFileSdi = 10,
  kFileAnyImage2 = 11,
};
bool isFileType(const std::string& name, int kind);
// The extensions of kFileColorOutput or kFileGrayInput without their dots,
// joined by '/' ("bmp/ppm/tif/tiff/png"), for messages.
std::string extensionList(int kind);

// ------------------------------------------------------- image dispatch

// Reads `inputName` by its extension into `image`. Width, height and bits
// describe RAW files, which carry no header. On failure the message goes to
// standard error and `image` is left as it was.
opixStatus_t readImage(const std::string& inputName, const std::string& outputName, HostImage& image, uint32_t height,
                       uint32_t width, uint32_t bits);
// The same, reading RAW files as 8-bit (black-shift matrices).
opixStatus_t readImage(const std::string& inputName, const std::string& outputName, HostImage& image, uint32_t height,
                       uint32_t width);

// Writes a buffer of `format` by the extension of `outputName`. A gray image
// named .ppm or a colour image named .pgm is written under the corrected
// name, and `outputName` is changed to it.
opixStatus_t writeImage(std::string& outputName, const void* buffer, opixSurfaceFormat_t format, uint32_t height,
                        uint32_t width, uint32_t pitch);

// ---------------------------------------------------- format readers

// What a format reader returns: page-locked rows of `pitch` bytes.
struct DecodedImage {
  PinnedBuffer data;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t pitch = 0;
  uint32_t bits = 0;
  uint32_t channels = 0;
};

// The readers throw std::bad_alloc when the pixel buffer cannot be had and
// return failure for anything wrong with the file.
bool readPnm(const std::string& path, DecodedImage& out);
// RAW: 8-bit samples one byte each (pitch = width), 9 to 16 bits one
// little-endian 16-bit word each (pitch = 2 x width).
bool readRaw(const std::string& path, uint32_t width, uint32_t height, uint32_t bits, DecodedImage& out);

// kTiffReadError: the file cannot be opened or its pixels cannot be decoded
// (a truncated or corrupt file); kTiffUnsupported: a readable file whose
// layout host images do not take; kTiffColor: colour data other than 8- or
// 16-bit RGB, which is read as it is.
// kTiffTooLarge: compressed pixels that decode to more than
// `maxDecodedBytes` (and more than the file's size); nothing is decoded.
enum TiffResult : int { kTiffOk = 0, kTiffReadError = 1, kTiffUnsupported = 2, kTiffColor = 3, kTiffTooLarge = 4 };
constexpr uint64_t kMaxTiffDecodedBytes = uint64_t{1} << 30;
TiffResult readTiff(const std::string& path, DecodedImage& out, uint64_t maxDecodedBytes = kMaxTiffDecodedBytes);
// PNG: grey or RGB, 8 bits (lower depths expanded) or 16 bits as
// little-endian words; a 16-bit file with an sBIT depth of 9 to 15 bits comes
// shifted down to it. Alpha is dropped, palettes expand to RGB.
bool readPng(const std::string& path, DecodedImage& out);

enum BmpResult : int { kBmpOk = 0, kBmpReadError = 1, kBmpInvalid = 2, kBmpUnsupported = 3 };
BmpResult readBmp(const std::string& path, DecodedImage& out);

// ---------------------------------------------------- format writers

// Binary PGM (1 channel) or PPM (3 channels), maxval 2^bits - 1, 16-bit
// samples most significant byte first.
bool writePnm(const std::string& path, const void* buffer, uint32_t width, uint32_t pitch, uint32_t height,
              uint32_t bitsPerChannel, uint32_t channels);
// 8-bit gray (1 channel) or 24-bit (3 channels, bytes as given), bottom-up.
bool writeBmp(const std::string& path, const void* buffer, uint32_t channels, uint32_t height, uint32_t width,
              uint32_t pitch);
// Grey or RGB PNG: 8-bit samples as given; 9 to 16 bits as 16-bit samples
// scaled to the full range, with the true depth in an sBIT chunk.
bool writePng(const std::string& path, const void* buffer, uint32_t width, uint32_t pitch, uint32_t height,
              uint32_t bitsPerChannel, uint32_t channels);
// Single-strip uncompressed little-endian TIFF. `significantBits` below the
// sample's width (12 in 16-bit words) is written as MaxSampleValue and
// SMaxSampleValue.
bool writeTiff(const std::string& path, const void* buffer, uint32_t width, uint32_t pitch, uint32_t height,
               uint32_t bytesPerSample, uint32_t channels, uint32_t significantBits = 0);

// ---------------------------------------------------- correction matrices

// Reads a matrix A file ("P7", width, height, channels, then floats) into
// `holder`: pitch counts elements (width x channels). `elementSize` is the
// size of one stored element (4). On failure `holder` is left as it was.
opixStatus_t readMatrixA(const std::string& path, HostImage& holder, uint32_t& width, uint32_t& pitch,
                         uint32_t elementSize, uint32_t& height, uint32_t& channels);

}  // namespace opix
