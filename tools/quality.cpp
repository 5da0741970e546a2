// Demosaic quality on real photos: each photo is mosaicked with a Bayer
// pattern at a bit depth, demosaicked with every full-resolution algorithm,
// and compared with the original by CPSNR over the three channels, a border
// of 10 pixels left out.
//
//   opix_quality [--backend=auto|host|cuda] [--pattern=RGGB] [--bits=8|16] [--check] photo.ppm...
//
// With --check the run fails unless, for the bundled photos, HQLI is within
// 0.1 dB of the published gradient-corrected linear filter, DFPD within
// 0.3 dB of the published directional filter (or above), DFPD beats HQLI,
// MG beats DFPD on every photo and by at least 1 dB on average.
//
// MG takes even widths only: a photo of odd width loses its last column for
// every algorithm.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "DebayerHarness.h"

using namespace opix;

namespace {

struct Photo {
  std::string name;
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

// Reads a binary 8-bit PPM (P6).
bool readPpm(const std::string& path, Photo& photo) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  if (!(in >> magic) || magic != "P6") return false;
  auto skipComments = [&] {
    in >> std::ws;
    while (in.peek() == '#') {
      std::string line;
      std::getline(in, line);
      in >> std::ws;
    }
  };
  skipComments();
  in >> photo.width;
  skipComments();
  in >> photo.height;
  skipComments();
  in >> maxval;
  in.get();
  if (!in || maxval != 255 || photo.width == 0 || photo.height == 0) return false;
  photo.rgb.resize(size_t(photo.width) * photo.height * 3);
  in.read(reinterpret_cast<char*>(photo.rgb.data()), std::streamsize(photo.rgb.size()));
  const size_t slash = path.find_last_of('/');
  photo.name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  return bool(in);
}

int colourAt(opixBayerPattern_t p, uint32_t x, uint32_t y) {
  static const int cells[5][4] = {{0, 0, 0, 0}, {0, 1, 1, 2}, {2, 1, 1, 0}, {1, 2, 0, 1}, {1, 0, 2, 1}};
  return cells[p][(x & 1) + 2 * (y & 1)];
}

// CPSNR of independent floating-point implementations of the two published
// filters, 8-bit RGGB, 10-pixel crop.
struct Reference {
  const char* photo;
  double linear, directional;
};
const Reference kReferences[] = {
    {"astronaut.ppm", 34.48, 35.96}, {"chelsea.ppm", 38.35, 40.65}, {"coffee.ppm", 33.17, 34.27}};

double cpsnr(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b, uint32_t w, uint32_t h, double peak,
             uint32_t crop) {
  double sum = 0;
  size_t n = 0;
  for (uint32_t y = crop; y + crop < h; ++y)
    for (uint32_t x = crop; x + crop < w; ++x)
      for (int c = 0; c < 3; ++c) {
        const double d = double(a[(size_t(y) * w + x) * 3 + c]) - double(b[(size_t(y) * w + x) * 3 + c]);
        sum += d * d;
        ++n;
      }
  return 10.0 * std::log10(peak * peak / (sum / double(n)));
}

}  // namespace

int main(int argc, char** argv) {
  std::string backend = "auto";
  opixBayerPattern_t pattern = OPIX_BAYER_RGGB;
  int bits = 8;
  bool check = false;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--backend=", 0) == 0) {
      backend = a.substr(10);
    } else if (a == "--check") {
      check = true;
    } else if (a.rfind("--bits=", 0) == 0) {
      bits = std::stoi(a.substr(7));
    } else if (a.rfind("--pattern=", 0) == 0) {
      const std::string p = a.substr(10);
      pattern = p == "BGGR"   ? OPIX_BAYER_BGGR
                : p == "GBRG" ? OPIX_BAYER_GBRG
                : p == "GRBG" ? OPIX_BAYER_GRBG
                              : OPIX_BAYER_RGGB;
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty() || (bits != 8 && bits != 16)) {
    std::fprintf(stderr,
                 "usage: opix_quality [--backend=auto|host|cuda] [--pattern=RGGB] [--bits=8|16] photo.ppm...\n");
    return 2;
  }
  try {
    backend = tools::initBackend(backend);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  const opixSurfaceFormat_t format = bits == 8 ? OPIX_I8 : OPIX_I16;
  const double peak = bits == 8 ? 255.0 : 65535.0;
  // 8-bit photo values widen to 16 bits exactly by v x 257.
  const uint16_t scale = bits == 8 ? 1 : 257;
  const opixDebayerType_t types[] = {OPIX_HQLI, OPIX_DFPD, OPIX_L7, OPIX_MG};
  constexpr int kTypes = 4;
  double mgGain = 0;
  int mgPhotos = 0;

  std::printf("CPSNR in dB, %d-bit %s mosaic, 10-pixel border left out, %s backend\n", bits,
              opixBayerPatternName(pattern), backend.c_str());
  std::printf("%-16s %8s %8s %8s %8s\n", "photo", "HQLI", "DFPD", "L7", "MG");
  int failures = 0;
  for (const std::string& path : paths) {
    Photo photo;
    if (!readPpm(path, photo)) {
      std::fprintf(stderr, "%s: not a binary 8-bit PPM\n", path.c_str());
      ++failures;
      continue;
    }
    if (photo.width % 2 != 0) {
      const uint32_t even = photo.width - 1;
      for (uint32_t y = 0; y < photo.height; ++y)
        std::copy_n(&photo.rgb[size_t(y) * photo.width * 3], size_t(even) * 3, &photo.rgb[size_t(y) * even * 3]);
      photo.width = even;
      photo.rgb.resize(size_t(even) * photo.height * 3);
    }
    std::vector<uint16_t> truth(photo.rgb.size()), mosaic(size_t(photo.width) * photo.height);
    for (size_t i = 0; i < photo.rgb.size(); ++i) truth[i] = uint16_t(photo.rgb[i] * scale);
    for (uint32_t y = 0; y < photo.height; ++y)
      for (uint32_t x = 0; x < photo.width; ++x)
        mosaic[size_t(y) * photo.width + x] = truth[(size_t(y) * photo.width + x) * 3 + colourAt(pattern, x, y)];
    std::printf("%-16s", photo.name.c_str());
    double scores[kTypes] = {};
    for (int t = 0; t < kTypes; ++t) {
      const opixDebayerType_t type = types[t];
      tools::DebayerHarness run(type, photo.width, photo.height, format);
      if (run.status() != OPIX_OK) {
        std::printf(" %8s", "-");  // no kernel for this bit depth
        continue;
      }
      run.upload(mosaic);
      const opixStatus_t s = run.transform(pattern);
      if (s != OPIX_OK) {
        std::printf(" %8s", opixStatusName(s));
        ++failures;
        continue;
      }
      scores[t] = cpsnr(run.download(), truth, photo.width, photo.height, peak, 10);
      std::printf(" %8.2f", scores[t]);
    }
    std::printf("\n");
    if (scores[1] > 0 && scores[3] > 0) {
      mgGain += scores[3] - scores[1];
      ++mgPhotos;
    }
    if (!check) continue;
    for (const Reference& r : kReferences) {
      if (photo.name != r.photo) continue;
      const bool ok = scores[0] >= r.linear - 0.1 && scores[1] >= r.directional - 0.3 && scores[1] > scores[0] &&
                      scores[3] > scores[1];
      if (!ok) {
        std::fprintf(stderr, "%s: HQLI %.2f (reference %.2f), DFPD %.2f (reference %.2f), MG %.2f: below the bar\n",
                     r.photo, scores[0], r.linear, scores[1], r.directional, scores[3]);
        ++failures;
      }
    }
  }
  if (mgPhotos > 0) {
    std::printf("MG over DFPD: %+.2f dB on average\n", mgGain / mgPhotos);
    if (check && mgGain / mgPhotos < 1.0) {
      std::fprintf(stderr, "MG gains %.2f dB over DFPD on average: below the bar of 1 dB\n", mgGain / mgPhotos);
      ++failures;
    }
  }
  return failures ? 1 : 0;
}
