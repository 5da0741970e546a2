// How the host drivers reach the rows of a work image and store rows of
// the debayer's destination formats.
#pragma once

#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ApronCopyMath.h"
#include "DebayerMath.h"
#include "DeviceSurfaceBuffer.h"
#include "PreOperationsMath.h"
#include "device/ChannelRows.h"

namespace opix {

// The rows Y - R to Y + R of a work image around phased row Y, by row
// pointer (WorkRowReader's): s(x, dy) is the sample at phased column x of
// row Y + dy. A row's loop over them has no pitch arithmetic, so the
// compiler vectorises it.
template <class T, int R>
struct RowWindow {
  const T* row[2 * R + 1];
  int operator()(int x, int dy) const { return row[dy + R][x]; }
};

// The pre-operations on the host backend: samples [x0, x0 + n) of image
// row y of a source row s (at s[0]) corrected into d, and one sample v at
// image column x, the same values (Debayer.cpp).
void correctPreRow(const PreOperations& p, const uint8_t* s, uint8_t* d, int y, int x0, int n);
void correctPreRow(const PreOperations& p, const uint16_t* s, uint16_t* d, int y, int x0, int n);
uint32_t correctPreSample(const PreOperations& p, uint32_t v, int x, int y);

// Entries [0, n) of a row as the work image holds it, from work column c0:
// work column c is image column c - first of image row s (width w) inside
// the image, and the column it mirrors in the margins, as the apron fill
// makes them. With pre-operations (pre set), the samples corrected as the
// copy into the work image corrects them; s is then image row y.
template <class T>
void assembleWorkRow(const T* __restrict s, int w, int first, int c0, int n, T* __restrict d,
                     const PreOperations* pre = nullptr, int y = 0) {
  int k0 = first - c0, k1 = k0 + w;  // the entries inside the image
  k0 = k0 < 0 ? 0 : (k0 > n ? n : k0);
  k1 = k1 < k0 ? k0 : (k1 > n ? n : k1);
  if (pre) {
    const auto margin = [&](int k) {
      const int x = apronSourceRow(c0 + k, first, w);
      d[k] = static_cast<T>(correctPreSample(*pre, s[x], x, y));
    };
    for (int k = 0; k < k0; ++k) margin(k);
    if (k1 > k0) correctPreRow(*pre, s + (c0 + k0 - first), d + k0, y, c0 + k0 - first, k1 - k0);
    for (int k = k1; k < n; ++k) margin(k);
    return;
  }
  for (int k = 0; k < k0; ++k) d[k] = s[apronSourceRow(c0 + k, first, w)];
  if (k1 > k0) std::memcpy(d + k0, s + (c0 + k0 - first), sizeof(T) * size_t(k1 - k0));
  for (int k = k1; k < n; ++k) d[k] = s[apronSourceRow(c0 + k, first, w)];
}

// The host drivers' phased rows of the work image, made from the source
// (work.source): each row as the work image would hold it, the image row it
// mirrors copied from the source (corrected by the pre-operations where
// there are any), its margins mirrored as the apron fill makes them, in a
// ring of `slots` row buffers of the reader's (a power of two). row(Y)
// points at phased column 0; a row from the ring stays valid while fewer
// than `slots` other rows are read, so a reader going down an image
// assembles each row once. One reader a thread.
template <class T>
class WorkRowReader {
 public:
  explicit WorkRowReader(const WorkView& work, int slots = 1)
      : source_(work.source),
        sourcePitch_(work.sourcePitch),
        w_(static_cast<int>(work.imageWidth)),
        h_(static_cast<int>(work.imageHeight)),
        apron_(work.apron),
        first_(work.apron + work.cx),
        firstRow_(work.apron + work.cy),
        total_(static_cast<int>(work.width)),
        mask_(slots - 1),
        pre_(work.pre),
        buffer_(size_t(total_) * size_t(slots)),
        held_(size_t(slots), INT_MIN) {}

  const T* row(int Y) {
    const int slot = Y & mask_;
    T* d = buffer_.data() + size_t(slot) * size_t(total_);
    if (held_[size_t(slot)] != Y) {
      const int r = apronSourceRow(Y + apron_, firstRow_, h_);
      const T* s = reinterpret_cast<const T*>(source_ + int64_t(r) * sourcePitch_);
      assembleWorkRow(s, w_, first_, 0, total_, d, pre_, r);
      held_[size_t(slot)] = Y;
    }
    return d + apron_;
  }

 private:
  const unsigned char* source_;
  uint32_t sourcePitch_;
  int w_, h_, apron_, first_, firstRow_, total_, mask_;
  const PreOperations* pre_;
  std::vector<T> buffer_;
  std::vector<int> held_;  // the row each slot holds
};

// Row stores into the destination formats of the debayer.
struct Rgb8Row {
  unsigned char* out;
  void operator()(int x, Rgb p) const {
    out[3 * x] = static_cast<unsigned char>(p.r);
    out[3 * x + 1] = static_cast<unsigned char>(p.g);
    out[3 * x + 2] = static_cast<unsigned char>(p.b);
  }
};

struct PlanarRow {
  uint16_t* r;
  uint16_t* g;
  uint16_t* b;
  void operator()(int x, Rgb p) const {
    r[x] = static_cast<uint16_t>(p.r);
    g[x] = static_cast<uint16_t>(p.g);
    b[x] = static_cast<uint16_t>(p.b);
  }
};

inline PlanarRow planarRow(const SurfaceView& d, int64_t y) {
  return {reinterpret_cast<uint16_t*>(d.plane[0] + y * d.pitch), reinterpret_cast<uint16_t*>(d.plane[1] + y * d.pitch),
          reinterpret_cast<uint16_t*>(d.plane[2] + y * d.pitch)};
}

// n RGB8 pixels to `out`, in blue-green-red order where `bgr`; `out` may be
// `rgb` itself.
inline void copyRgb8Pixels(unsigned char* out, const unsigned char* rgb, int n, bool bgr) {
  if (bgr)
    host::swapRgb8(rgb, out, size_t(n));
  else if (out != rgb)
    std::memmove(out, rgb, 3 * size_t(n));
}

// Copies n words to dst, the aligned 16-byte blocks in stores that bypass the
// caches (host::streamBytes; host::streamFence orders them).
inline void streamCopy(uint16_t* dst, const uint16_t* src, int n) {
  host::streamBytes(reinterpret_cast<const uint8_t*>(src), reinterpret_cast<uint8_t*>(dst), 2 * size_t(n));
}

// Whether a driver streams the 16-bit colour it writes: a frame too large to
// stay in the caches is then written without being read first.
inline bool streamsColour16(const SurfaceView& d) { return 6 * uint64_t(d.width) * d.height >= (uint64_t{8} << 20); }

// n pixels of three planes' rows to row y of d from column x0, in d's layout:
// plane by plane, or interleaved; where `stream`, streamed (streamCopy).
void copyPlanarPixels(const SurfaceView& d, int64_t y, int x0, const uint16_t* r, const uint16_t* g, const uint16_t* b,
                      int n, bool stream = false);

// The planar rows a thread's driver writes destination rows to: the
// destination's own planes, or, for an interleaved destination, rows of its
// own that deliver(y) interleaves into destination row y.
class PlanarRows16 {
 public:
  explicit PlanarRows16(const SurfaceView& d) : d_(d), stream_(isInterleaved16(d.format) && streamsColour16(d)) {
    if (isInterleaved16(d.format)) own_.resize(3 * size_t(d.width));
  }
  // The rows it streamed are fenced before the thread's work counts as done.
  ~PlanarRows16() {
    if (stream_) host::streamFence();
  }
  PlanarRows16(const PlanarRows16&) = delete;
  PlanarRows16& operator=(const PlanarRows16&) = delete;
  PlanarRow row(int64_t y) {
    if (own_.empty()) return planarRow(d_, y);
    return {own_.data(), own_.data() + d_.width, own_.data() + 2 * size_t(d_.width)};
  }
  void deliver(int64_t y) const {
    if (!own_.empty())
      copyPlanarPixels(d_, y, 0, own_.data(), own_.data() + d_.width, own_.data() + 2 * size_t(d_.width), int(d_.width),
                       stream_);
  }

 private:
  const SurfaceView& d_;
  bool stream_;
  std::vector<uint16_t> own_;
};

}  // namespace opix
