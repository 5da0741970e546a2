// Test main: selects the backend named by --backend=host|cuda before any test
// runs. Without a usable CUDA device the CUDA run ends with status 77, which
// ctest reports as skipped.
#include <gtest/gtest.h>

#include <cstdio>
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
  } else if (backend == "host") {
    if (opixInitHost() != OPIX_OK) {
      std::printf("host backend: opixInitHost failed\n");
      return 1;
    }
  } else {
    std::printf("unknown backend '%s' (host or cuda)\n", backend.c_str());
    return 2;
  }
  std::printf("Running on the %s backend\n", backend.c_str());
  return RUN_ALL_TESTS();
}
