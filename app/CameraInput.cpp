#include "CameraInput.h"

#include <cstdio>

#include "CameraFiles.h"
#include "ImageFiles.h"

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
    own = first.camera->pattern;
    source = first.inputFileName.c_str();
    if (o.info) printCameraRawInfo(*first.camera);
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
  return OPIX_OK;
}

}  // namespace opix::app
