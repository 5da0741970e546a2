// The one-dimensional look-up tables: every type on every format it takes
// against an independent reference of its indexing, the destination formats,
// Bayer sites, the interpolating 16-bit lookup, records at Create and
// Transform, and the record printers.
#include <algorithm>
#include <cstring>

#include "FilterSupport.h"

using namespace opix;
using namespace opix::test;

namespace {

enum class Kind { Masked, Interpolated, Shifted, FullRange };

// What each LUT type takes, restated from its documentation.
struct LutType {
  opixImageFilterType_t type;
  uint32_t entries, entryBytes;
  int tables;
  bool bayer;
  int outBits;
  Kind kind;
  std::vector<opixSurfaceFormat_t> sources;
  size_t recordSize;
};

const std::vector<LutType>& lutTypes() {
  using K = Kind;
  static const std::vector<LutType> types = {
      {OPIX_LUT_8_8, 256, 1, 1, false, 8, K::Masked, {OPIX_I8, OPIX_RGB8}, sizeof(opixLut_8_t)},
      {OPIX_LUT_8_8_C, 256, 1, 3, false, 8, K::Masked, {OPIX_RGB8}, sizeof(opixLut_8_C_t)},
      {OPIX_LUT_8_12, 256, 2, 1, false, 12, K::Masked, {OPIX_I8, OPIX_RGB8}, sizeof(opixLut_8_16_t)},
      {OPIX_LUT_8_12_C, 256, 2, 3, false, 12, K::Masked, {OPIX_RGB8}, sizeof(opixLut_8_16_C_t)},
      {OPIX_LUT_8_16, 256, 2, 1, false, 16, K::Masked, {OPIX_I8, OPIX_RGB8}, sizeof(opixLut_8_16_t)},
      {OPIX_LUT_8_16_C, 256, 2, 3, false, 16, K::Masked, {OPIX_RGB8}, sizeof(opixLut_8_16_C_t)},
      {OPIX_LUT_8_16_BAYER, 256, 2, 3, true, 16, K::Masked, {OPIX_I8}, sizeof(opixLut_8_16_Bayer_t)},
      {OPIX_LUT_10_16, 1024, 2, 1, false, 16, K::Masked, {OPIX_I10}, sizeof(opixLut_10_t)},
      {OPIX_LUT_10_16_BAYER, 1024, 2, 3, true, 16, K::Masked, {OPIX_I10}, sizeof(opixLut_10_16_Bayer_t)},
      {OPIX_LUT_12_8, 4096, 1, 1, false, 8, K::Masked, {OPIX_I12, OPIX_RGB12_PLANAR}, sizeof(opixLut_12_8_t)},
      {OPIX_LUT_12_8_C, 4096, 1, 3, false, 8, K::Masked, {OPIX_RGB12_PLANAR}, sizeof(opixLut_12_8_C_t)},
      {OPIX_LUT_12_12, 4096, 2, 1, false, 12, K::Masked, {OPIX_I12, OPIX_RGB12_PLANAR}, sizeof(opixLut_12_t)},
      {OPIX_LUT_12_12_C, 4096, 2, 3, false, 12, K::Masked, {OPIX_RGB12_PLANAR}, sizeof(opixLut_12_C_t)},
      {OPIX_LUT_12_16, 4096, 2, 1, false, 16, K::Masked, {OPIX_I12, OPIX_RGB12_PLANAR}, sizeof(opixLut_12_t)},
      {OPIX_LUT_12_16_C, 4096, 2, 3, false, 16, K::Masked, {OPIX_RGB12_PLANAR}, sizeof(opixLut_12_C_t)},
      {OPIX_LUT_12_16_BAYER, 4096, 2, 3, true, 16, K::Masked, {OPIX_I12}, sizeof(opixLut_12_16_Bayer_t)},
      {OPIX_LUT_14_16, 16384, 2, 1, false, 16, K::Masked, {OPIX_I14}, sizeof(opixLut_16_t)},
      {OPIX_LUT_14_16_BAYER, 16384, 2, 3, true, 16, K::Masked, {OPIX_I14}, sizeof(opixLut_16_Bayer_t)},
      {OPIX_LUT_16_16, 16384, 2, 1, false, 16, K::Interpolated, {OPIX_I16, OPIX_RGB16_PLANAR}, sizeof(opixLut_16_t)},
      {OPIX_LUT_16_16_C, 16384, 2, 3, false, 16, K::Interpolated, {OPIX_RGB16_PLANAR}, sizeof(opixLut_16_C_t)},
      {OPIX_LUT_16_8, 16384, 1, 1, false, 8, K::Shifted, {OPIX_I16, OPIX_RGB16_PLANAR}, sizeof(opixLut_16_8_t)},
      {OPIX_LUT_16_8_C, 16384, 1, 3, false, 8, K::Shifted, {OPIX_RGB16_PLANAR}, sizeof(opixLut_16_8_C_t)},
      {OPIX_LUT_16_16_BAYER, 16384, 2, 3, true, 16, K::Interpolated, {OPIX_I16}, sizeof(opixLut_16_Bayer_t)},
      {OPIX_LUT_16_16_FR, 65536, 2, 1, false, 16, K::FullRange, {OPIX_I16, OPIX_RGB16_PLANAR}, sizeof(opixLut_16_FR_t)},
      {OPIX_LUT_16_16_FR_C, 65536, 2, 3, false, 16, K::FullRange, {OPIX_RGB16_PLANAR}, sizeof(opixLut_16_FR_C_t)},
      {OPIX_LUT_16_16_FR_BAYER, 65536, 2, 3, true, 16, K::FullRange, {OPIX_I16}, sizeof(opixLut_16_FR_Bayer_t)},
  };
  return types;
}

// Tables and the record bytes that carry them.
struct Tables {
  std::vector<std::vector<uint32_t>> t;
  opixBayerPattern_t pattern = OPIX_BAYER_RGGB;

  std::vector<uint8_t> record(const LutType& l) const {
    std::vector<uint8_t> r(l.recordSize, 0);
    for (int k = 0; k < l.tables; ++k)
      for (uint32_t i = 0; i < l.entries; ++i) {
        const uint16_t v = uint16_t(t[k][i]);
        std::memcpy(&r[(size_t(k) * l.entries + i) * l.entryBytes], &v, l.entryBytes);
      }
    if (l.bayer) std::memcpy(&r[size_t(l.tables) * l.entries * l.entryBytes], &pattern, sizeof pattern);
    return r;
  }
};

// Random entries over the whole entry range (above 4095 for 12-bit outputs too).
Tables randomTables(const LutType& l, uint32_t seed) {
  std::mt19937 rng(seed);
  Tables tb;
  tb.t.assign(l.tables, std::vector<uint32_t>(l.entries));
  for (auto& table : tb.t)
    for (auto& e : table) e = rng() % (l.entryBytes == 1 ? 256u : 65536u);
  return tb;
}

int bayerColour(opixBayerPattern_t p, uint32_t x, uint32_t y) {
  const char* cells[] = {"", "RGGB", "BGGR", "GBRG", "GRBG"};
  const char s = cells[p][(x & 1) + 2 * (y & 1)];
  return s == 'R' ? 0 : s == 'G' ? 1 : 2;
}

uint32_t expected(const LutType& l, const Tables& tb, uint32_t v, uint32_t c, uint32_t x, uint32_t y) {
  const int k = l.bayer ? bayerColour(tb.pattern, x, y) : l.tables == 3 ? int(c) : 0;
  const std::vector<uint32_t>& t = tb.t[k];
  const uint32_t hi = (1u << l.outBits) - 1;
  auto entry = [&](uint32_t i) { return std::min(t[std::min(i, l.entries - 1)], hi); };
  switch (l.kind) {
    case Kind::Interpolated: {
      const uint32_t i = v / 4, f = v % 4;
      return ((4 - f) * entry(i) + f * entry(i + 1)) / 4;
    }
    case Kind::Shifted: return entry(v / 4);
    default: return entry(v % l.entries);
  }
}

opixSurfaceFormat_t expectedDestination(const LutType& l, opixSurfaceFormat_t source) {
  const bool colour = opixFormatChannels(source) == 3;
  switch (l.outBits) {
    case 8: return colour ? OPIX_RGB8 : OPIX_I8;
    case 12: return colour ? OPIX_RGB12_PLANAR : OPIX_I12;
    default: return colour ? OPIX_RGB16_PLANAR : OPIX_I16;
  }
}

const opixSurfaceFormat_t kFormats[] = {OPIX_I8,   OPIX_I10,  OPIX_I12,          OPIX_I14,         OPIX_I16,
                                        OPIX_RGB8, OPIX_BGR8, OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR};

}  // namespace

TEST(Lut, AcceptedAndRefusedSourcesAndDestinationFormats) {
  for (const LutType& l : lutTypes())
    for (opixSurfaceFormat_t f : kFormats) {
      SCOPED_TRACE(std::string(opixImageFilterTypeName(l.type)) + " on " + opixSurfaceFormatName(f));
      const bool accepted = std::count(l.sources.begin(), l.sources.end(), f) > 0;
      FilterRun run(l.type, nullptr, 64, 64, f);
      if (!accepted) {
        EXPECT_EQ(run.status, OPIX_UNSUPPORTED_SURFACE);
        continue;
      }
      ASSERT_EQ(run.status, OPIX_OK);
      EXPECT_EQ(run.destination->surfaceFormat, expectedDestination(l, f));
      EXPECT_EQ(run.destination->maxWidth, 64u);
    }
}

TEST(Lut, EveryTypeAndSourceAgainstItsIndexing) {
  uint32_t seed = 1;
  for (const LutType& l : lutTypes())
    for (opixSurfaceFormat_t f : l.sources)
      for (opixBayerPattern_t p : {OPIX_BAYER_RGGB, OPIX_BAYER_GBRG, OPIX_BAYER_BGGR, OPIX_BAYER_GRBG}) {
        if (!l.bayer && p != OPIX_BAYER_RGGB) continue;
        SCOPED_TRACE(std::string(opixImageFilterTypeName(l.type)) + " on " + opixSurfaceFormatName(f) + " " +
                     opixBayerPatternName(p));
        Tables tb = randomTables(l, ++seed);
        tb.pattern = p;
        const std::vector<uint8_t> record = tb.record(l);
        FilterRun run(l.type, record.data(), 70, 40, f);
        ASSERT_EQ(run.status, OPIX_OK);
        // Awkward widths: partial words at the row end, odd heights.
        for (auto [w, h] : {std::pair<uint32_t, uint32_t>{70, 40}, {1, 1}, {5, 3}, {67, 13}}) {
          const Image in = randomImage(w, h, f, ++seed);
          ASSERT_EQ(run.run(in), OPIX_OK);
          for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
              for (uint32_t c = 0; c < in.channels(); ++c)
                ASSERT_EQ(run.out.at(x, y, c), expected(l, tb, in.at(x, y, c), c, x, y))
                    << "(" << x << ", " << y << ") channel " << c << " input " << in.at(x, y, c) << " size " << w << "x"
                    << h;
          EXPECT_TRUE(run.onlyPixelsWritten());
        }
      }
}

// A new table every frame, as a chain that tracks exposure sends: each frame
// is mapped through its own table, the same bytes as a filter created with
// that table gives, and Transform makes nothing on the host backend.
TEST(Lut, ANewTableEveryFrame) {
  uint32_t seed = 700;
  for (opixImageFilterType_t type : {OPIX_LUT_8_8_C, OPIX_LUT_12_12, OPIX_LUT_16_16_C, OPIX_LUT_16_8,
                                     OPIX_LUT_16_16_BAYER, OPIX_LUT_16_16_FR, OPIX_LUT_16_16_FR_BAYER}) {
    const LutType& l =
        *std::find_if(lutTypes().begin(), lutTypes().end(), [&](const LutType& t) { return t.type == type; });
    const opixSurfaceFormat_t f = l.sources.back();
    SCOPED_TRACE(std::string(opixImageFilterTypeName(l.type)) + " on " + opixSurfaceFormatName(f));
    FilterRun run(l.type, nullptr, 37, 6, f);
    ASSERT_EQ(run.status, OPIX_OK);
    std::vector<Tables> tables;
    std::vector<Image> inputs, outputs;
    std::vector<std::vector<uint8_t>> bytes;
    const uint64_t made = device::hostAllocations();
    for (int frame = 0; frame < 4; ++frame) {
      tables.push_back(randomTables(l, ++seed));
      tables.back().pattern = opixBayerPattern_t(1 + frame % 4);
      inputs.push_back(randomImage(37, 6, f, ++seed));
      const std::vector<uint8_t> record = tables.back().record(l);
      ASSERT_EQ(run.run(inputs.back(), record.data()), OPIX_OK);
      outputs.push_back(run.out);
      bytes.push_back(run.raw);
    }
    if (g_backend != Backend::Cuda) {
      EXPECT_EQ(device::hostAllocations(), made);
    }
    for (size_t frame = 0; frame < tables.size(); ++frame) {
      const Image& in = inputs[frame];
      for (uint32_t y = 0; y < in.height; ++y)
        for (uint32_t x = 0; x < in.width; ++x)
          for (uint32_t c = 0; c < in.channels(); ++c)
            ASSERT_EQ(outputs[frame].at(x, y, c), expected(l, tables[frame], in.at(x, y, c), c, x, y))
                << "frame " << frame << " (" << x << ", " << y << ") channel " << c;
      const std::vector<uint8_t> record = tables[frame].record(l);
      FilterRun fresh(l.type, record.data(), 37, 6, f);
      ASSERT_EQ(fresh.status, OPIX_OK);
      ASSERT_EQ(fresh.run(in), OPIX_OK);
      EXPECT_EQ(fresh.raw, bytes[frame]) << "frame " << frame;
    }
  }
}

TEST(Lut, WorkedExamples) {
  {  // The identity leaves a 12-bit image as it is.
    opixLut_12_t id;
    for (uint32_t i = 0; i < 4096; ++i) id.lut[i] = uint16_t(i);
    FilterRun run(OPIX_LUT_12_12, &id, 33, 7, OPIX_I12);
    const Image in = randomImage(33, 7, OPIX_I12, 5);
    ASSERT_EQ(run.run(in), OPIX_OK);
    EXPECT_EQ(run.out.v, in.v);
  }
  {  // 16 -> 16 interpolates with two fraction bits; the last entry repeats.
    static opixLut_16_t t;
    for (uint32_t i = 0; i < 16384; ++i) t.lut[i] = uint16_t(4 * i);
    t.lut[100] = 0;
    t.lut[101] = 400;
    FilterRun run(OPIX_LUT_16_16, &t, 4, 1, OPIX_I16);
    ASSERT_EQ(run.run(Image{4, 1, OPIX_I16, {65535, 402, 403, 8}}), OPIX_OK);
    EXPECT_EQ(run.out.v, (std::vector<uint32_t>{65532, 200, 300, 8}));
  }
  {  // 16 -> 8 reads T[v >> 2].
    static opixLut_16_8_t t;
    for (uint32_t i = 0; i < 16384; ++i) t.lut[i] = uint8_t(i == 255 ? 77 : 1);
    FilterRun run(OPIX_LUT_16_8, &t, 2, 1, OPIX_I16);
    ASSERT_EQ(run.run(Image{2, 1, OPIX_I16, {1023, 1024}}), OPIX_OK);
    EXPECT_EQ(run.out.v, (std::vector<uint32_t>{77, 1}));
  }
  {  // 16-bit Bayer, RGGB: red at (0, 0), green at (1, 0) and (0, 1), blue at (1, 1).
    static opixLut_16_Bayer_t t;
    for (uint32_t i = 0; i < 16384; ++i) {
      t.lut_R[i] = 1000;
      t.lut_G[i] = 2000;
      t.lut_B[i] = 3000;
    }
    t.bayerPattern = OPIX_BAYER_RGGB;
    FilterRun run(OPIX_LUT_16_16_BAYER, &t, 2, 2, OPIX_I16);
    ASSERT_EQ(run.run(Image{2, 2, OPIX_I16, {5, 6, 7, 8}}), OPIX_OK);
    EXPECT_EQ(run.out.v, (std::vector<uint32_t>{1000, 2000, 2000, 3000}));
  }
  {  // Entries above 4095 are limited to the 12-bit maximum.
    opixLut_8_16_t t;
    for (uint32_t i = 0; i < 256; ++i) t.lut[i] = uint16_t(i * 100);
    FilterRun run(OPIX_LUT_8_12, &t, 3, 1, OPIX_I8);
    ASSERT_EQ(run.run(Image{3, 1, OPIX_I8, {40, 41, 255}}), OPIX_OK);
    EXPECT_EQ(run.out.v, (std::vector<uint32_t>{4000, 4095, 4095}));
  }
}

TEST(Lut, RecordsAtCreateAndTransform) {
  opixLut_8_t invert, half;
  for (uint32_t i = 0; i < 256; ++i) {
    invert.lut[i] = uint8_t(255 - i);
    half.lut[i] = uint8_t(i / 2);
  }
  const Image in = randomImage(9, 4, OPIX_RGB8, 3);
  FilterRun run(OPIX_LUT_8_8, nullptr, 9, 4, OPIX_RGB8);
  ASSERT_EQ(run.status, OPIX_OK);
  {
    TraceCapture trace;
    EXPECT_EQ(run.run(in), OPIX_INVALID_VALUE);
    EXPECT_NE(trace.finish().find("\nLUT is not initialized\n"), std::string::npos);
  }
  {
    TraceCapture trace;
    ASSERT_EQ(run.run(in, &invert), OPIX_OK);
    EXPECT_NE(trace.finish().find("\n\tLut reinit\n"), std::string::npos);
  }
  for (size_t i = 0; i < in.v.size(); ++i) ASSERT_EQ(run.out.v[i], 255 - in.v[i]);
  ASSERT_EQ(run.run(in), OPIX_OK);  // null keeps the table in force
  EXPECT_EQ(run.out.v[0], 255 - in.v[0]);
  ASSERT_EQ(run.run(in, &half), OPIX_OK);  // a record replaces it
  for (size_t i = 0; i < in.v.size(); ++i) ASSERT_EQ(run.out.v[i], in.v[i] / 2);

  // A full range table replaced at Transform reaches its texture.
  static opixLut_16_FR_t a, b;
  for (uint32_t i = 0; i < 65536; ++i) {
    a.lut[i] = uint16_t(i);
    b.lut[i] = uint16_t(65535 - i);
  }
  FilterRun fr(OPIX_LUT_16_16_FR, &a, 5, 2, OPIX_I16);
  const Image in16 = randomImage(5, 2, OPIX_I16, 4);
  ASSERT_EQ(fr.run(in16), OPIX_OK);
  EXPECT_EQ(fr.out.v, in16.v);
  ASSERT_EQ(fr.run(in16, &b), OPIX_OK);
  for (size_t i = 0; i < in16.v.size(); ++i) ASSERT_EQ(fr.out.v[i], 65535 - in16.v[i]);

  // A Bayer record with a pattern outside 1 to 4 is refused.
  static opixLut_12_16_Bayer_t bad{};
  bad.bayerPattern = opixBayerPattern_t(5);
  FilterRun refused(OPIX_LUT_12_16_BAYER, &bad, 8, 8, OPIX_I12);
  EXPECT_EQ(refused.status, OPIX_INVALID_VALUE);
}

TEST(Lut, RecordPrinters) {
  opixLut_8_t t;
  for (uint32_t i = 0; i < 256; ++i) t.lut[i] = uint8_t(i);
  {  // Without print tables a table-only record writes nothing.
    TraceCapture trace;
    FilterRun run(OPIX_LUT_8_8, &t, 8, 8, OPIX_I8);
    const std::string s = trace.finish();
    EXPECT_NE(s.find("\tLut reinit\n"), std::string::npos);
    EXPECT_EQ(s.find("opixLut_8_t"), std::string::npos);
  }
  {
    TraceCapture trace;
    ASSERT_EQ(opixTraceSetPrintTables(true), OPIX_OK);
    FilterRun run(OPIX_LUT_8_8, &t, 8, 8, OPIX_I8);
    static opixLut_12_16_Bayer_t b{};
    b.lut_R[1] = 7;
    b.lut_G[1] = 8;
    b.lut_B[1] = 9;
    b.bayerPattern = OPIX_BAYER_GBRG;
    FilterRun bayer(OPIX_LUT_12_16_BAYER, &b, 8, 8, OPIX_I12);
    ASSERT_EQ(opixTraceSetPrintTables(false), OPIX_OK);
    const std::string s = trace.finish();
    const size_t head = s.find("\tLut reinit\n\topixLut_8_t:\n\t\t0\n\t\t1\n");
    ASSERT_NE(head, std::string::npos);
    EXPECT_NE(s.find("\t\t254\n\t\t255\n", head), std::string::npos);
    EXPECT_NE(s.find("\topixLut_12_16_Bayer_t:\n\t\tbayer pattern: GBRG\n\t\tR\tG\tB\n\t\t0\t0\t0\n\t\t7\t8\t9\n"),
              std::string::npos);
  }
}
