// The camera raw reader: the input goes as a file through the decoder process
// and LibRaw's open and unpack path, and, after a sound magic and version, is
// read as a decoder's reply. Whatever LibRaw makes of the file (a mosaic, a
// refusal, a crash, a hang) and whatever a broken decoder writes, the reader
// comes back with a whole mosaic with a Bayer pattern, its black table and
// levels, or a reason, and never reads, writes or allocates past what it
// checked.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CameraFiles.h"
#include "CameraRawProtocol.h"
#include "FuzzSupport.h"

namespace {

void check(const opix::DecodedImage& image, const opix::CameraRawInfo& info, bool samplesAtMostWhite) {
  opix::fuzz::touch(image);
  if (info.pattern < OPIX_BAYER_RGGB || info.pattern > OPIX_BAYER_GRBG) std::abort();
  if (info.black.size() != size_t{info.blackRows} * info.blackCols || info.black.empty()) std::abort();
  if (image.width != info.width || image.height != info.height || image.channels != 1) std::abort();
  if (image.bits != (info.bits <= 12 ? 12u : 16u) || info.white == 0 || info.white > 65535) std::abort();
  for (float b : info.black)
    if (!(b >= 0 && b <= float(info.white))) std::abort();
  if (!samplesAtMostWhite) return;
  for (uint32_t y = 0; y < image.height; ++y)
    for (uint32_t x = 0; x < image.width; ++x) {
      uint16_t v;
      std::memcpy(&v, image.data.get() + uint64_t{y} * image.pitch + 2 * x, 2);
      if (v > info.white) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A file that keeps LibRaw busy this long is a refused file, not a finding.
  // The decoder's own sanitizer reports go nowhere: it need not symbolize
  // them (a symbolizer per LibRaw crash would be most of the run's time).
  static const bool once = [] {
    const char* given = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(given ? given : "") + ":symbolize=0").c_str(), 1);
    opix::setCameraRawDecoder("", 10);
    return true;
  }();
  (void)once;
  try {
    opix::DecodedImage image;
    opix::CameraRawInfo info;
    std::string why;
    if (opix::readCameraRawBuffer(data, size, image, info, why))
      check(image, info, true);
    else if (why.empty())
      std::abort();  // every failure says why
  } catch (const std::bad_alloc&) {
  }
  try {
    std::vector<uint8_t> reply(8 + size);
    const uint32_t head[2] = {opix::camera_raw::kReplyMagic, opix::camera_raw::kProtocolVersion};
    std::memcpy(reply.data(), head, 8);
    if (size) std::memcpy(reply.data() + 8, data, size);
    opix::camera_raw::MemorySource source(std::move(reply));
    opix::DecodedImage image;
    opix::CameraRawInfo info;
    std::string why;
    const auto r = opix::camera_raw::readReply(source, image, info, why);
    if (r == opix::camera_raw::Reply::kDecoded)
      check(image, info, false);
    else if (why.empty())
      std::abort();
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
