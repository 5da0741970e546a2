// RGB8 pixels parted into planes and joined again: the permute path (where
// the processor has it) and the byte path give the bytes of the plain loops,
// for every length up to a few registers' worth and at every offset of the
// buffers.
#include <gtest/gtest.h>

#include <random>
#include <vector>

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

}  // namespace
