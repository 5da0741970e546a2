#include "CameraInput.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "CameraFiles.h"
#include "ImageFiles.h"
#include "LutFile.h"

namespace opix::app {

bool DebayerSampleOptions::parseCameraOptions() {
  msb = isPresent("msb");
  linear = isPresent("linear");
  pixelFormat = textValue("format");
  if (pixelFormat && !findPixelFormat(pixelFormat, msb)) {
    std::fprintf(stderr, "Pixel format %s was not recognized. Known formats: %s\n", pixelFormat,
                 pixelFormatNames().c_str());
    return false;
  }
  return true;
}

namespace {

// Site of the 2 x 2 cell at (x, y) under `p`: 0 R, 1 G1, 2 G2, 3 B.
int bayerSite(opixBayerPattern_t p, uint32_t x, uint32_t y) {
  static const int sites[4][4] = {{0, 1, 2, 3}, {3, 1, 2, 0}, {1, 3, 0, 2}, {1, 0, 3, 2}};
  const int row = p == OPIX_BAYER_BGGR ? 1 : p == OPIX_BAYER_GBRG ? 2 : p == OPIX_BAYER_GRBG ? 3 : 0;
  return sites[row][(y & 1) * 2 + (x & 1)];
}

// The -wb_* gains as the command line gave them, before a camera raw file's
// development replaced the options' gains.
std::vector<float> userGains_;
bool userGainsGiven_ = false;

opixStatus_t cameraFileFailure(const std::string& path, const std::string& why, opixStatus_t status) {
  std::fprintf(stderr, "%s: %s\n", path.c_str(), why.c_str());
  return status;
}

}  // namespace

opixStatus_t readInputImage(const DebayerSampleOptions& o, const std::string& path, const std::string& outputName,
                            HostImage& image) {
  const PixelFormat* format = findPixelFormat(o.pixelFormat, o.msb);
  const bool camera = isCameraRawName(path);
  if (!format && !camera) return readImage(path, outputName, image, o.rawHeight, o.rawWidth, o.bits);
  DecodedImage d;
  std::string why;
  auto info = std::make_shared<CameraRawInfo>();
  try {
    if (camera) {
      if (!readCameraRawFile(path, d, *info, why))
        return cameraFileFailure(path, why, cameraRawAvailable() ? OPIX_INVALID_FORMAT : OPIX_UNSUPPORTED_FORMAT);
    } else if (!readPixelFormatFrame(path, *format, o.rawWidth, o.rawHeight, d, why)) {
      return cameraFileFailure(path, why, OPIX_INVALID_FORMAT);
    }
  } catch (const std::bad_alloc&) {
    return OPIX_INSUFFICIENT_HOST_MEMORY;
  }
  image.inputFileName = path;
  image.outputFileName = outputName;
  image.data = std::move(d.data);
  image.width = d.width;
  image.height = d.height;
  image.pitch = d.pitch;
  image.surfaceFormat = formatFromBits(d.bits, 1);
  image.bitsPerChannel = opixFormatBits(image.surfaceFormat);
  image.packing = camera ? OPIX_PACKING_NONE : format->packing;
  if (camera) image.camera = std::move(info);
  return OPIX_OK;
}

opixPacking_t inputPacking(const DebayerSampleOptions& o) {
  const PixelFormat* f = findPixelFormat(o.pixelFormat, o.msb);
  return f && o.inputPath && !isCameraRawName(o.inputPath) ? f->packing : OPIX_PACKING_NONE;
}

opixStatus_t settleCameraInput(DebayerSampleOptions& o, const HostImage& first) {
  opixBayerPattern_t own = OPIX_BAYER_NONE;
  const char* source = nullptr;
  if (const PixelFormat* f = findPixelFormat(o.pixelFormat, o.msb)) {
    own = f->pattern;
    source = f->name;
  }
  if (first.camera) {
    const CameraRawInfo& c = *first.camera;
    own = c.pattern;
    source = first.inputFileName.c_str();
    if (o.info) printCameraRawInfo(c);
    // The steps a user sets replace the file's: -black_shift or a matrix B
    // its black, -wb_* its white balance, -lut its curve.
    o.develop = true;
    o.developBlack = o.blackShift == 0.0f && !o.matrixBPath && !c.perSiteBlack;
    for (int i = 0; i < 3; ++i) o.developBlackLevels[i] = c.colourBlack[i];
    o.developMatrix = !o.linear;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) o.developCameraToSrgb[i][j] = c.cameraToSrgb[i][j];
    userGains_.assign(o.whiteBalance, o.whiteBalance + 4);
    userGainsGiven_ = o.isWhiteBalance;
  }
  if (own == OPIX_BAYER_NONE) return OPIX_OK;
  // A Bayer pixel format names its cell: -pattern may only repeat it. A
  // camera raw file's pattern is what LibRaw found, which -pattern overrides.
  if (o.patternGiven && o.bayerPattern != own && !first.camera) {
    std::fprintf(stderr, "The pattern %s contradicts %s, whose pattern is %s\n", opixBayerPatternName(o.bayerPattern),
                 source, opixBayerPatternName(own));
    return OPIX_INVALID_VALUE;
  }
  if (!o.patternGiven) o.bayerPattern = own;
  if (first.camera) {
    const opixWhiteBalance_t wb = developWhiteBalance(o, *first.camera);
    o.whiteBalance[0] = wb.R, o.whiteBalance[1] = wb.G1, o.whiteBalance[2] = wb.G2, o.whiteBalance[3] = wb.B;
    o.isWhiteBalance = true;
  }
  return OPIX_OK;
}

opixWhiteBalance_t developWhiteBalance(const DebayerSampleOptions& o, const CameraRawInfo& c) {
  // Mean black of each site of the cell (R, G1, G2, B) over the file's
  // table; black is subtracted before the white balance runs.
  float black[4] = {0, 0, 0, 0};
  int count[4] = {0, 0, 0, 0};
  const opixBayerPattern_t p = o.patternGiven ? o.bayerPattern : c.pattern;
  for (uint32_t y = 0; y < c.blackRows; ++y)
    for (uint32_t x = 0; x < c.blackCols; ++x) {
      const int site = bayerSite(p, x, y);
      black[site] += c.black[y * c.blackCols + x];
      ++count[site];
    }
  // A user's black shift replaces the file's.
  const bool fileBlack = o.blackShift == 0.0f && !o.matrixBPath;
  const float top = float((1u << opixFormatBits(o.inputSurfaceFormat)) - 1);
  float gains[4];
  for (int s = 0; s < 4; ++s) {
    const float b = fileBlack && count[s] ? black[s] / float(count[s]) : o.blackShift;
    const float range = float(c.white) - b;
    const float wb = userGainsGiven_ ? userGains_[size_t(s)] : o.linear ? 1.0f : c.asShot[s];
    gains[s] = range > 0 ? wb * top / range : wb;
  }
  opixWhiteBalance_t wb{};
  wb.R = gains[0], wb.G1 = gains[1], wb.G2 = gains[2], wb.B = gains[3];
  wb.bayerPattern = p;
  return wb;
}

void srgbCurve(uint32_t inputBits, bool eightBit, LutTable& lut) {
  lut.entries = inputBits <= 12 ? 4096 : 65536;
  lut.columns = 1;
  const double top = eightBit && lut.entries == 4096 ? 255.0 : 65535.0;
  lut.values[0].resize(lut.entries);
  for (uint32_t i = 0; i < lut.entries; ++i) {
    const double v = double(i) / double(lut.entries - 1);
    const double s = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
    lut.values[0][i] = static_cast<uint32_t>(s * top + 0.5);
  }
  lut.largest = lut.values[0].back();
}

}  // namespace opix::app
