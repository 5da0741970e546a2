/* A user's program: demosaics a flat RGGB field on the host backend through
 * the installed SDK and prints one pixel. */
#include <opix.h>
#include <stdio.h>

#define CHECK(call)                                                       \
  do {                                                                    \
    opixStatus_t status_ = (call);                                        \
    if (status_ != OPIX_OK) {                                             \
      fprintf(stderr, "%s failed: %s\n", #call, opixStatusName(status_)); \
      return 1;                                                           \
    }                                                                     \
  } while (0)

enum { kWidth = 64, kHeight = 64 };

int main(void) {
  static uint8_t mosaic[kHeight][kWidth];
  static uint8_t rgb[kHeight][kWidth * 3];
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      mosaic[y][x] = (uint8_t)(y % 2 == 0 ? (x % 2 == 0 ? 200 : 100) : (x % 2 == 0 ? 100 : 40));

  opixImportFromHostHandle_t importer = NULL;
  opixDebayerHandle_t debayer = NULL;
  opixExportToHostHandle_t exporter = NULL;
  opixDeviceSurfaceBufferHandle_t buffer = NULL;
  opixSurfaceFormat_t format;
  CHECK(opixInitHost());
  CHECK(opixImportFromHostCreate(&importer, OPIX_I8, kWidth, kHeight, &buffer));
  CHECK(opixDebayerCreate(&debayer, OPIX_DFPD, kWidth, kHeight, buffer, &buffer));
  CHECK(opixExportToHostCreate(&exporter, &format, buffer));
  CHECK(opixImportFromHostCopy(importer, mosaic, kWidth, kWidth, kHeight));
  CHECK(opixDebayerTransform(debayer, OPIX_BAYER_RGGB, kWidth, kHeight));
  CHECK(opixExportToHostCopy(exporter, rgb, kWidth, kWidth * 3, kHeight, NULL));
  const uint8_t* p = &rgb[17][33 * 3];
  printf("opix %d.%d.%d %s: pixel (33, 17) = %d %d %d\n", OPIX_VERSION_MAJOR, OPIX_VERSION_MINOR, OPIX_VERSION_PATCH,
         opixSurfaceFormatName(format), p[0], p[1], p[2]);
  CHECK(opixDebayerDestroy(debayer));
  CHECK(opixExportToHostDestroy(exporter));
  CHECK(opixImportFromHostDestroy(importer));
  return 0;
}
