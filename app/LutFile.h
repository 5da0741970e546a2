// The -lut option's text file: one table entry per line, or three (red,
// green, blue) for separate channel tables; '#' starts a comment. The entry
// count is the input range (256, 4096, 16384 or 65536 values); the largest
// entry sets the output depth (8, 12 or 16 bits).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "opix.h"

namespace opix::app {

struct LutTable {
  uint32_t entries = 0;             // per channel
  int columns = 0;                  // 1, or 3 for red, green and blue tables
  uint32_t largest = 0;             // the largest entry of all
  std::vector<uint32_t> values[3];  // values[c][i]; only values[0] for one column

  // The depth of the output: the largest entry's, except that 16-bit inputs
  // have no 12-bit output and full range tables give 16 bits.
  int outputBits() const {
    if (entries == 65536 || (entries == 16384 && largest > 255)) return 16;
    return largest <= 255 ? 8 : largest <= 4095 ? 12 : 16;
  }
};

// Reads and checks a LUT file. A file that cannot be read or is malformed is
// named on standard error with the line at fault; `lut` is then undefined.
opixStatus_t readLutFile(const std::string& path, LutTable& lut);

// The LUT filter for a demosaiced image of `colour` (RGB8, RGB12_PLANAR or
// RGB16_PLANAR) and its parameter record. A table whose entry count does not
// fit the colour depth is named on standard error and refused.
opixStatus_t lutFilterFor(const LutTable& lut, const std::string& path, opixSurfaceFormat_t colour,
                          opixImageFilterType_t& type, std::vector<uint8_t>& record);

}  // namespace opix::app
