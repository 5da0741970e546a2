// The Python module `opix`: the SDK's chains behind numpy arrays.
//
//   opix.demosaic(mosaic, pattern="RGGB", algorithm="DFPD", bits=None, backend="auto")
//   opix.white_balance(mosaic, gains, pattern="RGGB", bits=None, backend="auto")
//   opix.color_correction(image, matrix, white_level=None, bits=None, backend="auto")
//   opix.Debayer(width, height, dtype="uint8", pattern=..., algorithm=..., bits=..., backend=...,
//                white_balance=None, stream=0)(mosaic, out=None)
//
// A chain is built the way opix_debayer builds it, so that both give the same
// samples. The SDK works with the GIL released, one chain at a time.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "camera_python.h"
#include "opix.h"

namespace py = pybind11;

namespace {

// ------------------------------------------------------------------ errors

// A failed SDK call; raised in Python as opix.Error with the status name.
struct SdkError {
  opixStatus_t status;
  std::string call;
};

void check(opixStatus_t status, const char* call) {
  if (status != OPIX_OK) throw SdkError{status, call};
}

[[noreturn]] void invalid(const std::string& message) { throw py::value_error(message); }

std::string text(py::handle h) { return py::str(h).cast<std::string>(); }

// Whether `d` is the numpy type of T in the host's (little-endian) byte order.
bool sameType(const py::dtype& d, const py::dtype& t) { return d.num() == t.num() && d.byteorder() != '>'; }
template <class T>
bool isType(const py::dtype& d) {
  return sameType(d, py::dtype::of<T>());
}

// -------------------------------------------------------------- backend

// A backend, once chosen, stays for the process (the SDK's rule).
enum class Backend { None, Host, Cuda };
Backend gBackend = Backend::None;
// SDK calls of every chain are serialised: the SDK runs on one stream.
std::mutex gSdk;

const char* backendName(Backend b) { return b == Backend::Cuda ? "cuda" : b == Backend::Host ? "host" : "none"; }

// The device of the CUDA backend, once chosen.
int gDevice = -1;

// "auto", "host", "cuda" (the first device) or "cuda:N" (device N of those
// the process sees).
void useBackend(const std::string& requested) {
  std::string wanted = requested;
  int device = 0;
  if (wanted.rfind("cuda:", 0) == 0) {
    const std::string index = wanted.substr(5);
    if (index.empty() || index.size() > 2 || index.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(index) > 31)
      invalid("Backend " + requested + " was not recognized (auto, host, cuda or cuda:N, N from 0 to 31)");
    device = std::stoi(index);
    wanted = "cuda";
  }
  if (wanted != "auto" && wanted != "host" && wanted != "cuda")
    invalid("Backend " + wanted + " was not recognized (auto, host or cuda)");
  std::lock_guard<std::mutex> lock(gSdk);
  if (gBackend != Backend::None) {
    if (wanted != "auto" && wanted != backendName(gBackend))
      invalid(std::string("The SDK already runs on the ") + backendName(gBackend) +
              " backend in this process; a backend stays once chosen");
    if (requested != wanted && device != gDevice)
      invalid("The SDK already runs on CUDA device " + std::to_string(gDevice) +
              " in this process; a device stays once chosen");
    return;
  }
  if (wanted == "cuda") {
    check(opixInit(1u << device, false), "opixInit");
    gBackend = Backend::Cuda;
    gDevice = device;
  } else if (wanted == "auto" && opixInit(1, false) == OPIX_OK) {
    gBackend = Backend::Cuda;
    gDevice = 0;
  } else {
    check(opixInitHost(), "opixInitHost");
    gBackend = Backend::Host;
  }
}

// ------------------------------------------------------------- names

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

opixBayerPattern_t patternOf(const std::string& name) {
  static const std::pair<const char*, opixBayerPattern_t> patterns[] = {
      {"RGGB", OPIX_BAYER_RGGB}, {"BGGR", OPIX_BAYER_BGGR}, {"GBRG", OPIX_BAYER_GBRG}, {"GRBG", OPIX_BAYER_GRBG}};
  for (const auto& p : patterns)
    if (upper(name) == p.first) return p.second;
  invalid("Pattern " + name + " was not recognized (RGGB, BGGR, GBRG or GRBG)");
}

opixDebayerType_t algorithmOf(const std::string& name) {
  static const std::pair<const char*, opixDebayerType_t> types[] = {{"DFPD", OPIX_DFPD},
                                                                    {"HQLI", OPIX_HQLI},
                                                                    {"MG", OPIX_MG},
                                                                    {"L7", OPIX_L7},
                                                                    {"BINNING_2X2", OPIX_BINNING_2x2},
                                                                    {"BINNING_4X4", OPIX_BINNING_4x4},
                                                                    {"BINNING_8X8", OPIX_BINNING_8x8}};
  for (const auto& t : types)
    if (upper(name) == t.first) return t.second;
  invalid("Debayer algorithm " + name +
          " was not recognized (DFPD, HQLI, MG, L7, binning_2x2, binning_4x4 or "
          "binning_8x8)");
}

uint32_t binningScale(opixDebayerType_t t) {
  switch (t) {
    case OPIX_BINNING_2x2: return 2;
    case OPIX_BINNING_4x4: return 4;
    case OPIX_BINNING_8x8: return 8;
    default: return 1;
  }
}

// ---------------------------------------------------------------- depths

// The samples of an array: their size and the significant bits. 8-bit
// samples come in uint8 arrays; 10 to 16 bits in uint16 arrays, carried by
// the 12-bit surfaces up to 12 bits and by the 16-bit ones above.
struct Depth {
  uint32_t bytes = 1;
  uint32_t bits = 8;
  uint32_t surfaceBits() const { return bits == 8 ? 8 : bits <= 12 ? 12 : 16; }
  // Results of a depth narrower than its surface are clamped to it.
  uint16_t clampTo() const { return bits == surfaceBits() ? 0 : static_cast<uint16_t>((1u << bits) - 1); }
};

Depth depthOf(const py::dtype& dtype, const std::optional<int>& bits) {
  if (isType<uint8_t>(dtype)) {
    if (bits && *bits != 8) invalid("bits must be 8 for uint8 samples, not " + std::to_string(*bits));
    return {1, 8};
  }
  if (isType<uint16_t>(dtype)) {
    const int b = bits.value_or(16);
    if (b < 10 || b > 16) invalid("bits must be 10 to 16 for uint16 samples, not " + std::to_string(b));
    return {2, static_cast<uint32_t>(b)};
  }
  invalid("Samples must be uint8 or uint16, not " + text(dtype));
}

opixSurfaceFormat_t grayFormat(const Depth& d) {
  return d.surfaceBits() == 8 ? OPIX_I8 : d.surfaceBits() == 12 ? OPIX_I12 : OPIX_I16;
}
opixSurfaceFormat_t colourHostFormat(const Depth& d) {
  return d.surfaceBits() == 8 ? OPIX_RGB8 : d.surfaceBits() == 12 ? OPIX_RGB12 : OPIX_RGB16;
}

// ---------------------------------------------------------------- chains

// The debayer and the filters refuse maxima below 64 pixels: a smaller image
// runs in a chain of that size, as in opix_debayer.
constexpr uint32_t kMinChainSize = 64;
constexpr uint32_t kMaxSize = 65535;
uint32_t chainSize(uint32_t size) { return std::max(size, kMinChainSize); }

enum class Kind { Demosaic, WhiteBalance, ColorCorrection };

struct ChainSetup {
  Kind kind = Kind::Demosaic;
  uint32_t maxWidth = 0, maxHeight = 0;
  Depth depth;
  opixBayerPattern_t pattern = OPIX_BAYER_RGGB;
  opixDebayerType_t type = OPIX_DFPD;
  opixWhiteBalance_t whiteBalance{};
  bool demosaicWhiteBalance = false;  // a white balance ahead of the debayer
  opixBaseColorCorrection_t colorCorrection{};
  opixStream_t stream = nullptr;  // the stream of every component; null is the SDK stream
};

void checkSize(uint32_t width, uint32_t height) {
  if (width == 0 || height == 0 || width > kMaxSize || height > kMaxSize)
    invalid("Invalid image dimensions: " + std::to_string(width) + " x " + std::to_string(height) +
            " (1 to 65535 pixels each way)");
}

// The size rules of a demosaic, for the chain's maximum and for every frame.
void checkDemosaicSize(opixDebayerType_t type, uint32_t width, uint32_t height) {
  checkSize(width, height);
  const uint32_t scale = binningScale(type);
  if ((type == OPIX_MG || scale != 1) && width % 2 != 0)
    invalid("Unsupported image size: " + std::string(type == OPIX_MG ? "MG" : "binning") +
            " needs an even width, not " + std::to_string(width));
  if (width < scale || height < scale)
    invalid("Unsupported image size: " + std::to_string(width) + " x " + std::to_string(height) +
            " is smaller than one binning block");
}

class Chain {
 public:
  explicit Chain(const ChainSetup& s) : setup_(s) {
    std::lock_guard<std::mutex> lock(gSdk);
    try {
      build();
    } catch (...) {
      destroy();
      throw;
    }
  }
  ~Chain() {
    std::lock_guard<std::mutex> lock(gSdk);
    destroy();
  }
  Chain(const Chain&) = delete;
  Chain& operator=(const Chain&) = delete;

  const ChainSetup& setup() const { return setup_; }
  uint32_t scale() const { return binningScale(setup_.type); }
  uint32_t outputBytes() const { return exportFormat_ == OPIX_RGB8 || exportFormat_ == OPIX_I8 ? 1 : 2; }

  // A host image: sample c of pixel (x, y) at data + y rowStride + x
  // pixelStride + c sampleStride (numpy's strides, in bytes).
  struct Input {
    const unsigned char* data;
    py::ssize_t rowStride, pixelStride, sampleStride;
    uint32_t width, height, channels;
  };

  // Runs the chain on one frame. Called without the GIL.
  void run(const Input& in, unsigned char* out, uint64_t outPitch) {
    std::lock_guard<std::mutex> lock(gSdk);
    const uint32_t w = in.width, h = in.height;
    const auto bytes = static_cast<py::ssize_t>(setup_.depth.bytes);
    const uint64_t rowBytes = uint64_t{w} * in.channels * setup_.depth.bytes;
    // The import takes rows of contiguous samples at any pitch; anything
    // else is copied into the chain's buffer first.
    const bool direct = (in.channels == 1 || in.sampleStride == bytes) && in.pixelStride == bytes * in.channels &&
                        in.rowStride >= static_cast<py::ssize_t>(rowBytes) && in.rowStride <= UINT32_MAX &&
                        in.rowStride % bytes == 0 && reinterpret_cast<uintptr_t>(in.data) % setup_.depth.bytes == 0;
    const void* source = in.data;
    uint64_t pitch = static_cast<uint64_t>(in.rowStride);
    if (!direct) {
      if (staging_.empty()) staging_.resize(size_t{setup_.maxWidth} * in.channels * bytes * setup_.maxHeight);
      unsigned char* dst = staging_.data();
      for (py::ssize_t y = 0; y < h; ++y)
        for (py::ssize_t x = 0; x < w; ++x)
          for (py::ssize_t c = 0; c < in.channels; ++c, dst += bytes)
            std::memcpy(dst, in.data + y * in.rowStride + x * in.pixelStride + c * in.sampleStride, bytes);
      source = staging_.data();
      pitch = rowBytes;
    }
    check(opixImportFromHostCopy(importer_, source, w, static_cast<uint32_t>(pitch), h), "opixImportFromHostCopy");
    if (to16_) check(opixSurfaceConverterTransform(to16_, nullptr, w, h), "opixSurfaceConverterTransform");
    if (filter_) check(opixImageFilterTransform(filter_, nullptr, w, h), "opixImageFilterTransform");
    const uint32_t ow = w / scale(), oh = h / scale();
    if (debayer_) check(opixDebayerTransform(debayer_, setup_.pattern, w, h), "opixDebayerTransform");
    if (back_) check(opixSurfaceConverterTransform(back_, nullptr, ow, oh), "opixSurfaceConverterTransform");
    check(opixExportToHostCopy(exporter_, out, ow, static_cast<uint32_t>(outPitch), oh, nullptr),
          "opixExportToHostCopy");
    if (const uint16_t top = setup_.depth.clampTo()) {
      const uint64_t samples = uint64_t{ow} * opixFormatChannels(exportFormat_);
      for (uint32_t y = 0; y < oh; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(out + y * outPitch);
        for (uint64_t i = 0; i < samples; ++i) row[i] = std::min(row[i], top);
      }
    }
  }

 private:
  void build() {
    const ChainSetup& s = setup_;
    const uint32_t width = chainSize(s.maxWidth), height = chainSize(s.maxHeight);
    const opixSurfaceFormat_t hostFormat =
        s.kind == Kind::ColorCorrection ? colourHostFormat(s.depth) : grayFormat(s.depth);

    opixDeviceSurfaceBufferHandle_t current = nullptr;
    check(opixImportFromHostCreate(&importer_, hostFormat, width, height, &current), "opixImportFromHostCreate");
    if (s.kind == Kind::Demosaic) {
      // Binning has no 12-bit kernels: it runs at 16 bits and comes back, as
      // in opix_debayer.
      const bool convert = binningScale(s.type) != 1 && hostFormat == OPIX_I12;
      if (convert) {
        const opixBitDepthConverter_t to16{0, false, 16};
        check(opixSurfaceConverterCreate(&to16_, OPIX_BIT_DEPTH_CONVERTER, &to16, width, height, current, &current),
              "opixSurfaceConverterCreate");
      }
      // After any widening, as opix_debayer places its white balance: inside
      // the debayer's read of the mosaic, except for binning, which reads
      // its source directly.
      if (s.demosaicWhiteBalance && binningScale(s.type) != 1) {
        check(opixImageFilterCreate(&filter_, OPIX_WHITE_BALANCE, &s.whiteBalance, width, height, current, &current),
              "opixImageFilterCreate");
      }
      opixDebayerPreOperations_t pre{};
      if (s.demosaicWhiteBalance && binningScale(s.type) == 1) pre.whiteBalance = &s.whiteBalance;
      // A 12- or 16-bit result that goes to the export as it is comes in the
      // export's interleaved layout, which the export then only copies.
      const uint32_t bits = opixFormatBits(current->surfaceFormat);
      if (!convert && bits != 8) {
        check(
            opixDebayerCreateWithDestinationFormat(&debayer_, s.type, width, height, pre.whiteBalance ? &pre : nullptr,
                                                   bits == 12 ? OPIX_RGB12 : OPIX_RGB16, current, &current),
            "opixDebayerCreateWithDestinationFormat");
      } else if (pre.whiteBalance) {
        check(opixDebayerCreateWithPreOperations(&debayer_, s.type, width, height, &pre, current, &current),
              "opixDebayerCreateWithPreOperations");
      } else {
        check(opixDebayerCreate(&debayer_, s.type, width, height, current, &current), "opixDebayerCreate");
      }
      if (convert) {
        const uint32_t sc = binningScale(s.type);
        const opixBitDepthConverter_t back{0, false, opixFormatBits(hostFormat)};
        check(opixSurfaceConverterCreate(&back_, OPIX_BIT_DEPTH_CONVERTER, &back, width / sc, height / sc, current,
                                         &current),
              "opixSurfaceConverterCreate");
      }
    } else if (s.kind == Kind::WhiteBalance) {
      check(opixImageFilterCreate(&filter_, OPIX_WHITE_BALANCE, &s.whiteBalance, width, height, current, &current),
            "opixImageFilterCreate");
    } else {
      check(opixImageFilterCreate(&filter_, OPIX_BASE_COLOR_CORRECTION, &s.colorCorrection, width, height, current,
                                  &current),
            "opixImageFilterCreate");
    }
    check(opixExportToHostCreate(&exporter_, &exportFormat_, current), "opixExportToHostCreate");
    if (s.stream) {
      check(opixImportFromHostSetStream(importer_, s.stream), "opixImportFromHostSetStream");
      for (opixSurfaceConverterHandle_t c : {to16_, back_})
        if (c) check(opixSurfaceConverterSetStream(c, s.stream), "opixSurfaceConverterSetStream");
      if (filter_) check(opixImageFilterSetStream(filter_, s.stream), "opixImageFilterSetStream");
      if (debayer_) check(opixDebayerSetStream(debayer_, s.stream), "opixDebayerSetStream");
      check(opixExportToHostSetStream(exporter_, s.stream), "opixExportToHostSetStream");
    }
  }

  void destroy() {
    if (debayer_) opixDebayerDestroy(debayer_);
    if (filter_) opixImageFilterDestroy(filter_);
    if (importer_) opixImportFromHostDestroy(importer_);
    if (exporter_) opixExportToHostDestroy(exporter_);
    if (back_) opixSurfaceConverterDestroy(back_);
    if (to16_) opixSurfaceConverterDestroy(to16_);
    debayer_ = nullptr;
    filter_ = nullptr;
    importer_ = nullptr;
    exporter_ = nullptr;
    back_ = to16_ = nullptr;
  }

  ChainSetup setup_;
  opixImportFromHostHandle_t importer_ = nullptr;
  opixSurfaceConverterHandle_t to16_ = nullptr;
  opixImageFilterHandle_t filter_ = nullptr;
  opixDebayerHandle_t debayer_ = nullptr;
  opixSurfaceConverterHandle_t back_ = nullptr;
  opixExportToHostHandle_t exporter_ = nullptr;
  opixSurfaceFormat_t exportFormat_ = OPIX_RGB8;
  // Frames whose layout the import cannot take are copied here first; made
  // at the first such frame, for the chain's maximum size.
  std::vector<unsigned char> staging_;
};

// ------------------------------------------------------------ arrays

Chain::Input inputOf(const py::array& a, int ndim) {
  Chain::Input in{};
  in.data = static_cast<const unsigned char*>(a.data());
  in.rowStride = a.strides(0);
  in.pixelStride = a.strides(1);
  in.sampleStride = ndim == 3 ? a.strides(2) : 0;
  in.height = static_cast<uint32_t>(a.shape(0));
  in.width = static_cast<uint32_t>(a.shape(1));
  in.channels = ndim == 3 ? 3 : 1;
  return in;
}

// `values` as exactly `count` floats, from any array-like.
std::vector<float> floats(const py::object& values, size_t count, const char* what) {
  const auto a = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(values);
  if (!a || static_cast<size_t>(a.size()) != count) invalid(what);
  return std::vector<float>(a.data(), a.data() + count);
}

void checkArray(const py::array& a, int ndim, const char* what) {
  if (a.ndim() != ndim)
    invalid(std::string(what) + " must be a " + std::to_string(ndim) + "-D array, not " + std::to_string(a.ndim()) +
            "-D");
  if (ndim == 3 && a.shape(2) != 3)
    invalid(std::string(what) + " must have 3 channels, not " + std::to_string(a.shape(2)));
  if (a.shape(0) > kMaxSize || a.shape(1) > kMaxSize || a.shape(0) == 0 || a.shape(1) == 0)
    invalid("Invalid image dimensions: " + std::to_string(a.shape(1)) + " x " + std::to_string(a.shape(0)) +
            " (1 to 65535 pixels each way)");
}

// Runs `chain` on `a` into `out` (allocated when None) and returns it.
py::array runChain(Chain& chain, const py::array& a, int ndim, const py::object& out) {
  Chain::Input in = inputOf(a, ndim);
  const uint32_t ow = in.width / chain.scale(), oh = in.height / chain.scale();
  const bool colourOut = chain.setup().kind != Kind::WhiteBalance;
  const py::dtype dtype = chain.outputBytes() == 1 ? py::dtype::of<uint8_t>() : py::dtype::of<uint16_t>();
  const py::ssize_t shape[3] = {oh, ow, 3};
  const size_t outDims = colourOut ? 3 : 2;
  py::array result;
  if (out.is_none()) {
    result = py::array(dtype, std::vector<py::ssize_t>(shape, shape + outDims));
  } else {
    if (!py::isinstance<py::array>(out) ||
        !sameType((result = py::reinterpret_borrow<py::array>(out)).dtype(), dtype) ||
        result.ndim() != static_cast<py::ssize_t>(outDims) || !std::equal(shape, shape + outDims, result.shape()))
      invalid("out must be a " + text(dtype) + " array of shape " +
              text(py::tuple(py::cast(std::vector<py::ssize_t>(shape, shape + outDims)))));
    const py::ssize_t pixel = static_cast<py::ssize_t>(colourOut ? 3 : 1) * dtype.itemsize();
    if (!result.writeable() || result.strides(colourOut ? 2 : 1) != dtype.itemsize() ||
        (colourOut && result.strides(1) != pixel) || result.strides(0) < pixel * ow || result.strides(0) > UINT32_MAX ||
        result.strides(0) % dtype.itemsize() != 0)
      invalid("out must be writeable with rows of contiguous pixels");
  }
  unsigned char* dst = static_cast<unsigned char*>(result.mutable_data());
  const uint64_t outPitch = static_cast<uint64_t>(result.strides(0));
  {
    py::gil_scoped_release release;
    chain.run(in, dst, outPitch);
  }
  return result;
}

// ---------------------------------------------------------- Debayer

// Four white-balance gains (R, G1, G2, B). A negative or NaN gain has no
// meaning; the filter would clamp or wrap it.
std::vector<float> whiteBalanceGains(const py::object& gains) {
  const std::vector<float> g = floats(gains, 4, "gains must be four numbers: R, G1, G2, B");
  for (float v : g)
    if (!(v >= 0.0f) || !std::isfinite(v))
      invalid("gains must be finite numbers of 0 or more, not " + std::to_string(v));
  return g;
}

// A stream handle as CuPy (Stream.ptr) and PyTorch (Stream.cuda_stream) give
// it: an integer, 0 for the SDK stream.
opixStream_t streamOf(const py::object& stream) {
  if (!py::isinstance<py::int_>(stream) || py::isinstance<py::bool_>(stream))
    invalid("stream must be an integer stream handle (0: the default stream), not " + text(stream.get_type()));
  const py::int_ value = py::reinterpret_borrow<py::int_>(stream);
  if (value < py::int_(0) || value > py::int_(py::cast(UINTPTR_MAX)))
    invalid("stream must be a stream handle from 0 to 2**64 - 1, not " + text(stream));
  return reinterpret_cast<opixStream_t>(value.cast<uintptr_t>());
}

class Debayer {
 public:
  Debayer(uint32_t width, uint32_t height, const py::object& dtype, const std::string& pattern,
          const std::string& algorithm, std::optional<int> bits, const std::string& backend,
          const py::object& whiteBalance, const py::object& stream = py::int_(0)) {
    ChainSetup s;
    s.stream = streamOf(stream);
    s.kind = Kind::Demosaic;
    s.pattern = patternOf(pattern);
    if (!whiteBalance.is_none()) {
      const std::vector<float> g = whiteBalanceGains(whiteBalance);
      s.whiteBalance = {g[0], g[1], g[2], g[3], s.pattern};
      s.demosaicWhiteBalance = true;
    }
    s.type = algorithmOf(algorithm);
    s.depth = depthOf(py::dtype::from_args(dtype), bits);
    checkDemosaicSize(s.type, width, height);
    s.maxWidth = width;
    s.maxHeight = height;
    dtype_ = py::dtype::from_args(dtype);
    useBackend(backend);
    chain_ = std::make_unique<Chain>(s);
  }

  py::array call(const py::array& mosaic, const py::object& out) {
    checkArray(mosaic, 2, "mosaic");
    if (!sameType(mosaic.dtype(), dtype_))
      invalid("mosaic must be " + text(dtype_) + " for this Debayer, not " + text(mosaic.dtype()));
    const ChainSetup& s = chain_->setup();
    const auto w = static_cast<uint32_t>(mosaic.shape(1)), h = static_cast<uint32_t>(mosaic.shape(0));
    if (w > s.maxWidth || h > s.maxHeight)
      invalid("Unsupported image size: " + std::to_string(w) + " x " + std::to_string(h) + " exceeds this Debayer's " +
              std::to_string(s.maxWidth) + " x " + std::to_string(s.maxHeight));
    checkDemosaicSize(s.type, w, h);
    return runChain(*chain_, mosaic, 2, out);
  }

  uint32_t width() const { return chain_->setup().maxWidth; }
  uint32_t height() const { return chain_->setup().maxHeight; }

 private:
  py::dtype dtype_;
  std::unique_ptr<Chain> chain_;
};

py::array demosaic(const py::array& mosaic, const std::string& pattern, const std::string& algorithm,
                   std::optional<int> bits, const std::string& backend) {
  checkArray(mosaic, 2, "mosaic");
  Debayer d(static_cast<uint32_t>(mosaic.shape(1)), static_cast<uint32_t>(mosaic.shape(0)), mosaic.dtype(), pattern,
            algorithm, bits, backend, py::none());
  return d.call(mosaic, py::none());
}

py::array whiteBalance(const py::array& mosaic, const py::object& gains, const std::string& pattern,
                       std::optional<int> bits, const std::string& backend) {
  checkArray(mosaic, 2, "mosaic");
  const std::vector<float> g = whiteBalanceGains(gains);
  ChainSetup s;
  s.kind = Kind::WhiteBalance;
  s.depth = depthOf(mosaic.dtype(), bits);
  s.pattern = patternOf(pattern);
  s.whiteBalance = {g[0], g[1], g[2], g[3], s.pattern};
  s.maxWidth = static_cast<uint32_t>(mosaic.shape(1));
  s.maxHeight = static_cast<uint32_t>(mosaic.shape(0));
  useBackend(backend);
  Chain chain(s);
  return runChain(chain, mosaic, 2, py::none());
}

py::array colorCorrection(const py::array& image, const py::object& matrix, const py::object& whiteLevel,
                          std::optional<int> bits, const std::string& backend) {
  checkArray(image, 3, "image");
  ChainSetup s;
  s.kind = Kind::ColorCorrection;
  s.depth = depthOf(image.dtype(), bits);
  const std::vector<float> m =
      floats(matrix, 12, "matrix must be 3 x 4 numbers: each output channel from R, G, B and an offset");
  std::copy(m.begin(), m.end(), s.colorCorrection.matrix);
  const int top = static_cast<int>((1u << s.depth.bits) - 1);
  for (int& level : s.colorCorrection.whiteLevel) level = top;
  if (!whiteLevel.is_none()) {
    // Checked as doubles: the levels are 32-bit integers, and a NaN or one
    // beyond their range has no integer to become.
    const auto levels = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(whiteLevel);
    if (!levels || levels.size() != 3) invalid("white_level must be three numbers: R, G, B");
    for (int c = 0; c < 3; ++c) {
      const double v = levels.data()[c];
      if (!(v >= 0.0 && v <= 2147483647.0))
        invalid("white_level must be three numbers from 0 to 2147483647, not " + std::to_string(v));
      s.colorCorrection.whiteLevel[c] = static_cast<int32_t>(v);
    }
  }
  s.maxWidth = static_cast<uint32_t>(image.shape(1));
  s.maxHeight = static_cast<uint32_t>(image.shape(0));
  useBackend(backend);
  Chain chain(s);
  return runChain(chain, image, 3, py::none());
}

}  // namespace

// opix_files.cpp: the program's image readers and writers.
void addFileFunctions(py::module_& m);

#define OPIX_TEXT(x) #x
#define OPIX_NUMBER_TEXT(x) OPIX_TEXT(x)

PYBIND11_MODULE(_opix, m) {
  m.doc() = "opix: demosaic and image filters on CUDA GPUs and the CPU";
  m.attr("__version__") = OPIX_NUMBER_TEXT(OPIX_VERSION_MAJOR) "." OPIX_NUMBER_TEXT(
      OPIX_VERSION_MINOR) "." OPIX_NUMBER_TEXT(OPIX_VERSION_PATCH) "." OPIX_NUMBER_TEXT(OPIX_VERSION_BUILD);

  static py::exception<SdkError> error(m, "Error");
  error.doc() = "A failed SDK call; `status` holds the status name, such as OPIX_INVALID_SIZE.";
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const SdkError& e) {
      const std::string name = opixStatusName(e.status);
      py::object exc = py::handle(error.ptr())(e.call + " failed: " + name);
      exc.attr("status") = name;
      exc.attr("code") = static_cast<int>(e.status);
      PyErr_SetObject(error.ptr(), exc.ptr());
    }
  });

  m.def(
      "backend",
      [](const std::string& backend) {
        useBackend(backend);
        return std::string(backendName(gBackend));
      },
      py::arg("backend") = "auto",
      "The backend the SDK runs on in this process, 'cuda' or 'host'; chooses `backend` (auto: a GPU when there is "
      "one; host; cuda; cuda:N) if none is chosen yet.");
  m.def("demosaic", &demosaic, py::arg("mosaic"), py::arg("pattern") = "RGGB", py::arg("algorithm") = "DFPD",
        py::arg("bits") = py::none(), py::arg("backend") = "auto",
        "Colour image (H, W, 3) of a Bayer mosaic (H, W); uint8 in gives uint8 out, uint16 in gives uint16 out. "
        "Binning types give (H / n, W / n, 3).");
  m.def("white_balance", &whiteBalance, py::arg("mosaic"), py::arg("gains"), py::arg("pattern") = "RGGB",
        py::arg("bits") = py::none(), py::arg("backend") = "auto",
        "The mosaic with each sample multiplied by the gain (R, G1, G2, B) of its Bayer site.");
  m.def("color_correction", &colorCorrection, py::arg("image"), py::arg("matrix"), py::arg("white_level") = py::none(),
        py::arg("bits") = py::none(), py::arg("backend") = "auto",
        "A colour image (H, W, 3) through a 3 x 4 matrix: out[c] = m[c][0] R + m[c][1] G + m[c][2] B - m[c][3], "
        "after limiting each channel to its white level.");

  m.def(
      "demosaic_reach",
      [](const std::string& algorithm) {
        uint32_t reach = 0;
        check(opixDebayerGetReach(algorithmOf(algorithm), &reach), "opixDebayerGetReach");
        return reach;
      },
      py::arg("algorithm"),
      "How many columns and rows away from an output pixel the mosaic samples it depends on lie (0 for binning): "
      "the overlap that tiles of a mosaic need to give the samples of one call.");
  addFileFunctions(m);

  py::class_<Debayer>(
      m, "Debayer",
      "A demosaic chain for frames up to width x height, built once: calling it allocates nothing "
      "in the SDK, and nothing at all when `out` is given. white_balance: four gains (R, G1, G2, "
      "B) applied to the mosaic ahead of the demosaic, as opix_debayer's -R -G1 -G2 -B do. stream: an integer "
      "stream handle (CuPy's Stream.ptr, PyTorch's Stream.cuda_stream; 0 is the default stream) "
      "on which the chain's device work is queued; a call still returns once its result is in "
      "`out`.")
      .def(py::init<uint32_t, uint32_t, const py::object&, const std::string&, const std::string&, std::optional<int>,
                    const std::string&, const py::object&, const py::object&>(),
           py::arg("width"), py::arg("height"), py::arg("dtype") = "uint8", py::arg("pattern") = "RGGB",
           py::arg("algorithm") = "DFPD", py::arg("bits") = py::none(), py::arg("backend") = "auto",
           py::arg("white_balance") = py::none(), py::arg("stream") = 0)
      .def("__call__", &Debayer::call, py::arg("mosaic"), py::arg("out") = py::none())
      .def_property_readonly("width", &Debayer::width)
      .def_property_readonly("height", &Debayer::height);

  opix::python::registerCamera(
      m, [](const std::string& backend) { useBackend(backend); }, gSdk,
      [](opixStatus_t s, const char* call) { check(s, call); });
}
