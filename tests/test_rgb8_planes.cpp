// RGB8 pixels parted into planes and joined again, swapped to blue-green-red,
// and 16-bit planes interleaved: the permute paths (where the processor has
// them) give the bytes of plain loops, for every length up to a few
// registers' worth and at every offset of the buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "device/ChannelRows.h"
#include "device/Rgb8Planes.h"

namespace {

TEST(Rgb8Planes, SplitAndJoinEveryLengthAndOffset) {
  std::mt19937 rng(5);
  for (size_t n = 0; n <= 200; ++n)
    for (size_t offset : {size_t{0}, size_t{1}, size_t{3}}) {
      SCOPED_TRACE(std::to_string(n) + " pixels from byte " + std::to_string(offset));
      std::vector<uint8_t> pixels(3 * n + offset + 1);
      for (uint8_t& v : pixels) v = uint8_t(rng());
      const uint8_t* s = pixels.data() + offset;
      // One guard byte past each plane and the joined pixels.
      std::vector<uint8_t> planes[3];
      for (auto& p : planes) p.assign(n + offset + 1, 0xA5);
      opix::host::splitRgb8(s, planes[0].data() + offset, planes[1].data() + offset, planes[2].data() + offset, n);
      for (int c = 0; c < 3; ++c) {
        for (size_t i = 0; i < n; ++i)
          ASSERT_EQ(planes[c][offset + i], s[3 * i + c]) << "pixel " << i << " channel " << c;
        EXPECT_EQ(planes[c][offset + n], 0xA5) << "past plane " << c;
      }
      std::vector<uint8_t> joined(3 * n + offset + 1, 0x5A);
      opix::host::joinRgb8(planes[0].data() + offset, planes[1].data() + offset, planes[2].data() + offset,
                           joined.data() + offset, n);
      for (size_t i = 0; i < 3 * n; ++i) ASSERT_EQ(joined[offset + i], s[i]) << "byte " << i;
      EXPECT_EQ(joined[offset + 3 * n], 0x5A) << "past the pixels";
    }
}

// The swap in place and to another buffer, and the interleave to any byte
// address, streamed or not (the stream only where the address is aligned).
TEST(ChannelRows, SwapAndInterleaveEveryLengthAndOffset) {
  std::mt19937 rng(6);
  for (size_t n = 0; n <= 70; ++n)
    for (size_t offset : {size_t{0}, size_t{1}, size_t{2}, size_t{16}}) {
      SCOPED_TRACE(std::to_string(n) + " pixels at byte " + std::to_string(offset));
      std::vector<uint8_t> rgb(3 * n);
      for (uint8_t& v : rgb) v = uint8_t(rng());
      std::vector<uint8_t> swapped(3 * n + offset + 1, 0xA5), inPlace(3 * n + offset + 1, 0xA5);
      std::copy(rgb.begin(), rgb.end(), inPlace.begin() + long(offset));
      opix::host::swapRgb8(rgb.data(), swapped.data() + offset, n);
      opix::host::swapRgb8(inPlace.data() + offset, inPlace.data() + offset, n);
      for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) {
          ASSERT_EQ(swapped[offset + 3 * i + c], rgb[3 * i + 2 - c]) << "pixel " << i;
          ASSERT_EQ(inPlace[offset + 3 * i + c], rgb[3 * i + 2 - c]) << "pixel " << i << " in place";
        }
      EXPECT_EQ(swapped[offset + 3 * n], 0xA5);
      EXPECT_EQ(inPlace[offset + 3 * n], 0xA5);

      std::vector<uint16_t> planes[3];
      for (auto& p : planes) {
        p.resize(n);
        for (uint16_t& v : p) v = uint16_t(rng());
      }
      for (bool stream : {false, true}) {
        alignas(16) uint8_t out[6 * 70 + 32];
        std::memset(out, 0x5A, sizeof out);
        opix::host::interleave16(planes[0].data(), planes[1].data(), planes[2].data(), out + offset, n, stream);
        opix::host::streamFence();
        for (size_t i = 0; i < n; ++i)
          for (int c = 0; c < 3; ++c) {
            uint16_t v = 0;
            std::memcpy(&v, out + offset + 6 * i + 2 * c, 2);
            ASSERT_EQ(v, planes[c][i]) << "pixel " << i << " channel " << c << (stream ? " streamed" : "");
          }
        EXPECT_EQ(out[offset + 6 * n], 0x5A) << "past the pixels";
      }
    }
}

}  // namespace
