// The exchange between a process reading camera raw files and the decoder
// process that runs LibRaw for it (opix_camera_decoder, CameraRawDecoder.cpp).
//
// The reader sends a request: a RequestHeader and its payload (an absolute
// path, or the bytes of a file). The decoder answers with a ReplyHeader, then
// the texts (why, make, model), the black table (blackRows x blackCols
// floats) and the mosaic (height rows of pitch bytes). A decoder that does not
// answer in time, dies, or answers out of protocol is stopped; the reader
// checks every number of a reply against the bounds below and against what it
// received before it allocates or copies anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "CameraFiles.h"

namespace opix::camera_raw {

constexpr uint32_t kRequestMagic = 0x5158504fu;  // "OPXQ"
constexpr uint32_t kReplyMagic = 0x5258504fu;    // "OPXR"
constexpr uint32_t kProtocolVersion = 1;
// The descriptor of the decoder's end of the channel (a stream socket).
constexpr int kChannelFd = 3;

enum RequestKind : uint32_t { kDecodeFile = 1, kDecodeBuffer = 2 };

struct RequestHeader {
  uint32_t magic = kRequestMagic;
  uint32_t version = kProtocolVersion;
  uint32_t kind = kDecodeFile;
  uint32_t reserved = 0;
  uint64_t bytes = 0;  // of the path or of the file
};

// Largest payloads: a path, and a file sent whole.
constexpr uint64_t kMaxPathBytes = 1u << 16;
constexpr uint64_t kMaxFileBytes = uint64_t{4} << 30;

struct ReplyHeader {
  uint32_t magic = kReplyMagic;
  uint32_t version = kProtocolVersion;
  uint32_t decoded = 0;  // 1: a mosaic follows; 0: refused, `why` says why
  uint32_t whyBytes = 0, makeBytes = 0, modelBytes = 0;
  uint32_t width = 0, height = 0, pitch = 0, imageBits = 0;  // the mosaic
  uint32_t bits = 0, pattern = 0, white = 0;
  uint32_t blackRows = 0, blackCols = 0, perSiteBlack = 0;
  float colourBlack[3] = {0, 0, 0};
  float asShot[4] = {0, 0, 0, 0};
  float cameraToSrgb[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  uint64_t imageBytes = 0;  // height x pitch
};

// Bounds of a reply: LibRaw's sizes are 16-bit, its black table holds fewer
// than 4104 entries (widened to whole 2 x 2 cells: at most 4 times as many).
constexpr uint32_t kMaxWhyBytes = 1024;
constexpr uint32_t kMaxNameBytes = 256;
constexpr uint32_t kMaxSide = 65535;
constexpr uint32_t kMaxBlackSites = 4 * 4104;

// Where a reply is read from: the decoder's socket, or memory (tests and the
// fuzz target). read() fills all `n` bytes or returns false.
class ReplySource {
 public:
  virtual ~ReplySource() = default;
  virtual bool read(void* to, size_t n) = 0;
};

// A reply held in memory.
class MemorySource : public ReplySource {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  bool read(void* to, size_t n) override {
    if (n > bytes_.size() - at_) return false;
    if (n) std::memcpy(to, bytes_.data() + at_, n);
    at_ += n;
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t at_ = 0;
};

// Significant bits of samples up to `white` (1 to 16).
inline uint32_t bitsForWhite(uint32_t white) {
  uint32_t bits = 1;
  while (bits < 16 && (1u << bits) - 1 < white) ++bits;
  return bits;
}

enum class Reply {
  kDecoded,  // `out` and `info` hold the file's mosaic
  kRefused,  // the decoder's reason is in `why`
  kBroken    // the reply broke off or broke the protocol; `why` says how
};

// Reads and checks one reply. Nothing of `out` or `info` is touched unless
// the whole reply was read and found sound.
Reply readReply(ReplySource& in, DecodedImage& out, CameraRawInfo& info, std::string& why);

}  // namespace opix::camera_raw
