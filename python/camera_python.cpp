// Camera files in the Python module: opix.read_raw (a camera raw file's
// mosaic and what the file says about it), opix.develop (its finished
// picture) and opix.unpack (a machine-vision frame in a packed layout).
#include "camera_python.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "CameraFiles.h"

namespace py = pybind11;

namespace opix::python {

namespace {

// Destroys what it holds when it goes out of scope, whatever happened.
struct Components {
  opixImportFromHostHandle_t importer = nullptr;
  opixImageFilterHandle_t black = nullptr, balance = nullptr, colour = nullptr, curve = nullptr;
  opixDebayerHandle_t debayer = nullptr;
  opixExportToHostHandle_t exporter = nullptr;
  ~Components() {
    if (exporter) opixExportToHostDestroy(exporter);
    if (curve) opixImageFilterDestroy(curve);
    if (colour) opixImageFilterDestroy(colour);
    if (debayer) opixDebayerDestroy(debayer);
    if (balance) opixImageFilterDestroy(balance);
    if (black) opixImageFilterDestroy(black);
    if (importer) opixImportFromHostDestroy(importer);
  }
};

// Reads a camera raw file as the program does; a file it refuses raises
// opix.FileError with the program's line for it ("FILE: why").
void read(const std::string& path, DecodedImage& d, CameraRawInfo& info) {
  std::string why;
  bool ok = false, memory = false;
  {
    py::gil_scoped_release release;
    try {
      ok = readCameraRawFile(path, d, info, why);
    } catch (const std::bad_alloc&) {
      memory = true;
    }
  }
  if (memory) raiseFileError(OPIX_INSUFFICIENT_HOST_MEMORY, path + ": not enough host memory for its mosaic");
  if (!ok) raiseFileError(cameraRawAvailable() ? OPIX_INVALID_FORMAT : OPIX_UNSUPPORTED_FORMAT, path + ": " + why);
}

py::dict metadata(const CameraRawInfo& i) {
  py::dict m;
  m["make"] = i.make;
  m["model"] = i.model;
  m["pattern"] = std::string(opixBayerPatternName(i.pattern));
  m["bits"] = i.bits;
  m["white_level"] = i.white;
  py::array_t<float> black({i.blackRows, i.blackCols});
  std::memcpy(black.mutable_data(), i.black.data(), i.black.size() * sizeof(float));
  m["black_level"] = black;  // per site, repeating over the mosaic
  m["as_shot_wb"] = py::make_tuple(i.asShot[0], i.asShot[1], i.asShot[2], i.asShot[3]);
  py::array_t<float> matrix({3, 3});
  std::memcpy(matrix.mutable_data(), i.cameraToSrgb, sizeof i.cameraToSrgb);
  m["camera_to_srgb"] = matrix;
  return m;
}

int siteOf(opixBayerPattern_t p, uint32_t x, uint32_t y) {
  static const int sites[4][4] = {{0, 1, 2, 3}, {3, 1, 2, 0}, {1, 3, 0, 2}, {1, 0, 3, 2}};
  const int row = p == OPIX_BAYER_BGGR ? 1 : p == OPIX_BAYER_GBRG ? 2 : p == OPIX_BAYER_GRBG ? 3 : 0;
  return sites[row][(y & 1) * 2 + (x & 1)];
}

}  // namespace

void registerCamera(py::module_& m, const std::function<void(const std::string&)>& useBackend, std::mutex& sdk,
                    const std::function<void(opixStatus_t, const char*)>& check) {
  m.def(
      "read_raw",
      [useBackend](const std::string& path, const std::string& backend) {
        useBackend(backend);  // the mosaic lies in the SDK's page-locked memory
        DecodedImage d;
        CameraRawInfo info;
        read(path, d, info);
        py::array_t<uint16_t> mosaic({d.height, d.width});
        auto* rows = reinterpret_cast<unsigned char*>(mosaic.mutable_data());
        {
          py::gil_scoped_release release;
          for (uint32_t y = 0; y < d.height; ++y)
            std::memcpy(rows + 2 * uint64_t{y} * d.width, d.data.get() + uint64_t{y} * d.pitch, 2 * uint64_t{d.width});
        }
        return py::make_tuple(mosaic, metadata(info));
      },
      py::arg("path"), py::arg("backend") = "auto",
      "The unprocessed Bayer mosaic of a camera raw file (DNG, CR2, NEF, ...), cropped to the visible area, as "
      "uint16 (H, W), and a dict of what the file says: make, model, pattern, bits, black_level (per site, "
      "repeating), white_level, as_shot_wb (R, G1, G2, B), camera_to_srgb (3 x 3).");

  m.def(
      "unpack",
      [useBackend, &sdk, check](py::buffer buffer, const std::string& layout, uint32_t width, uint32_t height, bool msb,
                                const std::string& backend) {
        const PixelFormat* f = findPixelFormat(layout.c_str(), msb);
        if (!f)
          throw py::value_error("Pixel format " + layout + " was not recognized. Known formats: " + pixelFormatNames());
        if (width == 0 || height == 0 || width > 65535 || height > 65535)
          throw py::value_error("width and height must be 1 to 65535");
        const py::buffer_info b = buffer.request();
        const uint64_t need = pixelFormatFrameBytes(*f, width, height);
        const uint64_t have = static_cast<uint64_t>(b.size) * static_cast<uint64_t>(b.itemsize);
        if (have != need)
          throw py::value_error(std::to_string(have) + " bytes, but a " + std::to_string(width) + "x" +
                                std::to_string(height) + " " + layout + " frame has " + std::to_string(need));
        useBackend(backend);
        const bool eight = f->packing == OPIX_PACKING_NONE;
        py::array result = eight ? py::array(py::array_t<uint8_t>({height, width}))
                                 : py::array(py::array_t<uint16_t>({height, width}));
        // Whole words for the device copy: the frame and zero bytes after it.
        std::vector<unsigned char> frame((need + 3) / 4 * 4, 0);
        std::memcpy(frame.data(), b.ptr, need);
        {
          py::gil_scoped_release release;
          std::lock_guard<std::mutex> lock(sdk);
          Components c;
          opixDeviceSurfaceBufferHandle_t buf = nullptr;
          const opixSurfaceFormat_t format = formatFromBits(f->bits, 1);
          check(opixImportFromHostCreatePacked(&c.importer, f->packing, format, width, height, &buf),
                "opixImportFromHostCreatePacked");
          opixSurfaceFormat_t hostFormat;
          check(opixExportToHostCreate(&c.exporter, &hostFormat, buf), "opixExportToHostCreate");
          check(opixImportFromHostCopy(c.importer, frame.data(), width, eight ? width : 0, height),
                "opixImportFromHostCopy");
          check(
              opixExportToHostCopy(c.exporter, result.mutable_data(), width, (eight ? 1 : 2) * width, height, nullptr),
              "opixExportToHostCopy");
        }
        return result;
      },
      py::arg("buffer"), py::arg("layout"), py::arg("width"), py::arg("height"), py::arg("msb") = false,
      py::arg("backend") = "auto",
      "A machine-vision frame in a pixel format (BayerRG12p, Mono10p, Mono12Packed, Mono14, ...) unpacked on "
      "the device: uint16 (H, W), or uint8 for 8-bit formats. `msb`: 16-bit words aligned high.");

  m.def(
      "develop",
      [useBackend, &sdk, check](const std::string& path, const std::string& algorithm, bool linear,
                                const std::string& backend) {
        useBackend(backend);
        DecodedImage d;
        CameraRawInfo info;
        read(path, d, info);
        std::string name = algorithm;
        for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        opixDebayerType_t type = OPIX_DFPD;
        if (name == "HQLI")
          type = OPIX_HQLI;
        else if (name == "MG")
          type = OPIX_MG;
        else if (name == "L7")
          type = OPIX_L7;
        else if (name != "DFPD")
          throw py::value_error("Algorithm " + algorithm + " was not recognized (DFPD, HQLI, MG or L7)");
        const uint32_t w = d.width, h = d.height;
        const uint32_t mw = std::max<uint32_t>(w, 64), mh = std::max<uint32_t>(h, 64);
        py::array_t<uint16_t> result({h, w, 3u});
        {
          py::gil_scoped_release release;
          std::lock_guard<std::mutex> lock(sdk);
          Components c;
          const opixSurfaceFormat_t format = d.bits <= 12 ? OPIX_I12 : OPIX_I16;
          const float top = d.bits <= 12 ? 4095.0f : 65535.0f;
          opixDeviceSurfaceBufferHandle_t buf = nullptr;
          check(opixImportFromHostCreate(&c.importer, format, mw, mh, &buf), "opixImportFromHostCreate");
          std::vector<int16_t> sites;
          if (info.perSiteBlack) {
            const uint32_t stride = (mw + 1) / 2 * 2;
            sites.assign(size_t{stride} * mh, 0);
            for (uint32_t y = 0; y < mh; ++y)
              for (uint32_t x = 0; x < mw; ++x)
                sites[size_t{y} * stride + x] = static_cast<int16_t>(  // 16-bit shifts: up to 32767
                    std::min(info.black[(y % info.blackRows) * info.blackCols + x % info.blackCols], 32767.0f));
            const opixSam16_t sam{sites.data(), nullptr};
            check(opixImageFilterCreate(&c.black, OPIX_SAM16, &sam, mw, mh, buf, &buf), "opixImageFilterCreate");
          } else {
            const opixBayerBlackShift_t shift{{info.colourBlack[0], info.colourBlack[1], info.colourBlack[2]},
                                              info.pattern};
            check(opixImageFilterCreate(&c.black, OPIX_BAYER_BLACK_SHIFT, &shift, mw, mh, buf, &buf),
                  "opixImageFilterCreate");
          }
          float black[4] = {0, 0, 0, 0};
          int count[4] = {0, 0, 0, 0};
          for (uint32_t y = 0; y < info.blackRows; ++y)
            for (uint32_t x = 0; x < info.blackCols; ++x) {
              black[siteOf(info.pattern, x, y)] += info.black[y * info.blackCols + x];
              ++count[siteOf(info.pattern, x, y)];
            }
          float gains[4];
          for (int s = 0; s < 4; ++s) {
            const float range = float(info.white) - (count[s] ? black[s] / float(count[s]) : 0.0f);
            gains[s] = (linear ? 1.0f : info.asShot[s]) * (range > 0 ? top / range : 1.0f);
          }
          const opixWhiteBalance_t wb{gains[0], gains[1], gains[2], gains[3], info.pattern};
          check(opixImageFilterCreate(&c.balance, OPIX_WHITE_BALANCE, &wb, mw, mh, buf, &buf), "opixImageFilterCreate");
          check(opixDebayerCreate(&c.debayer, type, mw, mh, buf, &buf), "opixDebayerCreate");
          auto lut16 = std::make_unique<opixLut_16_FR_t>();
          auto lut12 = std::make_unique<opixLut_12_t>();
          if (!linear) {
            opixBaseColorCorrection_t cc{};
            for (int r = 0; r < 3; ++r) {
              for (int k = 0; k < 3; ++k) cc.matrix[r * 4 + k] = info.cameraToSrgb[r][k];
              cc.whiteLevel[r] = int(top);
            }
            check(opixImageFilterCreate(&c.colour, OPIX_BASE_COLOR_CORRECTION, &cc, mw, mh, buf, &buf),
                  "opixImageFilterCreate");
            // The sRGB curve to 16 bits.
            const uint32_t entries = d.bits <= 12 ? 4096 : 65536;
            uint16_t* table = d.bits <= 12 ? lut12->lut : lut16->lut;
            for (uint32_t i = 0; i < entries; ++i) {
              const double v = double(i) / double(entries - 1);
              const double s = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
              table[i] = static_cast<uint16_t>(s * 65535.0 + 0.5);
            }
            check(opixImageFilterCreate(&c.curve, d.bits <= 12 ? OPIX_LUT_12_16 : OPIX_LUT_16_16_FR,
                                        d.bits <= 12 ? static_cast<const void*>(lut12.get()) : lut16.get(), mw, mh, buf,
                                        &buf),
                  "opixImageFilterCreate");
          }
          opixSurfaceFormat_t out;
          check(opixExportToHostCreate(&c.exporter, &out, buf), "opixExportToHostCreate");
          check(opixImportFromHostCopy(c.importer, d.data.get(), w, d.pitch, h), "opixImportFromHostCopy");
          check(opixImageFilterTransform(c.black, nullptr, w, h), "opixImageFilterTransform");
          check(opixImageFilterTransform(c.balance, nullptr, w, h), "opixImageFilterTransform");
          check(opixDebayerTransform(c.debayer, info.pattern, w, h), "opixDebayerTransform");
          if (c.colour) check(opixImageFilterTransform(c.colour, nullptr, w, h), "opixImageFilterTransform");
          if (c.curve) check(opixImageFilterTransform(c.curve, nullptr, w, h), "opixImageFilterTransform");
          check(opixExportToHostCopy(c.exporter, result.mutable_data(), w, 6 * w, h, nullptr), "opixExportToHostCopy");
        }
        return result;
      },
      py::arg("path"), py::arg("algorithm") = "DFPD", py::arg("linear") = false, py::arg("backend") = "auto",
      "The finished picture of a camera raw file as uint16 (H, W, 3), as opix_debayer develops it: black "
      "subtracted, scaled to the white level, as-shot white balance, demosaic, camera-to-sRGB matrix, sRGB curve. "
      "`linear`: stop after the demosaic (camera RGB, no white balance).");
}

}  // namespace opix::python
