// The -lut option's text file: whatever it holds, the reader either refuses
// it or returns a whole table, and that table turns into a filter record of
// exactly the size the filter reads.
#include <cstdlib>

#include "FuzzSupport.h"
#include "LutFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  opix::app::LutTable lut;
  if (opix::app::readLutFile(opix::fuzz::scratchFile(data, size), lut) != OPIX_OK) return 0;
  const uint32_t n = lut.entries;
  if (n != 256 && n != 4096 && n != 16384 && n != 65536) std::abort();
  if (lut.columns != 1 && lut.columns != 3) std::abort();
  for (int c = 0; c < 3; ++c) {
    const size_t expected = c < lut.columns ? n : 0;
    if (lut.values[c].size() != expected) std::abort();
    for (uint32_t v : lut.values[c])
      if (v > lut.largest || v > 65535) std::abort();
  }
  for (opixSurfaceFormat_t colour : {OPIX_RGB8, OPIX_RGB12_PLANAR, OPIX_RGB16_PLANAR}) {
    opixImageFilterType_t type{};
    std::vector<uint8_t> record;
    if (opix::app::lutFilterFor(lut, "fuzz", colour, type, record) != OPIX_OK) continue;
    const size_t entryBytes = lut.outputBits() == 8 ? 1 : 2;
    if (record.size() != entryBytes * n * size_t(lut.columns)) std::abort();
  }
  return 0;
}
