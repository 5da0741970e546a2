// Helpers shared by the tests: device buffers that work on either backend,
// trace capture and random data.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "DeviceSurfaceBuffer.h"
#include "device/Device.h"
#include "opix.h"
#include "opixException.h"

namespace opix::test {

// CudaOnCpu: host memory, kernels through the CUDA drivers built for the CPU.
enum class Backend { Host, Cuda, CudaOnCpu };
extern Backend g_backend;

// Expects `body` to raise opixException with `status`.
template <class Body>
void expectStatus(opixStatus_t status, Body&& body) {
  try {
    body();
    ADD_FAILURE() << "no exception, expected " << opixStatusName(status);
  } catch (const opixException& e) {
    EXPECT_EQ(e.status(), status) << opixStatusName(e.status());
  }
}

// A block of device memory of the backend in use.
class DeviceBlock {
 public:
  explicit DeviceBlock(size_t bytes) : bytes_(bytes) { EXPECT_EQ(device::malloc(&p_, bytes), device::kSuccess); }
  ~DeviceBlock() { device::free(p_); }
  DeviceBlock(const DeviceBlock&) = delete;
  DeviceBlock& operator=(const DeviceBlock&) = delete;

  unsigned char* get() const { return static_cast<unsigned char*>(p_); }
  void upload(const std::vector<uint8_t>& host) {
    ASSERT_LE(host.size(), bytes_);
    ASSERT_EQ(device::memcpy(p_, host.data(), host.size(), device::CopyKind::HostToDevice), device::kSuccess);
  }
  std::vector<uint8_t> download() const {
    std::vector<uint8_t> host(bytes_);
    EXPECT_EQ(device::streamSynchronize(), device::kSuccess);
    EXPECT_EQ(device::memcpy(host.data(), p_, bytes_, device::CopyKind::DeviceToHost), device::kSuccess);
    return host;
  }

 private:
  void* p_ = nullptr;
  size_t bytes_;
};

// A source surface whose pixels live outside any component, as a producer
// component's destination buffer would.
// `extraPitch` bytes more per row than packed rows need, as a caller's
// padded rows have (planes stay max pitch x max height apart).
struct ExternalSurface {
  ExternalSurface(uint32_t w, uint32_t h, opixSurfaceFormat_t f, uint32_t extraPitch = 0)
      : block(size_t{opixRowBytes(f, w) + extraPitch} * h *
              (f == OPIX_RGB12_PLANAR || f == OPIX_RGB16_PLANAR ? 3 : 1)) {
    buffer = createSurfaceBuffer(w, h, f);
    buffer->external = 1;
    buffer->directPointer = block.get();
    buffer->maxPitch += extraPitch;
    buffer->pitch += extraPitch;
  }
  DeviceBlock block;
  SurfaceBufferPtr buffer;
};

inline std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// A trace file opened for one test and read back as text.
class TraceCapture {
 public:
  TraceCapture() {
    char name[] = "/tmp/opix_trace_XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) ::close(fd);
    path_ = name;
    EXPECT_EQ(opixTraceCreate(path_.c_str()), OPIX_OK);
  }
  ~TraceCapture() {
    opixTraceClose();
    std::remove(path_.c_str());
  }
  // Closes the trace and returns everything written.
  std::string finish() {
    opixTraceClose();
    std::ifstream in(path_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace opix::test
