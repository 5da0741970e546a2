// opix_camera_decoder: runs LibRaw on camera raw files for opix_debayer and
// the Python module, one request after another, in a process of its own
// (CameraRawProtocol.h), so that a file that crashes LibRaw, makes it abort
// or keeps it looping costs that file only, never the process that asked.
//
// What it sends back is the unprocessed Bayer mosaic of the visible area and
// what the file says about it, as the reader in CameraRawFile.cpp hands it on.
#include <libraw/libraw.h>
#include <malloc.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "CameraRawProtocol.h"

namespace opix::camera_raw {
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

// Opens and unpacks the file and fills `info`; the mosaic stays in `raw`.
bool decode(LibRaw& raw, int opened, CameraRawInfo& info, std::string& why) {
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
  info.bits = bitsForWhite(col.maximum);
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
  return true;
}

// Row y of the visible mosaic as the reader keeps it: 16-bit samples, those
// above the white level (hot pixels, stray bits) limited to it so that a
// 12-bit mosaic never carries 13-bit values, and zero bytes up to the pitch.
void mosaicRow(const LibRaw& raw, uint32_t y, uint32_t pitch, unsigned char* row) {
  const libraw_rawdata_t& rd = raw.imgdata.rawdata;
  const libraw_image_sizes_t& s = rd.sizes;
  const uint32_t maximum = rd.color.maximum;
  const uint16_t* from = rd.raw_image + uint64_t{y + s.top_margin} * (s.raw_pitch / 2) + s.left_margin;
  for (uint32_t x = 0; x < s.width; ++x) {
    const uint16_t v = from[x] > maximum ? static_cast<uint16_t>(maximum) : from[x];
    std::memcpy(row + 2 * x, &v, 2);
  }
  std::memset(row + 2 * s.width, 0, pitch - 2 * s.width);
}

bool readAll(void* to, size_t n) {
  auto* p = static_cast<unsigned char*>(to);
  while (n > 0) {
    const ssize_t got = ::read(kChannelFd, p, n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool writeAll(const void* from, size_t n) {
  const auto* p = static_cast<const unsigned char*>(from);
  while (n > 0) {
    const ssize_t put = ::send(kChannelFd, p, n, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

bool refuse(std::string why) {
  if (why.empty()) why = "cannot be decoded";
  if (why.size() > kMaxWhyBytes) why.resize(kMaxWhyBytes);
  ReplyHeader h;
  h.whyBytes = static_cast<uint32_t>(why.size());
  return writeAll(&h, sizeof h) && writeAll(why.data(), why.size());
}

// Decodes what the request names and answers; false when the reader is gone.
bool answer(const RequestHeader& request, const std::vector<char>& payload) {
  auto raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
  CameraRawInfo info;
  std::string why;
  int opened;
  if (request.kind == kDecodeFile) {
    const std::string path(payload.begin(), payload.end());
    opened = raw->open_file(path.c_str());
  } else {
    // LibRaw takes a non-const buffer but only reads it.
    opened = raw->open_buffer(const_cast<char*>(payload.data()), payload.size());
  }
  if (!decode(*raw, opened, info, why)) return refuse(why);
  info.make.resize(std::min<size_t>(info.make.size(), kMaxNameBytes));
  info.model.resize(std::min<size_t>(info.model.size(), kMaxNameBytes));

  ReplyHeader h;
  h.decoded = 1;
  h.makeBytes = static_cast<uint32_t>(info.make.size());
  h.modelBytes = static_cast<uint32_t>(info.model.size());
  h.width = info.width;
  h.height = info.height;
  h.pitch = (2 * info.width + 3) / 4 * 4;
  h.imageBits = info.bits <= 12 ? 12 : 16;
  h.bits = info.bits;
  h.pattern = info.pattern;
  h.white = info.white;
  h.blackRows = info.blackRows;
  h.blackCols = info.blackCols;
  h.perSiteBlack = info.perSiteBlack;
  std::memcpy(h.colourBlack, info.colourBlack, sizeof h.colourBlack);
  std::memcpy(h.asShot, info.asShot, sizeof h.asShot);
  std::memcpy(h.cameraToSrgb, info.cameraToSrgb, sizeof h.cameraToSrgb);
  h.imageBytes = uint64_t{h.pitch} * h.height;
  if (!writeAll(&h, sizeof h) || !writeAll(info.make.data(), info.make.size()) ||
      !writeAll(info.model.data(), info.model.size()) ||
      !writeAll(info.black.data(), info.black.size() * sizeof(float)))
    return false;
  // Rows go out in blocks of about a megabyte.
  const uint32_t rowsPerBlock = std::max<uint32_t>(1, (1u << 20) / h.pitch);
  std::vector<unsigned char> block(size_t{rowsPerBlock} * h.pitch);
  for (uint32_t y = 0; y < h.height; y += rowsPerBlock) {
    const uint32_t rows = std::min(rowsPerBlock, h.height - y);
    for (uint32_t k = 0; k < rows; ++k) mosaicRow(*raw, y + k, h.pitch, block.data() + size_t{k} * h.pitch);
    if (!writeAll(block.data(), size_t{rows} * h.pitch)) return false;
  }
  return true;
}

int serve() {
  for (;;) {
    RequestHeader request;
    if (!readAll(&request, sizeof request)) return 0;  // the reader closed the channel
    if (request.magic != kRequestMagic || request.version != kProtocolVersion ||
        (request.kind != kDecodeFile && request.kind != kDecodeBuffer) ||
        request.bytes > (request.kind == kDecodeFile ? kMaxPathBytes : kMaxFileBytes))
      return 3;  // out of protocol: the reader stops this process
    bool alive;
    try {
      std::vector<char> payload(static_cast<size_t>(request.bytes));
      if (!readAll(payload.data(), payload.size())) return 0;
      try {
        alive = answer(request, payload);
      } catch (const std::bad_alloc&) {
        alive = refuse(librawReason(LIBRAW_UNSUFFICIENT_MEMORY));
      }
    } catch (const std::bad_alloc&) {
      return 4;  // no room for the request itself
    }
    if (!alive) return 0;
    // The next file starts from a small heap, not from the largest so far.
    malloc_trim(0);
  }
}

}  // namespace
}  // namespace opix::camera_raw

int main() {
  struct stat channel;
  if (fstat(opix::camera_raw::kChannelFd, &channel) != 0 || !S_ISSOCK(channel.st_mode)) {
    std::fprintf(stderr,
                 "opix_camera_decoder decodes camera raw files for opix_debayer and the opix Python module, "
                 "which start it; it is not run by hand.\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  return opix::camera_raw::serve();
}
