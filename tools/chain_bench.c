/* The time of one frame through a demosaic chain on the public C interface
 * alone, as a user's program runs it: import from pageable host memory,
 * debayer, export to pageable host memory. The Python module's benchmark
 * (python/bench_overhead.py) measures its own calls against this.
 *
 *   opix_chain_bench WIDTH HEIGHT BITS ALGORITHM RUNS [host|cuda]
 *
 * BITS is 8, 12 or 16; ALGORITHM is DFPD, HQLI or L7. Prints the median and
 * the minimum in milliseconds. */
#define _POSIX_C_SOURCE 199309L
#include <opix.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define CHECK(call)                                                       \
  do {                                                                    \
    opixStatus_t status_ = (call);                                        \
    if (status_ != OPIX_OK) {                                             \
      fprintf(stderr, "%s failed: %s\n", #call, opixStatusName(status_)); \
      return 1;                                                           \
    }                                                                     \
  } while (0)

static double nowMs(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e3 + (double)t.tv_nsec * 1e-6;
}

static int byValue(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

int main(int argc, char** argv) {
  if (argc < 6) {
    fprintf(stderr, "usage: opix_chain_bench WIDTH HEIGHT BITS ALGORITHM RUNS [host|cuda]\n");
    return 2;
  }
  const uint32_t width = (uint32_t)strtoul(argv[1], NULL, 10), height = (uint32_t)strtoul(argv[2], NULL, 10);
  const int bits = atoi(argv[3]);
  const int runs = atoi(argv[5]);
  const opixSurfaceFormat_t format = bits == 8 ? OPIX_I8 : bits == 12 ? OPIX_I12 : OPIX_I16;
  opixDebayerType_t type = OPIX_DFPD;
  if (strcmp(argv[4], "HQLI") == 0) type = OPIX_HQLI;
  if (strcmp(argv[4], "L7") == 0) type = OPIX_L7;
  if (width == 0 || height == 0 || runs < 1 || (bits != 8 && bits != 12 && bits != 16)) {
    fprintf(stderr, "opix_chain_bench: bad arguments\n");
    return 2;
  }
  if (argc > 6 && strcmp(argv[6], "cuda") == 0)
    CHECK(opixInit(1, false));
  else
    CHECK(opixInitHost());

  const size_t sample = bits == 8 ? 1 : 2;
  const size_t inPitch = width * sample, outPitch = (size_t)width * 3 * sample;
  unsigned char* in = malloc(inPitch * height);
  unsigned char* out = malloc(outPitch * height);
  double* times = malloc(sizeof(double) * (size_t)runs);
  if (!in || !out || !times) return 1;
  unsigned state = 12345;
  for (size_t i = 0; i < inPitch * height; ++i) {
    state = state * 1103515245u + 12345u;
    in[i] = (unsigned char)(state >> 16);
  }
  if (bits == 12)
    for (size_t i = 1; i < inPitch * height; i += 2) in[i] &= 0x0F;

  opixImportFromHostHandle_t importer;
  opixDebayerHandle_t debayer;
  opixExportToHostHandle_t exporter;
  opixDeviceSurfaceBufferHandle_t buffer;
  opixSurfaceFormat_t outFormat;
  CHECK(opixImportFromHostCreate(&importer, format, width, height, &buffer));
  CHECK(opixDebayerCreate(&debayer, type, width, height, buffer, &buffer));
  CHECK(opixExportToHostCreate(&exporter, &outFormat, buffer));
  for (int r = -3; r < runs; ++r) {
    const double start = nowMs();
    CHECK(opixImportFromHostCopy(importer, in, width, (uint32_t)inPitch, height));
    CHECK(opixDebayerTransform(debayer, OPIX_BAYER_RGGB, width, height));
    CHECK(opixExportToHostCopy(exporter, out, width, (uint32_t)outPitch, height, NULL));
    if (r >= 0) times[r] = nowMs() - start;
  }
  qsort(times, (size_t)runs, sizeof(double), byValue);
  printf("median %.3f ms, min %.3f ms\n", times[runs / 2], times[0]);
  CHECK(opixDebayerDestroy(debayer));
  CHECK(opixExportToHostDestroy(exporter));
  CHECK(opixImportFromHostDestroy(importer));
  free(in);
  free(out);
  free(times);
  return 0;
}
