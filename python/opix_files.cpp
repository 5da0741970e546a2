// Image files for the Python module: opix_debayer's own readers and writers,
// so that a file demosaiced in Python gives the program's bytes.
//
//   opix.read_image(path, width=0, height=0, bits=0) -> (array, bits)
//   opix.write_image(path, image, bits=None) -> the name written
//   opix.status_message(status) -> the program's text for a status
//
// A failure raises opix.FileError (an opix.Error) whose `status` is the
// status name and whose `message` is what the program prints for it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "HostImage.h"
#include "ImageFiles.h"
#include "Pipeline.h"
#include "camera_python.h"
#include "opix.h"

namespace py = pybind11;

namespace {

// A failed read or write: the status and the program's text for it.
struct FileFailure {
  opixStatus_t status;
  std::string message;
};

// The readers and writers tell what went wrong on standard error, as the
// program shows it. While one of them runs, descriptor 2 is pointed at a
// scratch file and its text kept; calls are serialised meanwhile. Text that
// another thread of the process writes to standard error in that time lands
// in the message too.
class StderrCapture {
 public:
  StderrCapture() : lock_(mutex()) {
    std::fflush(stderr);
    scratch_ = std::tmpfile();
    saved_ = dup(2);
    if (scratch_ && saved_ >= 0 && dup2(fileno(scratch_), 2) >= 0) active_ = true;
  }
  ~StderrCapture() {
    restore();
    if (scratch_) std::fclose(scratch_);
  }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Everything written meanwhile; standard error is itself again after it.
  std::string text() {
    restore();
    std::string out;
    if (!scratch_) return out;
    std::rewind(scratch_);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, scratch_)) > 0) out.append(buffer, n);
    return out;
  }

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  void restore() {
    if (active_) {
      std::fflush(stderr);
      dup2(saved_, 2);
      active_ = false;
    }
    if (saved_ >= 0) close(saved_);
    saved_ = -1;
  }

  std::lock_guard<std::mutex> lock_;
  FILE* scratch_ = nullptr;
  int saved_ = -1;
  bool active_ = false;
};

// What the program prints on standard error for a file it fails on: the
// reader's or writer's own lines, then the text of the status.
std::string programMessage(const std::string& captured, opixStatus_t status) {
  std::string text = captured + opix::app::statusMessage(status);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// Made once at import and kept for the life of the process.
py::handle gFileError;

[[noreturn]] void raise(const FileFailure& f) { opix::python::raiseFileError(f.status, f.message); }

py::tuple readImage(const std::string& path, uint32_t width, uint32_t height, uint32_t bits) {
  // The readers fill page-locked buffers, which need the SDK's backend: the
  // one chosen, or the default choice now.
  py::module_::import("opix._opix").attr("backend")();
  opix::HostImage image;
  opixStatus_t status;
  std::string captured;
  {
    py::gil_scoped_release release;
    StderrCapture capture;
    status = opix::readImage(path, "", image, height, width, bits);
    captured = capture.text();
  }
  if (status != OPIX_OK) raise({status, programMessage(captured, status)});
  const uint32_t channels = opixFormatChannels(image.surfaceFormat);
  const size_t bytes = image.bitsPerChannel > 8 ? 2 : 1;
  const py::dtype dtype = bytes == 1 ? py::dtype::of<uint8_t>() : py::dtype::of<uint16_t>();
  std::vector<py::ssize_t> shape{image.height, image.width};
  if (channels != 1) shape.push_back(channels);
  py::array a(dtype, shape);
  auto* dst = static_cast<unsigned char*>(a.mutable_data());
  const size_t rowBytes = size_t{image.width} * channels * bytes;
  {
    py::gil_scoped_release release;
    for (uint32_t y = 0; y < image.height; ++y)
      std::memcpy(dst + y * rowBytes, image.data.get() + size_t{y} * image.pitch, rowBytes);
    // A BMP reader gives colour as blue, green, red; arrays are R, G, B.
    if (image.surfaceFormat == OPIX_BGR8)
      for (size_t i = 0; i < size_t{image.width} * image.height; ++i) std::swap(dst[3 * i], dst[3 * i + 2]);
  }
  return py::make_tuple(a, image.bitsPerChannel);
}

std::string writeImage(const std::string& path, const py::array& image, const py::object& bitsArg) {
  const bool wide = image.dtype().num() == py::dtype::of<uint16_t>().num();
  if (!wide && image.dtype().num() != py::dtype::of<uint8_t>().num())
    throw py::value_error("Samples must be uint8 or uint16, not " + std::string(py::str(image.dtype())));
  if (image.dtype().byteorder() == '>') throw py::value_error("Samples must be in the host's byte order");
  if (image.ndim() != 2 && !(image.ndim() == 3 && image.shape(2) == 3))
    throw py::value_error("image must be (H, W) grey or (H, W, 3) colour");
  const int bits = bitsArg.is_none() ? (wide ? 16 : 8) : bitsArg.cast<int>();
  if (wide ? (bits != 12 && bits != 16) : bits != 8)
    throw py::value_error("bits must be 8 for uint8 samples and 12 or 16 for uint16 samples, not " +
                          std::to_string(bits));
  const bool colour = image.ndim() == 3;
  if (image.shape(0) < 1 || image.shape(1) < 1 || image.shape(0) > 65535 || image.shape(1) > 65535)
    throw py::value_error("Invalid image dimensions");
  opixSurfaceFormat_t format;
  if (colour)
    format = bits == 8 ? OPIX_RGB8 : bits == 12 ? OPIX_RGB12 : OPIX_RGB16;
  else
    format = bits == 8 ? OPIX_I8 : bits == 12 ? OPIX_I12 : OPIX_I16;
  // Rows of contiguous samples; a BMP takes blue, green, red, as the
  // program's export gives it for a .bmp name.
  const bool bgr = colour && !wide && opix::hasExtension(path, ".bmp");
  const py::array rows = py::array::ensure(image, py::array::c_style | py::array::forcecast);
  if (!rows) throw py::error_already_set();
  const auto w = static_cast<uint32_t>(image.shape(1)), h = static_cast<uint32_t>(image.shape(0));
  const auto pitch = static_cast<uint32_t>(rows.strides(0));
  std::vector<unsigned char> swapped;
  const void* pixels = rows.data();
  if (bgr) {
    const auto* src = static_cast<const unsigned char*>(rows.data());
    swapped.assign(src, src + size_t{pitch} * h);
    for (size_t i = 0; i + 2 < swapped.size(); i += 3) std::swap(swapped[i], swapped[i + 2]);
    pixels = swapped.data();
  }
  std::string name = path;
  opixStatus_t status;
  std::string captured;
  {
    py::gil_scoped_release release;
    StderrCapture capture;
    status = opix::writeImage(name, pixels, format, h, w, pitch);
    captured = capture.text();
  }
  if (status != OPIX_OK) raise({status, programMessage(captured, status)});
  return name;
}

}  // namespace

[[noreturn]] void opix::python::raiseFileError(opixStatus_t status, const std::string& message) {
  py::object e = gFileError(message);
  e.attr("status") = opixStatusName(status);
  e.attr("code") = static_cast<int>(status);
  e.attr("message") = message;
  PyErr_SetObject(gFileError.ptr(), e.ptr());
  throw py::error_already_set();
}

void addFileFunctions(py::module_& m) {
  gFileError = PyErr_NewExceptionWithDoc("opix.FileError",
                                         "An image file that could not be read or written; `status` holds the status "
                                         "name and `message` the program's text.",
                                         m.attr("Error").ptr(), nullptr);
  if (!gFileError) throw py::error_already_set();
  m.attr("FileError") = gFileError;
  m.def("read_image", &readImage, py::arg("path"), py::arg("width") = 0, py::arg("height") = 0, py::arg("bits") = 0,
        "Reads an image file with opix_debayer's readers: (array, bits). A grey mosaic comes as (H, W) uint8 for 8 "
        "bits, uint16 above; colour as (H, W, 3). width, height and bits describe RAW files.");
  m.def("write_image", &writeImage, py::arg("path"), py::arg("image"), py::arg("bits") = py::none(),
        "Writes an image by the extension of path with opix_debayer's writers, atomically (the file appears whole "
        "or not at all); returns the name written (a colour image named .pgm becomes .ppm). bits: 8 for uint8, 12 "
        "or 16 for uint16 (default 16).");
  m.def(
      "status_message",
      [](int status) {
        std::string s = opix::app::statusMessage(status);
        while (!s.empty() && s.back() == '\n') s.pop_back();
        return s;
      },
      py::arg("status"), "opix_debayer's text for a status code.");
}
