// Camera raw files through LibRaw: the unprocessed Bayer mosaic of the
// visible area and what the file says about it. Built without LibRaw, every
// read fails with "camera raw input needs LibRaw".
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "CameraFiles.h"

#if OPIX_WITH_LIBRAW
#include <libraw/libraw.h>
#endif

namespace opix {

bool isCameraRawName(const std::string& name) {
  for (const char* e : {".dng", ".cr2", ".cr3", ".nef", ".nrw", ".arw", ".raf", ".orf", ".rw2", ".pef", ".srw", ".kdc",
                        ".dcr", ".3fr", ".iiq", ".x3f"})
    if (hasExtension(name, e)) return true;
  return false;
}

void printCameraRawInfo(const CameraRawInfo& i) {
  std::printf("Camera: %s %s\n", i.make.c_str(), i.model.c_str());
  std::printf("Camera raw: %ux%u pixels, %u bits, pattern %s\n", i.width, i.height, i.bits,
              opixBayerPatternName(i.pattern));
  if (i.perSiteBlack) {
    float lo = i.black[0], hi = i.black[0];
    for (float b : i.black) lo = b < lo ? b : lo, hi = b > hi ? b : hi;
    std::printf("Black level: per site, %ux%u table, %g to %g\n", i.blackRows, i.blackCols, double(lo), double(hi));
  } else {
    std::printf("Black level: R %g G %g B %g\n", double(i.colourBlack[0]), double(i.colourBlack[1]),
                double(i.colourBlack[2]));
  }
  std::printf("White level: %u\n", i.white);
  std::printf("As-shot white balance: R %.4f G1 %.4f G2 %.4f B %.4f\n", double(i.asShot[0]), double(i.asShot[1]),
              double(i.asShot[2]), double(i.asShot[3]));
  for (int r = 0; r < 3; ++r)
    std::printf("%s %.4f %.4f %.4f\n", r == 0 ? "Camera to sRGB:" : "               ", double(i.cameraToSrgb[r][0]),
                double(i.cameraToSrgb[r][1]), double(i.cameraToSrgb[r][2]));
}

#if OPIX_WITH_LIBRAW

bool cameraRawAvailable() { return true; }

namespace {

const char* librawReason(int code) {
  switch (code) {
    case LIBRAW_FILE_UNSUPPORTED: return "not a camera raw file this build knows (unsupported or unknown camera)";
    case LIBRAW_UNSUFFICIENT_MEMORY: return "out of memory while decoding";
    case LIBRAW_DATA_ERROR:
    case LIBRAW_IO_ERROR:
    case LIBRAW_CANCELLED_BY_CALLBACK: return "truncated or corrupt file";
    case LIBRAW_TOO_BIG: return "image too large";
    case LIBRAW_REQUEST_FOR_NONEXISTENT_IMAGE: return "no image in the file";
    default: return "cannot be decoded";
  }
}

uint32_t gcdOf(uint32_t a, uint32_t b) { return b == 0 ? a : gcdOf(b, a % b); }
uint32_t lcmOf(uint32_t a, uint32_t b) { return a / gcdOf(a, b) * b; }

// LibRaw's colour index (0 R, 1 G, 2 B, 3 second G) of visible pixel (x, y).
bool bayerPattern(LibRaw& raw, opixBayerPattern_t& pattern, std::string& why) {
  const libraw_iparams_t& id = raw.imgdata.idata;
  if (id.filters == 9) return why = "not a Bayer sensor: X-Trans colour filter", false;
  if (id.is_foveon) return why = "not a Bayer sensor: Foveon", false;
  if (id.filters == 0 || id.colors == 1)
    return why = "not a Bayer sensor: no colour filter (monochrome or linear raw)", false;
  if (id.filters < 1000 || id.colors != 3) return why = "not a Bayer sensor: colour filter of other colours", false;
  int c[2][2];
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 2; ++x) {
      int k = raw.COLOR(y, x);
      if (k == 3) k = 1;
      if (y < 2)
        c[y][x] = k;
      else if (k != c[y & 1][x])
        return why = "not a Bayer sensor: colour filter pattern larger than 2x2", false;
    }
  const struct {
    int a, b, cc, d;
    opixBayerPattern_t p;
  } known[] = {{0, 1, 1, 2, OPIX_BAYER_RGGB},
               {2, 1, 1, 0, OPIX_BAYER_BGGR},
               {1, 2, 0, 1, OPIX_BAYER_GBRG},
               {1, 0, 2, 1, OPIX_BAYER_GRBG}};
  for (const auto& k : known)
    if (c[0][0] == k.a && c[0][1] == k.b && c[1][0] == k.cc && c[1][1] == k.d) {
      pattern = k.p;
      return true;
    }
  why = "not a Bayer sensor: colour filter is no RGGB, BGGR, GBRG or GRBG cell";
  return false;
}

bool decode(LibRaw& raw, int opened, DecodedImage& out, CameraRawInfo& info, std::string& why) {
  if (opened != LIBRAW_SUCCESS) return why = librawReason(opened), false;
  opixBayerPattern_t pattern;
  if (!bayerPattern(raw, pattern, why)) return false;
  const int unpacked = raw.unpack();
  if (unpacked != LIBRAW_SUCCESS) return why = librawReason(unpacked), false;
  const libraw_rawdata_t& rd = raw.imgdata.rawdata;
  const libraw_image_sizes_t& s = rd.sizes;
  if (!rd.raw_image) return why = "not a Bayer sensor: samples are not one a pixel", false;
  if (s.width == 0 || s.height == 0 || uint32_t{s.left_margin} + s.width > s.raw_width ||
      uint32_t{s.top_margin} + s.height > s.raw_height || s.raw_pitch < 2u * s.raw_width)
    return why = "truncated or corrupt file", false;

  const libraw_colordata_t& col = rd.color;
  info.make = raw.imgdata.idata.make;
  info.model = raw.imgdata.idata.model;
  info.width = s.width;
  info.height = s.height;
  info.pattern = pattern;
  info.white = col.maximum;
  uint32_t bits = 1;
  while (bits < 16 && (1u << bits) - 1 < col.maximum) ++bits;
  info.bits = bits;
  if (col.maximum == 0 || col.maximum > 65535) return why = "white level outside 1 to 65535", false;

  // Black: the common level, the level of the site's colour, and LibRaw's
  // per-site table (cblack[4] rows by cblack[5] columns from cblack[6] on).
  const uint32_t tableRows = col.cblack[4], tableCols = col.cblack[5];
  const bool table = tableRows && tableCols && tableRows * tableCols <= LIBRAW_CBLACK_SIZE - 6;
  info.blackRows = table ? lcmOf(2, tableRows) : 2;
  info.blackCols = table ? lcmOf(2, tableCols) : 2;
  info.black.assign(size_t{info.blackRows} * info.blackCols, 0.0f);
  for (uint32_t y = 0; y < info.blackRows; ++y)
    for (uint32_t x = 0; x < info.blackCols; ++x) {
      float b = float(col.black) + float(col.cblack[raw.COLOR(int(y), int(x))]);
      if (table) b += float(col.cblack[6 + (y % tableRows) * tableCols + x % tableCols]);
      info.black[y * info.blackCols + x] = b;
    }
  // One level per colour when the table is one 2 x 2 cell whose greens agree.
  const int r = pattern == OPIX_BAYER_RGGB ? 0 : pattern == OPIX_BAYER_BGGR ? 3 : pattern == OPIX_BAYER_GRBG ? 1 : 2;
  const float* c = info.black.data();
  info.perSiteBlack = info.blackRows != 2 || info.blackCols != 2 || c[(r ^ 1)] != c[(r ^ 2)];
  if (!info.perSiteBlack) {
    info.colourBlack[0] = c[r];
    info.colourBlack[1] = c[r ^ 1];
    info.colourBlack[2] = c[r ^ 3];
  }

  // As-shot gains, green 1; cam_mul[3] is the second green's, 0 when the
  // file gives one green.
  const float g = col.cam_mul[1];
  if (g > 0 && col.cam_mul[0] > 0 && col.cam_mul[2] > 0) {
    info.asShot[0] = col.cam_mul[0] / g;
    info.asShot[1] = 1.0f;
    info.asShot[2] = col.cam_mul[3] > 0 ? col.cam_mul[3] / g : 1.0f;
    info.asShot[3] = col.cam_mul[2] / g;
  }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) info.cameraToSrgb[i][j] = col.rgb_cam[i][j];

  DecodedImage img;
  img.width = s.width;
  img.height = s.height;
  img.pitch = (2 * s.width + 3) / 4 * 4;
  img.bits = bits <= 12 ? 12 : 16;
  img.channels = 1;
  img.data = allocatePinned(uint64_t{img.pitch} * img.height);
  const uint32_t rawPitch = s.raw_pitch / 2;
  for (uint32_t y = 0; y < img.height; ++y) {
    unsigned char* row = img.data.get() + uint64_t{y} * img.pitch;
    const uint16_t* from = rd.raw_image + uint64_t{y + s.top_margin} * rawPitch + s.left_margin;
    // Samples above the white level (hot pixels, stray bits) are limited to
    // it, so a 12-bit mosaic never carries 13-bit values.
    for (uint32_t x = 0; x < img.width; ++x) {
      const uint16_t v = from[x] > col.maximum ? static_cast<uint16_t>(col.maximum) : from[x];
      std::memcpy(row + 2 * x, &v, 2);
    }
    std::memset(row + 2 * img.width, 0, img.pitch - 2 * img.width);
  }
  out = std::move(img);
  return true;
}

}  // namespace

bool readCameraRawBuffer(const void* data, size_t size, DecodedImage& out, CameraRawInfo& info, std::string& why) {
  auto raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
  // LibRaw takes a non-const buffer but only reads it.
  return decode(*raw, raw->open_buffer(const_cast<void*>(data), size), out, info, why);
}

bool readCameraRawFile(const std::string& path, DecodedImage& out, CameraRawInfo& info, std::string& why) {
  auto raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
  return decode(*raw, raw->open_file(path.c_str()), out, info, why);
}

#else

bool cameraRawAvailable() { return false; }

bool readCameraRawBuffer(const void*, size_t, DecodedImage&, CameraRawInfo&, std::string& why) {
  why = "camera raw input needs LibRaw";
  return false;
}

bool readCameraRawFile(const std::string&, DecodedImage&, CameraRawInfo&, std::string& why) {
  why = "camera raw input needs LibRaw";
  return false;
}

#endif

}  // namespace opix
