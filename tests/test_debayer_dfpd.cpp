// DFPD against a whole-image evaluation of its steps with mirrored borders,
// on every pattern, bit depth and awkward size; the decision rule on fields
// built to tie or to favour one direction; the memory the 16-bit path adds.
#include "BayerTraits.h"
#include "DFPDMath.h"
#include "DebayerSupport.h"

using namespace opix;
using namespace opix::test;

namespace {

const opixBayerPattern_t kPatterns[] = {OPIX_BAYER_RGGB, OPIX_BAYER_BGGR, OPIX_BAYER_GBRG, OPIX_BAYER_GRBG};

int limitOf(opixSurfaceFormat_t f) { return f == OPIX_I8 ? 255 : f == OPIX_I12 ? 4095 : 65535; }

// The method step by step over the whole image, in mosaic coordinates, each
// step a full array over the image and a margin around it.
class Reference {
 public:
  Reference(const Mosaic& m, opixBayerPattern_t p) : m_(m), p_(p), w_(int(m.width)), h_(int(m.height)) {
    const int hi = limitOf(m.format);
    const int gmax = m.format == OPIX_I8 ? 255 : 65535;  // gradients of 8-bit sources fit a byte
    auto sat = [&](int v) { return std::min(std::max(v, 0), hi); };
    Plane s = make(), gh = make(), gv = make(), dh = make(), dv = make(), g = make(), horiz = make();
    Plane rowCol = make(), colCol = make();
    for (int v = -kPad; v < h_ + kPad; ++v)
      for (int u = -kPad; u < w_ + kPad; ++u) s.at(u, v) = sample(u, v);
    // Directional green at red and blue sites.
    each(2, [&](int u, int v) {
      if (green(u, v)) return;
      gh.at(u, v) =
          sat((2 * (s.at(u - 1, v) + s.at(u + 1, v)) + 2 * s.at(u, v) - s.at(u - 2, v) - s.at(u + 2, v)) >> 2);
      gv.at(u, v) =
          sat((2 * (s.at(u, v - 1) + s.at(u, v + 1)) + 2 * s.at(u, v) - s.at(u, v - 2) - s.at(u, v + 2)) >> 2);
    });
    // Gradients of the colour differences to the next site of the same colour.
    each(4, [&](int u, int v) {
      if (green(u, v)) return;
      dh.at(u, v) = std::min(gmax, std::abs((s.at(u, v) - gh.at(u, v)) - (s.at(u + 2, v) - gh.at(u + 2, v))));
      dv.at(u, v) = std::min(gmax, std::abs((s.at(u, v) - gv.at(u, v)) - (s.at(u, v + 2) - gv.at(u, v + 2))));
    });
    // Classifier and final green.
    each(8, [&](int u, int v) {
      if (green(u, v)) {
        g.at(u, v) = s.at(u, v);
        return;
      }
      const int sumH = 3 * (dh.at(u - 2, v) + dh.at(u, v)) + dh.at(u - 2, v - 2) + dh.at(u, v - 2) +
                       dh.at(u - 2, v + 2) + dh.at(u, v + 2) + dh.at(u - 1, v - 1) + dh.at(u - 1, v + 1);
      const int sumV = 3 * (dv.at(u, v - 2) + dv.at(u, v)) + dv.at(u - 2, v - 2) + dv.at(u - 2, v) +
                       dv.at(u + 2, v - 2) + dv.at(u + 2, v) + dv.at(u - 1, v - 1) + dv.at(u + 1, v - 1);
      horiz.at(u, v) = sumH <= sumV;
      g.at(u, v) = horiz.at(u, v) ? gh.at(u, v) : gv.at(u, v);
    });
    // Red and blue at greens, from the two sites left and right, and above and below.
    each(9, [&](int u, int v) {
      if (!green(u, v)) return;
      auto diff = [&](int a, int b) { return s.at(a, b) - g.at(a, b); };
      rowCol.at(u, v) = sat(s.at(u, v) + ((diff(u - 1, v) + diff(u + 1, v)) >> 1));
      colCol.at(u, v) = sat(s.at(u, v) + ((diff(u, v - 1) + diff(u, v + 1)) >> 1));
    });
    // Pixels.
    pixels_.resize(size_t(w_) * h_);
    for (int v = 0; v < h_; ++v)
      for (int u = 0; u < w_; ++u) {
        Pixel& out = pixels_[size_t(v) * w_ + u];
        const int colour = siteColour(p_, u, v);
        if (colour == 1) {
          const bool redRow = siteColour(p_, u + 1, v) == 0;
          out = redRow ? Pixel{rowCol.at(u, v), s.at(u, v), colCol.at(u, v)}
                       : Pixel{colCol.at(u, v), s.at(u, v), rowCol.at(u, v)};
          continue;
        }
        // The colour this site lacks, at each green neighbour.
        auto lacking = [&](int a, int b) {
          const bool sameRow = b == v;
          const int missing = sameRow ? colCol.at(a, b) : rowCol.at(a, b);
          const int own = sameRow ? rowCol.at(a, b) : colCol.at(a, b);
          return missing - own;
        };
        const int other = horiz.at(u, v) ? sat(s.at(u, v) + ((lacking(u - 1, v) + lacking(u + 1, v)) >> 1))
                                         : sat(s.at(u, v) + ((lacking(u, v - 1) + lacking(u, v + 1)) >> 1));
        out = colour == 0 ? Pixel{s.at(u, v), g.at(u, v), other} : Pixel{other, g.at(u, v), s.at(u, v)};
      }
  }

  const Pixel& pixel(int u, int v) const { return pixels_[size_t(v) * w_ + u]; }

 private:
  static constexpr int kPad = 12;
  struct Plane {
    int w, pad;
    std::vector<int> v;
    int& at(int x, int y) { return v[size_t(y + pad) * (w + 2 * pad) + (x + pad)]; }
  };
  Plane make() const { return {w_, kPad, std::vector<int>(size_t(w_ + 2 * kPad) * (h_ + 2 * kPad))}; }
  template <class F>
  void each(int reach, F&& f) const {
    for (int v = -kPad + reach; v < h_ + kPad - reach; ++v)
      for (int u = -kPad + reach; u < w_ + kPad - reach; ++u) f(u, v);
  }
  bool green(int u, int v) const { return siteColour(p_, u, v) == 1; }
  // Reflection about the edge rows and columns, repeated for the margin of
  // small images (the pixels themselves see one reflection from 7 samples).
  static int mirror(int i, int n) {
    if (n == 1) return 0;
    while (i < 0 || i >= n) i = i < 0 ? -i : 2 * (n - 1) - i;
    return i;
  }
  int sample(int u, int v) const { return m_.at(mirror(u, w_), mirror(v, h_)); }

  const Mosaic& m_;
  opixBayerPattern_t p_;
  int w_, h_;
  std::vector<Pixel> pixels_;
};

void expectReference(const DebayerRun& run, const Mosaic& m, opixBayerPattern_t p) {
  const Reference ref(m, p);
  for (uint32_t y = 0; y < m.height; ++y)
    for (uint32_t x = 0; x < m.width; ++x)
      ASSERT_EQ(run.pixel(x, y), ref.pixel(int(x), int(y))) << opixBayerPatternName(p) << " pixel " << x << "," << y;
}

Mosaic fieldOf(uint32_t w, uint32_t h, opixSurfaceFormat_t f, int (*value)(int u, int v)) {
  Mosaic m{w, h, f, std::vector<int>(size_t(w) * h)};
  for (uint32_t v = 0; v < h; ++v)
    for (uint32_t u = 0; u < w; ++u) m.samples[v * w + u] = value(int(u), int(v));
  return m;
}

}  // namespace

TEST(Dfpd, MatchesItsStepsOnEveryPatternDepthAndSize) {
  struct Size {
    uint32_t w, h;
  };
  // The minimum, odd sizes, and widths and heights just above the tile sizes
  // (128 x 16 for 8 bits, 64 x 32 for 16 bits; 4096 x 64 on the host, whose
  // last tile here is 3 columns or 3 rows).
  const Size sizes[] = {{64, 64}, {67, 65}, {129, 81}, {65, 97}, {131, 66}, {1027, 131}, {4099, 67}};
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16})
    for (const Size& sz : sizes) {
      DebayerRun run(OPIX_DFPD, sz.w, sz.h, f);
      ASSERT_EQ(run.status, OPIX_OK);
      EXPECT_EQ(run.destination->surfaceFormat, f == OPIX_I8    ? OPIX_RGB8
                                                : f == OPIX_I12 ? OPIX_RGB12_PLANAR
                                                                : OPIX_RGB16_PLANAR);
      for (opixBayerPattern_t p : kPatterns) {
        SCOPED_TRACE(std::string(opixSurfaceFormatName(f)) + " " + std::to_string(sz.w) + "x" + std::to_string(sz.h));
        const Mosaic m = randomMosaic(sz.w, sz.h, f, sz.w * 5 + sz.h + p);
        ASSERT_EQ(run.run(m, p), OPIX_OK);
        expectReference(run, m, p);
        ASSERT_TRUE(run.onlyPixelsWritten());
      }
    }
}

// The host keeps every step of 8- and 12-bit sources in 16-bit lanes and the
// values of 16-bit ones in 16-bit arrays, which holds only within the bounds
// of the samples' range: mosaics of nothing but 0 and the limit give the
// largest gradients and classifier sums. 12-bit surfaces may hold larger
// values, which a tile that reads one must take in wider lanes: here in the
// band of rows 64 to 127 only, and at a row the bands on both sides read.
TEST(Dfpd, ExtremeSamplesAndTwelveBitSurfacesHoldingMore) {
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16}) {
    DebayerRun run(OPIX_DFPD, 1027, 200, f);
    Mosaic m = randomMosaic(1027, 200, f, 7);
    for (int& v : m.samples) v = v & 1 ? limitOf(f) : 0;
    for (opixBayerPattern_t p : kPatterns) {
      SCOPED_TRACE(opixSurfaceFormatName(f));
      ASSERT_EQ(run.run(m, p), OPIX_OK);
      expectReference(run, m, p);
    }
  }
  DebayerRun run(OPIX_DFPD, 1027, 200, OPIX_I12);
  Mosaic above = randomMosaic(1027, 200, OPIX_I12, 8);
  for (int x = 0; x < 1027; x += 37) above.samples[size_t(90) * 1027 + x] = x & 2 ? 65535 : 4096;
  Mosaic edge = randomMosaic(1027, 200, OPIX_I12, 9);
  edge.samples[size_t(133) * 1027 + 500] = 40000;
  for (const Mosaic* m : {&above, &edge})
    for (opixBayerPattern_t p : kPatterns) {
      ASSERT_EQ(run.run(*m, p), OPIX_OK);
      expectReference(run, *m, p);
    }
}

// A destination too large for the caches is written past them, in blocks of
// 16 bytes between the tiles' unaligned ends.
TEST(Dfpd, LargePlanarDestinations) {
  for (opixSurfaceFormat_t f : {OPIX_I12, OPIX_I16}) {
    DebayerRun run(OPIX_DFPD, 1503, 1001, f);
    const Mosaic m = randomMosaic(1503, 1001, f, 10);
    ASSERT_EQ(run.run(m, OPIX_BAYER_GBRG), OPIX_OK);
    expectReference(run, m, OPIX_BAYER_GBRG);
    EXPECT_TRUE(run.onlyPixelsWritten());
  }
}

// The per-position evaluation the CUDA kernels use, run here on the host
// over the mirrored mosaic in phased coordinates.
TEST(Dfpd, PerPositionMathsMatchesTheSteps) {
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12})
    for (opixBayerPattern_t p : kPatterns) {
      const Mosaic m = randomMosaic(37, 23, f, 11 + p);
      const Reference ref(m, p);
      const PatternShift shift = bayerShift(p);
      auto mirror = [](int i, int n) { return i < 0 ? -i : i >= n ? 2 * (n - 1) - i : i; };
      auto s = [&](int x, int y) { return m.at(mirror(x - shift.sx, 37), mirror(y - shift.sy, 23)); };
      for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) {
          const Rgb c = dfpdPixel(s, x + shift.sx, y + shift.sy, limitOf(f));
          ASSERT_EQ((Pixel{c.r, c.g, c.b}), ref.pixel(x, y)) << opixBayerPatternName(p) << " " << x << "," << y;
        }
    }
}

TEST(Dfpd, CurrentSizeBelowTheMaximumAndBack) {
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I16}) {
    DebayerRun run(OPIX_DFPD, 140, 90, f);
    ASSERT_EQ(run.status, OPIX_OK);
    for (auto [w, h] :
         {std::pair{67u, 65u}, std::pair{140u, 90u}, std::pair{9u, 7u}, std::pair{1u, 1u}, std::pair{64u, 64u}}) {
      const Mosaic m = randomMosaic(w, h, f, w * h);
      for (opixBayerPattern_t p : {OPIX_BAYER_BGGR, OPIX_BAYER_GRBG}) {
        ASSERT_EQ(run.run(m, p), OPIX_OK) << w << "x" << h;
        EXPECT_EQ(run.destination->width, w);
        EXPECT_EQ(run.destination->height, h);
        if (w >= 7 && h >= 7) expectReference(run, m, p);  // one reflection covers the apron
        EXPECT_TRUE(run.onlyPixelsWritten());
      }
    }
  }
}

TEST(Dfpd, UniformFieldsStayUniform) {
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I12, OPIX_I16})
    for (int v : {0, 1, limitOf(f)}) {
      DebayerRun run(OPIX_DFPD, 70, 66, f);
      const Mosaic m{70, 66, f, std::vector<int>(70 * 66, v)};
      for (opixBayerPattern_t p : kPatterns) {
        ASSERT_EQ(run.run(m, p), OPIX_OK);
        for (uint32_t y = 0; y < 66; ++y)
          for (uint32_t x = 0; x < 70; ++x) ASSERT_EQ(run.pixel(x, y), (Pixel{v, v, v})) << x << "," << y;
      }
    }
}

// Along a row the field is (u - 15)^2 in periods of 30 columns, constant
// down each column. The row estimate is then the sample minus 1 and the
// column estimate the sample itself; where every estimate the decision uses
// lies within one period and above 0 (columns 20 to 23 of a period), both
// colour differences are constant in both directions, the two sums tie and
// the row estimate must win.
TEST(Dfpd, TieGoesToTheRowEstimate) {
  for (opixSurfaceFormat_t f : {OPIX_I8, OPIX_I16}) {
    const Mosaic m = fieldOf(96, 64, f, [](int u, int) { return (u % 30 - 15) * (u % 30 - 15); });
    DebayerRun run(OPIX_DFPD, 96, 64, f);
    for (opixBayerPattern_t p : kPatterns) {
      ASSERT_EQ(run.run(m, p), OPIX_OK);
      for (int v = 12; v < 52; ++v)
        for (int u : {50, 51, 52, 53, 80, 81, 82, 83}) {
          if (siteColour(p, u, v) == 1) continue;
          ASSERT_EQ(run.pixel(u, v)[1], m.at(u, v) - 1) << opixBayerPatternName(p) << " " << u << "," << v;
        }
    }
  }
}

// Columns of constant value with a step between columns 30 and 31: the row
// sums grow at the step while the column sums stay 0, so green at the sites
// by the step comes from the column estimate, which is the site's own level.
TEST(Dfpd, VerticalEdgeTakesTheColumnEstimate) {
  const Mosaic m = fieldOf(64, 64, OPIX_I8, [](int u, int) { return u <= 30 ? 200 : 20; });
  DebayerRun run(OPIX_DFPD, 64, 64, OPIX_I8);
  for (opixBayerPattern_t p : kPatterns) {
    ASSERT_EQ(run.run(m, p), OPIX_OK);
    for (int v = 0; v < 64; ++v)
      for (int u = 27; u <= 34; ++u) {
        // At column 30 the row estimate would be (2 * 220 + 400 - 220) >> 2 = 155.
        if (siteColour(p, u, v) != 1) {
          ASSERT_EQ(run.pixel(u, v)[1], m.at(u, v)) << u << "," << v;
        }
      }
  }
}

TEST(Dfpd, MemoryOfBothVariants) {
  uint64_t bytes = 0;
  DebayerRun eight(OPIX_DFPD, 101, 65, OPIX_I8);
  ASSERT_EQ(eight.status, OPIX_OK);
  ASSERT_EQ(opixDebayerGetAllocatedGpuMemorySize(eight.handle(), &bytes), OPIX_OK);
  // Work image 114 samples in a 128-byte pitch, 78 rows rounded to 96; then
  // the RGB8 destination, 304 x 65 bytes reserved as a multiple of 128.
  EXPECT_EQ(bytes, 128u * 96 + 19840);

  DebayerRun twelve(OPIX_DFPD, 101, 65, OPIX_I12);
  ASSERT_EQ(twelve.status, OPIX_OK);
  ASSERT_EQ(opixDebayerGetAllocatedGpuMemorySize(twelve.handle(), &bytes), OPIX_OK);
  // Work image 256 x 96; three planes of 204 x 65 bytes, ending at 64356,
  // so the intermediate planes start at 64384. With W2 = 101 + 64 + 5 = 170
  // and H2 = 65 + 32 + 6 = 103: two planes of 256 x 51 bytes (green) and two
  // of 128 x 51 (decisions).
  EXPECT_EQ(bytes, 64384u + 2 * 256 * 51 + 2 * 128 * 51);
  EXPECT_EQ(twelve.destination->surfaceFormat, OPIX_RGB12_PLANAR);
}
