// The Bayer helpers of the core: both site numberings at every cell position
// of every pattern, the origin shift and the pattern check.
#include <gtest/gtest.h>

#include "BayerTraits.h"

namespace opix {
namespace {

constexpr opixBayerPattern_t kPatterns[] = {OPIX_BAYER_RGGB, OPIX_BAYER_BGGR, OPIX_BAYER_GBRG, OPIX_BAYER_GRBG};

// Per pattern (in the order above), the cell positions (0, 0), (1, 0),
// (0, 1), (1, 1). Phase: 1 is the green of a red row, 2 of a blue row.
// Cell site: 1 (G1) is the green of the cell's row 0, 2 (G2) of row 1.
constexpr int kPhase[4][4] = {{0, 1, 2, 3}, {3, 2, 1, 0}, {2, 3, 0, 1}, {1, 0, 3, 2}};
constexpr int kCellSite[4][4] = {{0, 1, 2, 3}, {3, 1, 2, 0}, {1, 3, 0, 2}, {1, 0, 3, 2}};
constexpr PatternShift kShift[4] = {{0, 0}, {1, 1}, {0, 1}, {1, 0}};

TEST(BayerSites, BothNumberingsAtEveryCellPositionOfEveryPattern) {
  for (int p = 0; p < 4; ++p)
    for (int i = 0; i < 4; ++i) {
      const int x = i & 1, y = i >> 1;
      SCOPED_TRACE(std::string(opixBayerPatternName(kPatterns[p])) + " at " + std::to_string(x) + "," +
                   std::to_string(y));
      // The cell repeats over the whole image.
      for (const auto& [dx, dy] : {std::pair{0, 0}, std::pair{2, 0}, std::pair{0, 6}, std::pair{1000, 2}}) {
        EXPECT_EQ(bayerPhase(kPatterns[p], x + dx, y + dy), kPhase[p][i]);
        EXPECT_EQ(bayerCellSite(kPatterns[p], x + dx, y + dy), kCellSite[p][i]);
      }
      EXPECT_EQ(cellSiteColour(kCellSite[p][i]), kPhase[p][i] == 0 ? 0 : kPhase[p][i] == 3 ? 2 : 1);
    }
}

TEST(BayerSites, ShiftMovesRedToTheEvenColumnAndRow) {
  for (int p = 0; p < 4; ++p) {
    SCOPED_TRACE(opixBayerPatternName(kPatterns[p]));
    const PatternShift s = bayerShift(kPatterns[p]);
    EXPECT_EQ(s.sx, kShift[p].sx);
    EXPECT_EQ(s.sy, kShift[p].sy);
    EXPECT_EQ(kPhase[p][s.sx + 2 * s.sy], kPhaseR);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(rggbPhase((i & 1) + s.sx, (i >> 1) + s.sy), kPhase[p][i]);
  }
}

TEST(BayerSites, CheckRaisesTheCallersStatusOutsideOneToFour) {
  for (opixBayerPattern_t p : kPatterns) EXPECT_NO_THROW(checkBayerPattern(p, OPIX_INVALID_VALUE));
  for (int p : {-1, 0, 5, 1 << 30})
    for (opixStatus_t status : {OPIX_UNRECOGNIZED_ERROR, OPIX_INVALID_FORMAT}) {
      try {
        checkBayerPattern(p, status);
        ADD_FAILURE() << "pattern " << p << " accepted";
      } catch (const opixException& e) {
        EXPECT_EQ(e.status(), status) << "pattern " << p;
      }
    }
}

}  // namespace
}  // namespace opix
