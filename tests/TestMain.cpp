// Test main: selects the backend named by --backend=host|cuda|cuda-cpu before
// any test runs. cuda-cpu is the host backend with every kernel launched
// through its CUDA driver built for the CPU. Without a usable CUDA device (or
// a build without the CUDA drivers for the CPU) the run ends with status 77,
// which ctest reports as skipped.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TestSupport.h"
#include "opix.h"

namespace opix::test {
Backend g_backend = Backend::Host;
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::string backend = "host";
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--backend=", 10) == 0) backend = argv[i] + 10;

  if (backend == "cuda") {
    const opixStatus_t s = opixInit(1u, false);
    if (s != OPIX_OK) {
      std::printf("CUDA backend: no usable CUDA device (opixInit returned %s); tests skipped\n", opixStatusName(s));
      return 77;
    }
    opix::test::g_backend = opix::test::Backend::Cuda;
  } else if (backend == "host" || backend == "cuda-cpu") {
    const bool cudaOnCpu = backend == "cuda-cpu";
    if (cudaOnCpu && !opix::device::cudaDriversOnCpuCompiledIn()) {
      std::printf("cuda-cpu: this build has no CUDA drivers for the CPU (HIP-CPU not found); tests skipped\n");
      return 77;
    }
    // Programs started by the tests inherit the choice.
    if (cudaOnCpu)
      setenv("OPIX_CUDA_ON_CPU", "1", 1);
    else
      unsetenv("OPIX_CUDA_ON_CPU");
    if (opixInitHost() != OPIX_OK) {
      std::printf("%s backend: opixInitHost failed\n", backend.c_str());
      return 1;
    }
    if (cudaOnCpu) opix::test::g_backend = opix::test::Backend::CudaOnCpu;
  } else {
    std::printf("unknown backend '%s' (host, cuda or cuda-cpu)\n", backend.c_str());
    return 2;
  }
  std::printf("Running on the %s backend\n", backend.c_str());
  return RUN_ALL_TESTS();
}
