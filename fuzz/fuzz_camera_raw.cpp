// The camera raw reader over LibRaw's open and unpack path: the input is the
// file. What is decoded must be a whole mosaic with a Bayer pattern and its
// black table.
#include <cstdlib>

#include "CameraFiles.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  opix::DecodedImage image;
  opix::CameraRawInfo info;
  std::string why;
  try {
    if (opix::readCameraRawBuffer(data, size, image, info, why)) {
      opix::fuzz::touch(image);
      if (info.pattern < OPIX_BAYER_RGGB || info.pattern > OPIX_BAYER_GRBG) std::abort();
      if (info.black.size() != size_t{info.blackRows} * info.blackCols) std::abort();
      if (image.width != info.width || image.height != info.height) std::abort();
    } else if (why.empty()) {
      std::abort();  // every failure says why
    }
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
