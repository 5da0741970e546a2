// A small DNG writer for the camera raw tests: one uncompressed CFA image in
// IFD 0, with the tags a raw developer reads (pattern, black and white
// levels, as-shot neutral, colour matrix, active area).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace opix::test {

struct DngImage {
  uint32_t width = 0, height = 0;    // whole sensor, margins included
  uint32_t bits = 16;                // 16: 16-bit words; below: packed, most significant bit first
  std::vector<uint16_t> samples;     // width x height
  uint8_t cfa[4] = {0, 1, 1, 2};     // colours of the 2 x 2 cell at the active area's top-left (0 R, 1 G, 2 B)
  uint32_t black[4] = {0, 0, 0, 0};  // per site of the 2 x 2 cell
  uint32_t white = 65535;
  uint32_t neutral[3][2] = {{1, 1}, {1, 1}, {1, 1}};  // as-shot neutral, rationals
  int32_t colourMatrix[9][2] = {{1, 1}, {0, 1}, {0, 1}, {0, 1}, {1, 1}, {0, 1}, {0, 1}, {0, 1}, {1, 1}};
  uint32_t activeArea[4] = {0, 0, 0, 0};  // top, left, bottom, right; all 0: the whole sensor
  std::string make = "Opix", model = "Test Camera";
};

class TiffBuilder {
 public:
  void add(uint16_t tag, uint16_t type, uint32_t count, const std::vector<uint8_t>& value) {
    entries_.push_back({tag, type, count, value});
  }
  template <class T>
  static std::vector<uint8_t> bytes(const std::vector<T>& v) {
    std::vector<uint8_t> b;
    for (T x : v)
      for (size_t i = 0; i < sizeof(T); ++i) b.push_back(static_cast<uint8_t>(static_cast<uint64_t>(x) >> (8 * i)));
    return b;
  }
  // Header, pixel data, IFD, then the values that do not fit an entry.
  std::vector<uint8_t> build(const std::vector<uint8_t>& pixels, uint16_t stripOffsetTag) {
    std::vector<uint8_t> out = {'I', 'I', 42, 0, 0, 0, 0, 0};
    const uint32_t pixelsAt = 8;
    out.insert(out.end(), pixels.begin(), pixels.end());
    while (out.size() % 4) out.push_back(0);
    for (auto& e : entries_)
      if (e.tag == stripOffsetTag) e.value = bytes(std::vector<uint32_t>{pixelsAt});
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    const uint32_t ifdAt = static_cast<uint32_t>(out.size());
    put32(out, 4, ifdAt);
    uint32_t extraAt = ifdAt + 2 + 12 * static_cast<uint32_t>(entries_.size()) + 4;
    std::vector<uint8_t> ifd, extra;
    push16(ifd, static_cast<uint16_t>(entries_.size()));
    for (const Entry& e : entries_) {
      push16(ifd, e.tag);
      push16(ifd, e.type);
      push32(ifd, e.count);
      if (e.value.size() <= 4) {
        std::vector<uint8_t> v = e.value;
        v.resize(4, 0);
        ifd.insert(ifd.end(), v.begin(), v.end());
      } else {
        push32(ifd, extraAt + static_cast<uint32_t>(extra.size()));
        extra.insert(extra.end(), e.value.begin(), e.value.end());
        if (extra.size() % 2) extra.push_back(0);
      }
    }
    push32(ifd, 0);
    out.insert(out.end(), ifd.begin(), ifd.end());
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
  }

 private:
  struct Entry {
    uint16_t tag, type;
    uint32_t count;
    std::vector<uint8_t> value;
  };
  static void push16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
  static void push32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  static void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  std::vector<Entry> entries_;
};

inline std::vector<uint8_t> dngBytes(const DngImage& d) {
  enum : uint16_t { BYTE = 1, ASCII = 2, SHORT = 3, LONG = 4, RATIONAL = 5, SRATIONAL = 10 };
  std::vector<uint8_t> pixels;
  for (uint32_t y = 0; y < d.height; ++y) {
    if (d.bits == 16) {
      for (uint32_t x = 0; x < d.width; ++x) {
        const uint16_t v = d.samples[size_t{y} * d.width + x];
        pixels.push_back(static_cast<uint8_t>(v));
        pixels.push_back(static_cast<uint8_t>(v >> 8));
      }
    } else {
      // Rows start on a byte; bits most significant first.
      uint64_t acc = 0;
      int have = 0;
      for (uint32_t x = 0; x < d.width; ++x) {
        acc = (acc << d.bits) | d.samples[size_t{y} * d.width + x];
        have += static_cast<int>(d.bits);
        while (have >= 8) {
          pixels.push_back(static_cast<uint8_t>(acc >> (have - 8)));
          have -= 8;
        }
      }
      if (have) pixels.push_back(static_cast<uint8_t>(acc << (8 - have)));
    }
  }
  auto ascii = [](const std::string& s) {
    std::vector<uint8_t> v(s.begin(), s.end());
    v.push_back(0);
    return v;
  };
  using B = TiffBuilder;
  B t;
  t.add(254, LONG, 1, B::bytes(std::vector<uint32_t>{0}));
  t.add(256, LONG, 1, B::bytes(std::vector<uint32_t>{d.width}));
  t.add(257, LONG, 1, B::bytes(std::vector<uint32_t>{d.height}));
  t.add(258, SHORT, 1, B::bytes(std::vector<uint16_t>{static_cast<uint16_t>(d.bits)}));
  t.add(259, SHORT, 1, B::bytes(std::vector<uint16_t>{1}));
  t.add(262, SHORT, 1, B::bytes(std::vector<uint16_t>{32803}));
  t.add(271, ASCII, static_cast<uint32_t>(d.make.size() + 1), ascii(d.make));
  t.add(272, ASCII, static_cast<uint32_t>(d.model.size() + 1), ascii(d.model));
  t.add(273, LONG, 1, B::bytes(std::vector<uint32_t>{0}));
  t.add(274, SHORT, 1, B::bytes(std::vector<uint16_t>{1}));
  t.add(277, SHORT, 1, B::bytes(std::vector<uint16_t>{1}));
  t.add(278, LONG, 1, B::bytes(std::vector<uint32_t>{d.height}));
  t.add(279, LONG, 1, B::bytes(std::vector<uint32_t>{static_cast<uint32_t>(pixels.size())}));
  t.add(284, SHORT, 1, B::bytes(std::vector<uint16_t>{1}));
  t.add(33421, SHORT, 2, B::bytes(std::vector<uint16_t>{2, 2}));
  t.add(33422, BYTE, 4, std::vector<uint8_t>(d.cfa, d.cfa + 4));
  t.add(50706, BYTE, 4, std::vector<uint8_t>{1, 4, 0, 0});
  t.add(50707, BYTE, 4, std::vector<uint8_t>{1, 1, 0, 0});
  t.add(50708, ASCII, static_cast<uint32_t>(d.make.size() + d.model.size() + 2), ascii(d.make + " " + d.model));
  t.add(50710, BYTE, 3, std::vector<uint8_t>{0, 1, 2});
  t.add(50711, SHORT, 1, B::bytes(std::vector<uint16_t>{1}));
  t.add(50713, SHORT, 2, B::bytes(std::vector<uint16_t>{2, 2}));
  t.add(50714, LONG, 4, B::bytes(std::vector<uint32_t>(d.black, d.black + 4)));
  t.add(50717, LONG, 1, B::bytes(std::vector<uint32_t>{d.white}));
  std::vector<int32_t> cm;
  for (const auto& r : d.colourMatrix) cm.insert(cm.end(), {r[0], r[1]});
  t.add(50721, SRATIONAL, 9, B::bytes(cm));
  std::vector<uint32_t> n;
  for (const auto& r : d.neutral) n.insert(n.end(), {r[0], r[1]});
  t.add(50728, RATIONAL, 3, B::bytes(n));
  t.add(50778, SHORT, 1, B::bytes(std::vector<uint16_t>{21}));
  if (d.activeArea[2] != 0) t.add(50829, LONG, 4, B::bytes(std::vector<uint32_t>(d.activeArea, d.activeArea + 4)));
  return t.build(pixels, 273);
}

inline bool writeDng(const std::string& path, const DngImage& d) {
  const std::vector<uint8_t> b = dngBytes(d);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace opix::test
