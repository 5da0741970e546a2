// Values, names and size rules of the enumerations.
#include "TestSupport.h"

TEST(StatusNames, EveryValueAndTheFallback) {
  EXPECT_STREQ(opixStatusName(OPIX_OK), "OPIX_OK");
  EXPECT_STREQ(opixStatusName(OPIX_INVALID_DEVICE), "OPIX_INVALID_DEVICE");
  EXPECT_STREQ(opixStatusName(OPIX_INVALID_HANDLE), "OPIX_INVALID_HANDLE");
  EXPECT_STREQ(opixStatusName(OPIX_IO_ERROR), "OPIX_IO_ERROR");
  EXPECT_STREQ(opixStatusName(OPIX_UNRECOGNIZED_ERROR), "OPIX_UNRECOGNIZED_ERROR");
  for (int unnamed : {1, 24, -1, 1000}) EXPECT_STREQ(opixStatusName(unnamed), "other") << unnamed;
  // Each named value has its own name.
  for (int s = 2; s <= 23; ++s) EXPECT_STRNE(opixStatusName(s), opixStatusName(s + 1)) << s;
}

TEST(EnumerationNames, TablesAndFallbacks) {
  EXPECT_STREQ(opixSurfaceFormatName(OPIX_I12), "I12");
  EXPECT_STREQ(opixSurfaceFormatName(OPIX_RGB16), "RGB16");
  EXPECT_STREQ(opixSurfaceFormatName(OPIX_YCbCr), "YCbCr");
  for (int f : {9, 12, 13, 14, 15, -1}) EXPECT_STREQ(opixSurfaceFormatName(opixSurfaceFormat_t(f)), "Other") << f;

  EXPECT_STREQ(opixBayerPatternName(OPIX_BAYER_NONE), "none");
  EXPECT_STREQ(opixBayerPatternName(OPIX_BAYER_GRBG), "GRBG");
  EXPECT_STREQ(opixBayerPatternName(opixBayerPattern_t(5)), "Other");

  EXPECT_STREQ(opixDebayerTypeName(OPIX_DFPD), "DFPD");
  EXPECT_STREQ(opixDebayerTypeName(OPIX_L7), "L7");
  EXPECT_STREQ(opixDebayerTypeName(OPIX_AMAZE), "AMAZE");
  for (int t : {3, 4, 5, 6, 7, 10}) EXPECT_STREQ(opixDebayerTypeName(opixDebayerType_t(t)), "Other") << t;

  EXPECT_STREQ(opixImageFilterTypeName(OPIX_GAUSSIAN_SHARPEN), "Gaussian Sharpen");
  EXPECT_STREQ(opixImageFilterTypeName(OPIX_LUT_16_16_FR_BAYER), "LUT 16->16 (full range, bayer)");
  EXPECT_STREQ(opixImageFilterTypeName(OPIX_SAM16), "SAM16");
  EXPECT_STREQ(opixImageFilterTypeName(OPIX_BINNING), "Binning");
  EXPECT_STREQ(opixImageFilterTypeName(OPIX_GAUSSIAN_BLUR), "Gaussian Blur");
  EXPECT_STREQ(opixImageFilterTypeName(OPIX_FFC), "Flat-Field Correction");
  for (int t : {0, 45, -1}) EXPECT_STREQ(opixImageFilterTypeName(opixImageFilterType_t(t)), "Other") << t;

  EXPECT_STREQ(opixOperationTypeName(OPIX_OP_MULTIPLY), "OPIX_OP_MULTIPLY");
  EXPECT_STREQ(opixOperationTypeName(opixColorSaturationOperationType_t(3)), "Other");
  EXPECT_STREQ(opixBinningModeName(OPIX_BINNING_AVERAGE), "average");
  EXPECT_STREQ(opixBinningModeName(opixBinningMode_t(3)), "Other");
  EXPECT_STREQ(opixConvertTypeName(OPIX_CONVERT_BGR), "BGR");
  EXPECT_STREQ(opixConvertTypeName(opixConvertType_t(2)), "Other");
}

TEST(FormatRules, RowBytesSizesChannelsAndBits) {
  struct Row {
    opixSurfaceFormat_t f;
    uint32_t rowBytes5;  // row bytes of a 5-pixel row
    uint64_t size5x2;    // bytes of a 5 x 2 image
    uint32_t channels, bits;
    float bytesPerElement;
  };
  const Row rows[] = {
      {OPIX_I8, 8, 16, 1, 8, 1},       {OPIX_I10, 12, 24, 1, 10, 2},          {OPIX_I12, 12, 24, 1, 12, 2},
      {OPIX_I14, 12, 24, 1, 14, 2},    {OPIX_I16, 12, 24, 1, 16, 2},          {OPIX_RGB8, 16, 32, 3, 8, 1},
      {OPIX_BGR8, 16, 32, 3, 8, 1},    {OPIX_RGB12, 32, 64, 3, 12, 2},        {OPIX_RGB16, 32, 64, 3, 16, 2},
      {OPIX_BGRX8, 20, 40, 4, 8, 1},   {OPIX_CrCbY, 16, 32, 3, 8, 1},         {OPIX_YCbCr, 16, 32, 3, 8, 1},
      {OPIX_RGB32, 60, 120, 3, 32, 4}, {OPIX_RGB12_PLANAR, 12, 72, 3, 12, 2}, {OPIX_RGB16_PLANAR, 12, 72, 3, 16, 2},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.f);
    EXPECT_EQ(opixRowBytes(r.f, 5), r.rowBytes5);
    EXPECT_EQ(opixImageSize(r.f, 5, 2), r.size5x2);
    EXPECT_EQ(opixFormatChannels(r.f), r.channels);
    EXPECT_EQ(opixFormatBits(r.f), r.bits);
    EXPECT_EQ(opixFormatBytesPerElement(r.f), r.bytesPerElement);
    EXPECT_EQ(opixRowBytes(r.f, 0), 0u);
  }
  for (int bad : {15, -1}) {
    const auto f = static_cast<opixSurfaceFormat_t>(bad);
    EXPECT_EQ(opixRowBytes(f, 5), 0u);
    EXPECT_EQ(opixImageSize(f, 5, 2), 0u);
    EXPECT_EQ(opixFormatChannels(f), 0u);
    EXPECT_EQ(opixFormatBytesPerElement(f), 0.0f);
  }
}

TEST(FormatRules, LargeImagesUse64BitSizes) {
  EXPECT_EQ(opixImageSize(OPIX_RGB16_PLANAR, 40000, 40000), 3ull * 80000 * 40000);
  EXPECT_EQ(opixImageSize(OPIX_RGB32, 65535, 65535), 12ull * 65535 * 65535);
  // A row too long for the 32-bit row size is refused, not wrapped.
  EXPECT_EQ(opixRowBytes(OPIX_RGB32, 0x20000000u), 0u);
}

TEST(FormatRules, RoundUpProduct) {
  EXPECT_EQ(opixRoundUpProduct(5, 3, 1, 4), 16u);
  EXPECT_EQ(opixRoundUpProduct(4, 2, 2, 4), 16u);
  EXPECT_EQ(opixRoundUpProduct(65535, 65535, 6, 4), 25769017352ull);
  EXPECT_EQ(opixRoundUpProduct(7, 1, 1, 128), 128u);
}
