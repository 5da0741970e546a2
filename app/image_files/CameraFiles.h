// Camera files: machine-vision frames in the pixel formats cameras report
// (packed or in 16-bit words), and camera raw files (DNG and the vendors'
// raw formats) read through LibRaw in a process of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ImageFiles.h"
#include "opix.h"

namespace opix {

// ------------------------------------------------- machine-vision frames

struct PixelFormat {
  const char* name;            // as the camera reports it, such as "BayerRG12p"
  opixPacking_t packing;       // OPIX_PACKING_NONE: one byte a sample (8 bits)
  uint32_t bits;               // depth of the samples
  opixBayerPattern_t pattern;  // OPIX_BAYER_NONE for Mono formats
};

// The pixel format named `name` (exact case), with 16-bit words read as
// high-aligned when `msb` is set; null for an unknown name.
const PixelFormat* findPixelFormat(const char* name, bool msb);
// The names findPixelFormat knows, separated by ", ".
std::string pixelFormatNames();

// Bytes of a frame of width x height in `format`: rows follow each other bit
// for bit, the last byte completed with zero bits.
uint64_t pixelFormatFrameBytes(const PixelFormat& format, uint32_t width, uint32_t height);

// Reads a headerless frame; its size must be exactly the frame's. On failure
// `why` says what was wrong.
bool readPixelFormatFrame(const std::string& path, const PixelFormat& format, uint32_t width, uint32_t height,
                          DecodedImage& out, std::string& why);

// ------------------------------------------------------ camera raw files

// What a camera raw file says about its mosaic. Levels are in the units of
// the raw samples.
struct CameraRawInfo {
  std::string make, model;
  uint32_t width = 0, height = 0;                // visible area
  uint32_t bits = 0;                             // significant bits of the samples
  opixBayerPattern_t pattern = OPIX_BAYER_NONE;  // of the visible area's (0, 0)
  // Black level of each pixel site, repeating every blackRows x blackCols
  // pixels from the visible area's top-left (2 x 2 unless the file has a
  // larger table); perSiteBlack when it is not one level per colour.
  uint32_t blackRows = 2, blackCols = 2;
  std::vector<float> black;
  bool perSiteBlack = false;
  float colourBlack[3] = {0, 0, 0};  // R, G, B when !perSiteBlack
  uint32_t white = 0;
  float asShot[4] = {1, 1, 1, 1};                                // white-balance gains R, G1, G2, B, green 1
  float cameraToSrgb[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};  // rows: sRGB R, G, B
};

// Whether the name ends in a camera raw extension (.dng .cr2 .cr3 .nef .nrw
// .arw .raf .orf .rw2 .pef .srw .kdc .dcr .3fr .iiq .x3f, any case).
bool isCameraRawName(const std::string& name);
// Whether this build reads camera raw files.
bool cameraRawAvailable();

// Reads the unprocessed Bayer mosaic of a camera raw file held in memory or
// in a file, cropped to the visible area, as 16-bit samples (I12 for up to
// 12 bits, I16 above). On failure `why` says what was wrong ("truncated or
// corrupt file", "not a Bayer sensor: X-Trans", ...). LibRaw runs in a
// decoder process (opix_camera_decoder, beside the program or the module):
// a file that crashes it or keeps it busy past the time limit fails with
// "truncated or corrupt file (the camera raw decoder ...)". Safe to call from
// several threads at once. Throws std::bad_alloc when there is no room for
// the mosaic.
bool readCameraRawBuffer(const void* data, size_t size, DecodedImage& out, CameraRawInfo& info, std::string& why);
bool readCameraRawFile(const std::string& path, DecodedImage& out, CameraRawInfo& info, std::string& why);

// The decoder program (empty: opix_camera_decoder beside the program or the
// module holding this code) and the seconds it may spend on one file before
// it is stopped (0: 120). Decoders already started are stopped. For tests
// and the fuzz target.
void setCameraRawDecoder(const std::string& program, double seconds);

// The lines -info prints for a camera raw file.
void printCameraRawInfo(const CameraRawInfo& info);

}  // namespace opix
