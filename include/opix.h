/*
 * opix SDK: public C interface.
 *
 * Every function returns an opixStatus_t and lets no exception out. Objects are
 * made by a Create function that fills an opaque handle, driven by Transform or
 * Copy, and ended by Destroy. Components are chained by handing the destination
 * buffer of one Create to the next Create as its source buffer.
 */
#ifndef OPIX_H
#define OPIX_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

/* OPIX_VERSION_MAJOR, OPIX_VERSION_MINOR, OPIX_VERSION_PATCH, OPIX_VERSION_BUILD */
#include "opix_version.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Every enumeration is a 32-bit signed integer; C++ callers get that as the
 * fixed underlying type, so any 32-bit value may be stored and checked. */
#ifdef __cplusplus
#define OPIX_ENUM_BASE : int32_t
#else
#define OPIX_ENUM_BASE
#endif

/* ------------------------------------------------------------------ statuses */

typedef enum OPIX_ENUM_BASE {
  OPIX_OK = 0,
  OPIX_INVALID_DEVICE = 2,
  OPIX_INCOMPATIBLE_DEVICE = 3,
  OPIX_INSUFFICIENT_DEVICE_MEMORY = 4,
  OPIX_INSUFFICIENT_HOST_MEMORY = 5,
  OPIX_INVALID_HANDLE = 6,
  OPIX_INVALID_VALUE = 7,
  OPIX_UNAPPLICABLE_OPERATION = 8,
  OPIX_INVALID_SIZE = 9,
  OPIX_UNALIGNED_DATA = 10,
  OPIX_INVALID_TABLE = 11,
  OPIX_BITSTREAM_CORRUPT = 12,
  OPIX_EXECUTION_FAILURE = 13,
  OPIX_INTERNAL_ERROR = 14,
  OPIX_UNSUPPORTED_SURFACE = 15,
  OPIX_IO_ERROR = 16,
  OPIX_INVALID_FORMAT = 17,
  OPIX_UNSUPPORTED_FORMAT = 18,
  OPIX_END_OF_STREAM = 19,
  OPIX_CHILD_PROCESS_ERROR = 20,
  OPIX_TIMEOUT = 21,
  OPIX_OPEN_FILE_ERROR = 22,
  OPIX_UNRECOGNIZED_ERROR = 23
} opixStatus_t;

/* Returned by opixInit when the CUDA driver is older than the CUDA runtime. */
#define OPIX_DRIVER_OLDER_THAN_RUNTIME 24

/* ----------------------------------------------------------- enumerations */

typedef enum OPIX_ENUM_BASE {
  OPIX_I8 = 0,
  OPIX_I10 = 1,
  OPIX_I12 = 2,
  OPIX_I14 = 3,
  OPIX_I16 = 4,
  OPIX_RGB8 = 5,
  OPIX_BGR8 = 6,
  OPIX_RGB12 = 7,
  OPIX_RGB16 = 8,
  OPIX_BGRX8 = 9,
  OPIX_CrCbY = 10,
  OPIX_YCbCr = 11,
  OPIX_RGB32 = 12,
  OPIX_RGB12_PLANAR = 13,
  OPIX_RGB16_PLANAR = 14
} opixSurfaceFormat_t;

typedef enum OPIX_ENUM_BASE {
  OPIX_BAYER_NONE = 0,
  OPIX_BAYER_RGGB = 1,
  OPIX_BAYER_BGGR = 2,
  OPIX_BAYER_GBRG = 3,
  OPIX_BAYER_GRBG = 4
} opixBayerPattern_t;

typedef enum OPIX_ENUM_BASE {
  OPIX_DFPD = 0,
  OPIX_HQLI = 1,
  OPIX_MG = 2,
  OPIX_MG2 = 3,
  OPIX_MG_V2 = 4,
  OPIX_BINNING_2x2 = 5,
  OPIX_BINNING_4x4 = 6,
  OPIX_BINNING_8x8 = 7,
  OPIX_L7 = 8,
  OPIX_AMAZE = 9
} opixDebayerType_t;

typedef enum OPIX_ENUM_BASE {
  OPIX_GAUSSIAN_SHARPEN = 1,
  OPIX_LUT_8_8 = 2,
  OPIX_LUT_8_8_C = 3,
  OPIX_LUT_8_12 = 4,
  OPIX_LUT_8_12_C = 5,
  OPIX_LUT_8_16 = 6,
  OPIX_LUT_8_16_C = 7,
  OPIX_LUT_8_16_BAYER = 8,
  OPIX_LUT_10_16 = 9,
  OPIX_LUT_10_16_BAYER = 10,
  OPIX_LUT_12_8 = 11,
  OPIX_LUT_12_8_C = 12,
  OPIX_LUT_12_12 = 13,
  OPIX_LUT_12_12_C = 14,
  OPIX_LUT_12_16 = 15,
  OPIX_LUT_12_16_C = 16,
  OPIX_LUT_12_16_BAYER = 17,
  OPIX_LUT_14_16 = 18,
  OPIX_LUT_14_16_BAYER = 19,
  OPIX_LUT_16_16 = 20,
  OPIX_LUT_16_16_C = 21,
  OPIX_LUT_16_8 = 22,
  OPIX_LUT_16_8_C = 23,
  OPIX_LUT_16_16_BAYER = 24,
  OPIX_LUT_16_16_FR = 25,
  OPIX_LUT_16_16_FR_C = 26,
  OPIX_LUT_16_16_FR_BAYER = 27,
  OPIX_HSV_LUT_3D = 28,
  OPIX_RGB_LUT_3D = 29,
  OPIX_TONE_CURVE = 30,
  OPIX_SAM = 31,
  OPIX_SAM16 = 32,
  OPIX_BASE_COLOR_CORRECTION = 33,
  OPIX_WHITE_BALANCE = 34,
  OPIX_COLUMN_FILTER = 35,
  OPIX_COLOR_SATURATION_HSL = 36,
  OPIX_COLOR_SATURATION_HSV = 37,
  OPIX_MEDIAN = 38,
  OPIX_BAYER_BLACK_SHIFT = 39,
  OPIX_DEFRINGE = 40,
  OPIX_BAD_PIXEL_CORRECTION_5x5 = 41,
  OPIX_BINNING = 42,
  OPIX_GAUSSIAN_BLUR = 43,
  OPIX_FFC = 44
} opixImageFilterType_t;

typedef enum OPIX_ENUM_BASE {
  OPIX_OP_REPLACE = 0,
  OPIX_OP_ADD = 1,
  OPIX_OP_MULTIPLY = 2
} opixColorSaturationOperationType_t;

/* The value of a pixel that indexes a colour saturation curve: its hue, its
 * saturation, or its lightness (HSL) or value (HSV). */
typedef enum OPIX_ENUM_BASE {
  OPIX_CHANNEL_HUE = 0,
  OPIX_CHANNEL_SATURATION = 1,
  OPIX_CHANNEL_LIGHTNESS = 2
} opixColorSaturationChannelType_t;

typedef enum OPIX_ENUM_BASE { OPIX_BINNING_NONE = 0, OPIX_BINNING_SUM = 1, OPIX_BINNING_AVERAGE = 2 } opixBinningMode_t;

typedef enum OPIX_ENUM_BASE { OPIX_CONVERT_NONE = 0, OPIX_CONVERT_BGR = 1 } opixConvertType_t;

typedef enum OPIX_ENUM_BASE { OPIX_BIT_DEPTH_CONVERTER = 0 } opixSurfaceConverter_t;

/* Display names; every function falls back to a fixed text for values outside
 * its table and never fails. */
const char* opixStatusName(int status);
const char* opixSurfaceFormatName(opixSurfaceFormat_t format);
const char* opixBayerPatternName(opixBayerPattern_t pattern);
const char* opixDebayerTypeName(opixDebayerType_t type);
const char* opixImageFilterTypeName(opixImageFilterType_t type);
const char* opixOperationTypeName(opixColorSaturationOperationType_t op);
const char* opixBinningModeName(opixBinningMode_t mode);
const char* opixConvertTypeName(opixConvertType_t convert);

/* Unaligned row size in bytes of a row of `width` pixels (0 for an unknown format). */
uint32_t opixRowBytes(opixSurfaceFormat_t format, uint32_t width);
/* Byte size of a width x height image (0 for an unknown format). */
uint64_t opixImageSize(opixSurfaceFormat_t format, uint32_t width, uint32_t height);
/* a x b x c rounded up to a multiple of d. */
uint64_t opixRoundUpProduct(uint64_t a, uint64_t b, uint64_t c, uint64_t d);
/* Channels, significant bits per channel and bytes per stored element of a format (0 if unknown). */
uint32_t opixFormatChannels(opixSurfaceFormat_t format);
uint32_t opixFormatBits(opixSurfaceFormat_t format);
float opixFormatBytesPerElement(opixSurfaceFormat_t format);

/* --------------------------------------------------- device surface buffer */

/* A device surface buffer: the output of one component and the input of the
 * next.
 *
 * A buffer handed out by a Create is owned by the component that made it.
 * Every component that reads it (a Create given it as the source) keeps that
 * producer alive, reference counted: components may be destroyed in any
 * order, and a producer destroyed before its readers keeps its memory, its
 * last image readable, until the last of them is destroyed. A new Create may
 * take the buffer only while its producer's handle or one of its readers
 * lives.
 *
 * A buffer the caller fills in itself (external set, pixels at directPointer)
 * stays the caller's: it must outlive every component reading it. Its record
 * is checked when a Create takes it and again at every Transform or Copy that
 * reads it, since the caller may change it between calls: directPointer must
 * not be NULL and pitch must hold a row of the current width (opixRowBytes),
 * else OPIX_INVALID_VALUE; width and height must not exceed maxWidth and
 * maxHeight, else OPIX_INVALID_SIZE. Planar formats hold three planes
 * maxPitch x maxHeight bytes apart, and pitch x height must fit in one
 * (OPIX_INVALID_VALUE). directPointer, pitch and that plane distance must be
 * multiples of 4 (OPIX_UNALIGNED_DATA). The caller's memory must span pitch x
 * height bytes (planar: two plane distances more). */
typedef struct opixDeviceSurfaceBuffer_t {
  uint8_t external;       /* 0: pixels at *memorySpaceBase + offset; else at directPointer */
  void** memorySpaceBase; /* the owning component's memory-space pointer field */
  uint64_t offset;
  uint64_t size;
  void* directPointer;
  opixSurfaceFormat_t surfaceFormat;
  uint32_t maxWidth;
  uint32_t maxHeight;
  uint32_t maxPitch;
  uint32_t pitchAlignment;
  uint32_t width;
  uint32_t height;
  uint32_t pitch;
  float bytesPerElement;
  uint32_t channels;
} opixDeviceSurfaceBuffer_t;

typedef opixDeviceSurfaceBuffer_t* opixDeviceSurfaceBufferHandle_t;

/* ------------------------------------------------------------------ handles */

/* Threads: handles may be created, used and destroyed on any thread, and
 * handles of one chain on different threads. One handle takes one call at a
 * time: two Transform or Copy calls on the same handle must not overlap. A
 * Destroy that meets a call another thread is making on the same handle waits
 * until that call has returned; a call that begins once the Destroy has begun
 * is refused with OPIX_INVALID_HANDLE. Do not use a handle after its Destroy
 * has returned: a later Create may give out the same value. */

typedef struct opixDebayerHandleRecord* opixDebayerHandle_t;
typedef struct opixSurfaceConverterHandleRecord* opixSurfaceConverterHandle_t;
typedef struct opixImageFilterHandleRecord* opixImageFilterHandle_t;
typedef struct opixGpuTimerRecord* opixGpuTimerHandle_t;

/* The SDK's build date, "yyyy-mm-dd". */
const char* opixBuildDate(void);

/* ----------------------------------------------------------- initialisation */

/* Selects the CUDA device given by the lowest set bit of deviceMask. With
 * interop set the device is bound for graphics interoperation. */
opixStatus_t opixInit(uint32_t deviceMask, bool interop);
/* Selects the host backend: the SDK runs every component on the CPU. */
opixStatus_t opixInitHost(void);

/* ------------------------------------------------------ page-locked memory */

opixStatus_t opixHostMalloc(void** pointer, size_t size);
opixStatus_t opixHostFree(void* pointer);

/* ------------------------------------------------------------------ streams */

/* Device work is queued in order on a stream. Every component runs on the
 * SDK stream until it is given one of its own with its ...SetStream call:
 * then every launch, copy, event and wait of its Transform or Copy goes to
 * that stream (work its Create queued stays on the SDK stream).
 *
 * opixStream_t is a cudaStream_t on the CUDA backend: pass a stream of the
 * caller's own (a CUDA stream, CuPy's Stream.ptr, PyTorch's cuda_stream) or
 * one made by opixStreamCreate. NULL is the SDK stream, the CUDA per-thread
 * default stream, which is what components use without a SetStream call;
 * cudaStreamLegacy and cudaStreamPerThread are taken as well. The SDK takes
 * a CUDA stream as given, as the CUDA libraries do.
 *
 * On the host backend all work has run when the call that queued it
 * returns, so every stream is in order by itself. Accepted there: NULL, the
 * values of cudaStreamLegacy and cudaStreamPerThread (the host's one queue),
 * and streams made by opixStreamCreate and not yet destroyed; anything else
 * is refused with OPIX_INVALID_VALUE.
 *
 * Ordering between streams is the caller's, as with any CUDA library: a
 * component reads its source buffer on its own stream, so when the component
 * that writes that buffer runs on another stream, make the reader's stream
 * wait for the writer's work (cudaEventRecord on the writer's stream, then
 * cudaStreamWaitEvent on the reader's), or synchronise the writer's stream,
 * before the reader's Transform. The same holds for the host memory of an
 * import (keep it unchanged until the import's stream has passed the copy)
 * and of opixExportToHostCopyAsync (read it once the export's stream has
 * passed the copy). A component's buffer is not to be written by one stream
 * while another still reads it: give a chain one stream, or order them.
 *
 * A stream must outlive the components and timers set to it (set them back
 * to NULL, or destroy them, before the stream). */
typedef void* opixStream_t;

/* A new stream (cudaStreamCreate on the CUDA backend). */
opixStatus_t opixStreamCreate(opixStream_t* stream);
/* Waits for the stream's work, then destroys it. NULL and the special CUDA
 * values are refused with OPIX_INVALID_VALUE. */
opixStatus_t opixStreamDestroy(opixStream_t stream);
/* Waits until every piece of work queued on the stream has finished. */
opixStatus_t opixStreamSynchronize(opixStream_t stream);

/* ---------------------------------------------------------------- trace log */

opixStatus_t opixTraceCreate(const char* path);
opixStatus_t opixTraceSetPrintTables(bool printTables);
opixStatus_t opixTraceClose(void);

/* ----------------------------------------------------------------- debayer */

opixStatus_t opixDebayerCreate(opixDebayerHandle_t* handle, opixDebayerType_t type, uint32_t maxWidth,
                               uint32_t maxHeight, opixDeviceSurfaceBufferHandle_t source,
                               opixDeviceSurfaceBufferHandle_t* destination);
opixStatus_t opixDebayerTransform(opixDebayerHandle_t handle, opixBayerPattern_t pattern, uint32_t width,
                                  uint32_t height);
opixStatus_t opixDebayerDestroy(opixDebayerHandle_t handle);
opixStatus_t opixDebayerGetAllocatedGpuMemorySize(opixDebayerHandle_t handle, uint64_t* size);
/* The stream of the component's Transform and Copy calls (section "streams"
 * above; NULL: the SDK stream). Waits for the work the component has queued
 * so far on its former stream, so the new stream needs no ordering against
 * it. The same call exists for every component and for the GPU timer. */
opixStatus_t opixDebayerSetStream(opixDebayerHandle_t handle, opixStream_t stream);
/* The reach of an algorithm: an output pixel depends on the mosaic samples at
 * most this many columns and rows away from it (0 for binning, whose pixels
 * depend on their own block). A caller that cuts a mosaic into tiles whose
 * inner edges lie on even rows and columns, demosaics each tile grown by the
 * reach on every inner side and keeps its middle, gets the samples of one
 * call on the whole mosaic. OPIX_INVALID_VALUE for a null pointer,
 * OPIX_UNSUPPORTED_FORMAT for a type without a component. */
opixStatus_t opixDebayerGetReach(opixDebayerType_t type, uint32_t* reach);

/* ------------------------------------------------------------ image filters */

/* SAM (OPIX_SAM) and SAM16 (OPIX_SAM16): a per-pixel black shift subtracted
 * from every unsaturated sample, then a per-pixel intensity factor.
 *
 * Host layouts, for the max width W and max height H of the source buffer:
 *  - correctionMatrix: H rows of W floats, no padding.
 *  - blackShiftMatrix of opixSam_t: H rows of signed bytes, each row
 *    4 x ceil(W / 4) bytes long (W rounded up to a multiple of 4; the values
 *    past W are not used); the value of pixel (x, y) at y * 4 ceil(W / 4) + x.
 *  - blackShiftMatrix of opixSam16_t: H rows of signed 16-bit values, each row
 *    W rounded up to an even count of values long.
 * The whole matrix, H full rows, is copied at Create, and at a Transform that
 * brings a record: the caller must provide all of it. A frame smaller than
 * the max size uses the top-left part. Either pointer may be null: that
 * correction is then skipped (a record replaces both). The filter keeps no
 * pointer after the call. */
typedef struct {
  const int8_t* blackShiftMatrix;
  const float* correctionMatrix;
} opixSam_t;

typedef struct {
  const int16_t* blackShiftMatrix;
  const float* correctionMatrix;
} opixSam16_t;

/* White balance (OPIX_WHITE_BALANCE): the gain of each sample's Bayer site.
 * G1 is the green of row 0 of the pattern's cell, G2 the green of row 1. */
typedef struct {
  float R;
  float G1;
  float G2;
  float B;
  opixBayerPattern_t bayerPattern;
} opixWhiteBalance_t;

/* Bayer black shift (OPIX_BAYER_BLACK_SHIFT): black levels of the red, green
 * and blue sites, subtracted from each sample. */
typedef struct {
  float blackShift[3];
  opixBayerPattern_t bayerPattern;
} opixBayerBlackShift_t;

/* ---------------------------------------------------- debayer pre-operations */

/* Per-sample corrections that a debayer applies to its source mosaic as it
 * reads it, in this order: SAM or SAM16, Bayer black shift, white balance.
 * Each step gives the same samples as its image filter (OPIX_SAM or
 * OPIX_SAM16, OPIX_BAYER_BLACK_SHIFT, OPIX_WHITE_BALANCE) placed before the
 * debayer in that order, so the debayer's output is the same, byte for byte,
 * while the mosaic is read and written once instead of once per filter. A
 * null pointer leaves its step out; at most one of sam and sam16. The records
 * and matrices have the layouts and source formats of their filters (the
 * Bayer black shift and SAM16 take 12- and 16-bit mosaics only); the debayer
 * keeps no pointer after the call. */
typedef struct {
  const opixSam_t* sam;
  const opixSam16_t* sam16;
  const opixBayerBlackShift_t* blackShift;
  const opixWhiteBalance_t* whiteBalance;
} opixDebayerPreOperations_t;

/* opixDebayerCreate with pre-operations (null: none, as opixDebayerCreate).
 * The matrices of a SAM step are copied into the component's memory, which
 * also reserves room for matrices of those kinds that a later
 * opixDebayerSetPreOperations brings. The binning types take no
 * pre-operations (OPIX_UNSUPPORTED_FORMAT). Also OPIX_INVALID_VALUE for both
 * sam and sam16, or a white balance pattern outside 1 to 4;
 * OPIX_INVALID_FORMAT for a black shift pattern outside 1 to 4;
 * OPIX_UNSUPPORTED_SURFACE for a step that does not take the source's format. */
opixStatus_t opixDebayerCreateWithPreOperations(opixDebayerHandle_t* handle, opixDebayerType_t type, uint32_t maxWidth,
                                                uint32_t maxHeight, const opixDebayerPreOperations_t* preOperations,
                                                opixDeviceSurfaceBufferHandle_t source,
                                                opixDeviceSurfaceBufferHandle_t* destination);
/* Replaces the pre-operations of a debayer from its next Transform on (null:
 * none), with the checks of opixDebayerCreateWithPreOperations. A matrix
 * needs the room its kind was given at Create (else OPIX_INVALID_VALUE); it
 * is copied on the component's stream and the call waits for the copy. A
 * failing call leaves the pre-operations in force unchanged. */
opixStatus_t opixDebayerSetPreOperations(opixDebayerHandle_t handle, const opixDebayerPreOperations_t* preOperations);

/* opixDebayerCreateWithPreOperations whose destination is in
 * destinationFormat: the debayer's own (RGB8 for I8 sources, RGB12_PLANAR
 * for I12, RGB16_PLANAR for I16), or the layout the export to host delivers
 * from it: OPIX_BGR8 (the pixels in blue-green-red order, as
 * OPIX_CONVERT_BGR delivers RGB8), OPIX_RGB12 or OPIX_RGB16 (the three
 * channels interleaved). An export of such a destination copies it as it
 * stands, with no conversion pass and no buffer of its own, and delivers the
 * same bytes as the export of the debayer's own destination would; other
 * components take it as they take any buffer of that format. Any other
 * format: OPIX_UNSUPPORTED_SURFACE. */
opixStatus_t opixDebayerCreateWithDestinationFormat(opixDebayerHandle_t* handle, opixDebayerType_t type,
                                                    uint32_t maxWidth, uint32_t maxHeight,
                                                    const opixDebayerPreOperations_t* preOperations,
                                                    opixSurfaceFormat_t destinationFormat,
                                                    opixDeviceSurfaceBufferHandle_t source,
                                                    opixDeviceSurfaceBufferHandle_t* destination);

/* Base colour correction (OPIX_BASE_COLOR_CORRECTION). Colour sources: each
 * channel is first limited to its white level, then output channel c is
 * matrix[4c] R + matrix[4c+1] G + matrix[4c+2] B - matrix[4c+3]. Grey
 * sources: matrix[0] p - matrix[3]. */
typedef struct {
  float matrix[12];
  int32_t whiteLevel[3];
} opixBaseColorCorrection_t;

/* Median (OPIX_MEDIAN, no record): every sample becomes the median of its
 * 3 x 3 neighbourhood, the edge samples repeated past the border. I12, I16
 * and the planar colour formats, each plane on its own. */

/* Gaussian sharpen (OPIX_GAUSSIAN_SHARPEN) and blur (OPIX_GAUSSIAN_BLUR): a
 * 3 x 3 convolution, the edge samples repeated past the border, colour images
 * per channel; sources I8 to I16, RGB8, BGR8 and the planar colour formats.
 * The blur kernel is the Gaussian exp(-(i^2 + j^2) / (2 sigma^2)) over the
 * window, normalised to sum 1; the sharpen kernel replaces its centre by -2 x
 * the sum of all nine, then normalises the same way. Every Transform must
 * bring this record (null fails with OPIX_INVALID_SIZE); sigma must be above
 * 0 and finite (else OPIX_INVALID_VALUE). */
typedef struct {
  float sigma;
} opixGaussianFilter_t;

/* Column filter (OPIX_COLUMN_FILTER, I12 mosaics): repairs one defective
 * column in place by copying, in every row, the sample two columns to its
 * left (the same Bayer colour). The destination buffer is the source's
 * pixels. columnOffset must be at least 2 and below the image width (at
 * Create: the max width); otherwise OPIX_INVALID_VALUE. */
typedef struct {
  int32_t columnOffset;
} opixColumnFilter_t;

/* Bad pixel correction (OPIX_BAD_PIXEL_CORRECTION_5x5): a sample above
 * (1 + t) x the largest of its neighbours is replaced by that largest one, a
 * sample below (1 - t) x the smallest by that smallest one. t is 0.7 while the
 * sample's top 8 bits are below 16, 0.2 below 64, else 0.1. Neighbours of
 * grey data (OPIX_BAYER_NONE, 10 to 16 bits): the 8 of the 3 x 3 window.
 * Bayer data: the 8 same-colour samples of the 5 x 5 window, for red and blue
 * two away in the row, the column and the diagonals; for green the 4 diagonal
 * neighbours and the 4 samples two away in the row and the column. Positions
 * past the border mirror the image without repeating its edge, so they keep
 * their colour. */
typedef struct {
  opixBayerPattern_t bayerPattern;
} opixBadPixelCorrection_t;

/* Binning filter (OPIX_BINNING, I12 and I16): every factor x factor block of
 * samples becomes one sample: their sum limited to the largest value of the
 * format (OPIX_BINNING_SUM), their mean truncated (OPIX_BINNING_AVERAGE), or
 * their plain sum (OPIX_BINNING_NONE), limited only to 65535, the largest
 * value a sample's 16 bits hold. The destination is width / factor x height / factor
 * (integer division: trailing columns and rows are dropped). factorX must
 * equal factorY, 2 to 4 (else OPIX_INVALID_SIZE); the record is required at
 * Create, since it sizes the destination. */
typedef struct {
  opixBinningMode_t mode;
  uint32_t factorX;
  uint32_t factorY;
} opixBinning_t;

/* Defringe (OPIX_DEFRINGE, RGB12_PLANAR and RGB16_PLANAR): removes purple and
 * green fringes (lateral chromatic aberration, blooming) along high-contrast
 * edges of demosaiced images, in two passes.
 *  1. Edges: a pixel is an edge pixel when the luminance gradient
 *     |Y(x+1, y) - Y(x-1, y)| + |Y(x, y+1) - Y(x, y-1)| exceeds edgeThreshold
 *     (in sample units of the format; positions past the border take the
 *     edge pixel), where Y = (77 R + 150 G + 29 B + 128) / 256 truncated.
 *  2. Fringes: a pixel whose HSV hue lies in purpleHue or greenHue, and
 *     that lies at most bandRadius pixels (in both axes) from an edge pixel,
 *     has each channel moved towards its Y: c + strength x (Y - c), rounded
 *     half up. Grey pixels have no hue; every other pixel is copied unchanged.
 * Hue ranges are [from, to] in degrees, 0 to 360; from > to wraps through 0
 * (for example {330, 30} for reds). Typical values: purpleHue {260, 320},
 * greenHue {90, 150}, bandRadius 2 to 4, strength 0.8. bandRadius must be 1
 * to 8 and strength 0 to 1, edgeThreshold 0 or more; otherwise
 * OPIX_INVALID_VALUE. Static at Create, or given at a Transform. */
typedef struct {
  float edgeThreshold;
  uint32_t bandRadius;
  float purpleHue[2];
  float greenHue[2];
  float strength;
} opixDefringe_t;

/* Look-up tables (OPIX_LUT_8_8 ... OPIX_LUT_16_16_FR_BAYER): every sample is
 * replaced by the entry its value indexes, which may change the bit depth and
 * so the destination format (LUT 8->12 turns I8 into I12 and RGB8 into
 * RGB12_PLANAR, LUT 12->8 turns I12 into I8 and RGB12_PLANAR into RGB8, ...).
 * One-table records serve every channel; "color" records hold the red, green
 * and blue tables for channels 0, 1 and 2; Bayer records hold the tables of the
 * red, green (both sites) and blue sites of a raw image under `bayerPattern`.
 * Entries above the destination's largest value (4095 for 12-bit outputs) are
 * limited to it when the table is taken. Indexing by input depth:
 *  - 8, 10, 12 and 14 bits: T[v], the table as long as the input range;
 *  - 16 bits to 16 bits (LUT 16->16, its color and Bayer types): 16384 entries,
 *    i = v >> 2, f = v & 3, ((4 - f) T[i] + f T[i + 1]) >> 2, where T[16384]
 *    repeats T[16383];
 *  - 16 bits to 8 bits: T[v >> 2];
 *  - full range types: 65536 entries, T[v].
 * The table is copied when the record is taken (at Create, and again at every
 * Transform that brings a record); the caller's record need not outlive the
 * call. */
typedef struct {
  uint8_t lut[256];
} opixLut_8_t;
typedef struct {
  uint8_t lut_R[256];
  uint8_t lut_G[256];
  uint8_t lut_B[256];
} opixLut_8_C_t;
typedef struct {
  uint16_t lut[256];
} opixLut_8_16_t;
typedef struct {
  uint16_t lut_R[256];
  uint16_t lut_G[256];
  uint16_t lut_B[256];
} opixLut_8_16_C_t;
typedef struct {
  uint16_t lut[1024];
} opixLut_10_t;
typedef struct {
  uint8_t lut[4096];
} opixLut_12_8_t;
typedef struct {
  uint8_t lut_R[4096];
  uint8_t lut_G[4096];
  uint8_t lut_B[4096];
} opixLut_12_8_C_t;
typedef struct {
  uint16_t lut[4096];
} opixLut_12_t;
typedef struct {
  uint16_t lut_R[4096];
  uint16_t lut_G[4096];
  uint16_t lut_B[4096];
} opixLut_12_C_t;
typedef struct {
  uint16_t lut[16384];
} opixLut_16_t;
typedef struct {
  uint16_t lut_R[16384];
  uint16_t lut_G[16384];
  uint16_t lut_B[16384];
} opixLut_16_C_t;
typedef struct {
  uint8_t lut[16384];
} opixLut_16_8_t;
typedef struct {
  uint8_t lut_R[16384];
  uint8_t lut_G[16384];
  uint8_t lut_B[16384];
} opixLut_16_8_C_t;
typedef struct {
  uint16_t lut[65536];
} opixLut_16_FR_t;
typedef struct {
  uint16_t lut_R[65536];
  uint16_t lut_G[65536];
  uint16_t lut_B[65536];
} opixLut_16_FR_C_t;
typedef struct {
  uint16_t lut_R[256];
  uint16_t lut_G[256];
  uint16_t lut_B[256];
  opixBayerPattern_t bayerPattern;
} opixLut_8_16_Bayer_t;
typedef struct {
  uint16_t lut_R[1024];
  uint16_t lut_G[1024];
  uint16_t lut_B[1024];
  opixBayerPattern_t bayerPattern;
} opixLut_10_16_Bayer_t;
typedef struct {
  uint16_t lut_R[4096];
  uint16_t lut_G[4096];
  uint16_t lut_B[4096];
  opixBayerPattern_t bayerPattern;
} opixLut_12_16_Bayer_t;
/* LUT 14->16 bayer and LUT 16->16 bayer. */
typedef struct {
  uint16_t lut_R[16384];
  uint16_t lut_G[16384];
  uint16_t lut_B[16384];
  opixBayerPattern_t bayerPattern;
} opixLut_16_Bayer_t;
typedef struct {
  uint16_t lut_R[65536];
  uint16_t lut_G[65536];
  uint16_t lut_B[65536];
  opixBayerPattern_t bayerPattern;
} opixLut_16_FR_Bayer_t;

/* Flat-field correction (OPIX_FFC) of I12 and I16 images: each sample times
 * a gain interpolated bilinearly between nodes placed every 4 pixels. Node
 * (i, j) lies at column 4i, row 4j; an image of W x H pixels has
 * ceil(W / 4) + 1 nodes per row and ceil(H / 4) + 1 node rows, node rows
 * 2 x (ceil(W / 4) + 1) bytes rounded up to a multiple of 4 apart. A node's
 * gain is divider / node value, so a node equal to the divider means 1.0.
 * The grid is copied for the source's max size at Create and for the current
 * frame size at a Transform that brings a record; a later frame larger than
 * the grid in force fails with OPIX_INVALID_SIZE. A node value of 0 (an
 * infinite gain) or a null correctionMatrix is refused with
 * OPIX_INVALID_VALUE. */
typedef struct {
  uint16_t divider;
  const uint16_t* correctionMatrix;
} opixFFC_t;

/* Tone curve (OPIX_TONE_CURVE) of RGB16_PLANAR images: the static parameters
 * point to 1024 unsigned 16-bit values (as an opixToneCurve_t holds them),
 * entry i the output for the input 64 i, interpolated linearly between
 * entries. The largest and smallest channel of a pixel go through the curve;
 * the middle one is placed between them in the same proportion as before, so
 * the hue stays. The curve must be non-decreasing: a decreasing curve is
 * refused with OPIX_INVALID_VALUE. */
typedef struct {
  uint16_t curve[1024];
} opixToneCurve_t;

/* Colour saturation (OPIX_COLOR_SATURATION_HSL, OPIX_COLOR_SATURATION_HSV) of
 * RGB8, RGB12_PLANAR and RGB16_PLANAR images. Each pixel is taken to hue H,
 * saturation S and lightness L (HSL) or value V (HSV), all in [0, 1). Curve c
 * (0 hue, 1 saturation, 2 lightness or value) is indexed by the value of
 * channel[c] times 1023, interpolated linearly between entries; an index
 * outside 0 ... 1023 is clamped to it. operation[c] applies the curve's value
 * t to component c: replace it by t, add t, or multiply by t. Hue curves hold
 * degrees for replace and add (the hue wraps around 360) and factors for
 * multiply; the other curves hold fractions of 1 or factors, and their
 * results are clamped to [0, 1]. The pixel is then converted back. */
typedef struct {
  float lut[3][1024];
  opixColorSaturationOperationType_t operation[3];
  opixColorSaturationChannelType_t channel[3];
} opixColorSaturation_t;

/* Three-dimensional look-up tables (OPIX_HSV_LUT_3D, OPIX_RGB_LUT_3D) of
 * RGB12_PLANAR and RGB16_PLANAR images. Three float tables hold one value per
 * node of a width x height x depth grid, stored row after row and plane after
 * plane (the first coordinate changes from one element to the next: element
 * (i, j, k) is at (k x height + j) x width + i). A pixel's three coordinates
 * place it in the grid, and each table is interpolated trilinearly between
 * the eight nodes around it (weights kept to 1/256, as the GPU's texture
 * unit keeps them); coordinates beyond the grid clamp to its faces. Each grid
 * size must be 1 to 2048, else Create fails with OPIX_INVALID_SIZE; a grid
 * less than 2 wide or high is accepted at Create, but its Transform fails
 * with OPIX_INVALID_VALUE. A record whose tables are null (or whose grid has
 * a zero size) copies nothing: until a record brings tables the filter
 * passes its source through unchanged. A record given to Transform is
 * copied before the pass; its grid may be smaller than the grid of Create,
 * not larger along any axis (OPIX_INVALID_SIZE).
 *
 * HSV (OPIX_HSV_LUT_3D): samples are taken as fractions (x / 4096 of the low
 * 12 bits, or x / 65536) to hue H in degrees [0, 360), saturation S and
 * value V in [0, 1] (the HSV of the colour saturation filter). The grid is
 * indexed consistently by (H, S, V): node i of the width dimH lies at hue
 * 360 i / (dimH - 1), node j of dimS at saturation j / (dimS - 1), node k of
 * dimV at value k / (dimV - 1); any three sizes may be combined, and a dimV
 * of 1 makes the tables independent of the value. Make the last hue column
 * equal to the first, as both are hue 0. lutH holds degrees added to the hue
 * (which wraps around 360), lutS and lutV factors of saturation and value
 * (results clamped to [0, 1]). The operations must be OPIX_OP_ADD,
 * OPIX_OP_MULTIPLY, OPIX_OP_MULTIPLY; others are accepted at Create and fail
 * the Transform with OPIX_INVALID_VALUE. Results are stored as v x 4096 or
 * v x 65536, + 0.5, truncated, within the format's range. */
typedef struct {
  uint32_t dimH, dimS, dimV;
  opixColorSaturationOperationType_t operationH, operationS, operationV;
  const float* lutH;
  const float* lutS;
  const float* lutV;
} opixHsvLut3D_t;

/* RGB (OPIX_RGB_LUT_3D): a size1D^3 grid indexed by the sample values, R
 * along the width, G the height, B the depth: node i lies at sample
 * 4096 i / (size1D - 1) for RGB12_PLANAR (the low 12 bits are used) and
 * 65536 i / (size1D - 1) for RGB16_PLANAR, so every source depth spans the
 * whole grid. The tables hold the new R, G and B in output sample units;
 * results + 0.5 are truncated and limited to 0 ... 4095 or 0 ... 65535. */
typedef struct {
  const float* lutR;
  const float* lutG;
  const float* lutB;
  uint32_t size1D;
} opixRGBLut_3D_t;

/* Creates a filter of `type` on `source`. staticParameters points to the
 * type's record (or is null: the filter then needs a record at Transform).
 * Transform applies a record given to it before its pass; null keeps the
 * record in force. */
opixStatus_t opixImageFilterCreate(opixImageFilterHandle_t* handle, opixImageFilterType_t type,
                                   const void* staticParameters, uint32_t maxWidth, uint32_t maxHeight,
                                   opixDeviceSurfaceBufferHandle_t source,
                                   opixDeviceSurfaceBufferHandle_t* destination);
opixStatus_t opixImageFilterTransform(opixImageFilterHandle_t handle, const void* parameters, uint32_t width,
                                      uint32_t height);
opixStatus_t opixImageFilterDestroy(opixImageFilterHandle_t handle);
opixStatus_t opixImageFilterGetAllocatedGpuMemorySize(opixImageFilterHandle_t handle, uint64_t* size);
opixStatus_t opixImageFilterSetStream(opixImageFilterHandle_t handle, opixStream_t stream);

/* ---------------------------------------------------------------- GPU timer */

opixStatus_t opixGpuTimerCreate(opixGpuTimerHandle_t* handle);
opixStatus_t opixGpuTimerStart(opixGpuTimerHandle_t handle);
opixStatus_t opixGpuTimerStop(opixGpuTimerHandle_t handle);
opixStatus_t opixGpuTimerGetTime(opixGpuTimerHandle_t handle, float* elapsedMs);
opixStatus_t opixGpuTimerDestroy(opixGpuTimerHandle_t handle);
/* Start and Stop record their events on this stream from now on (NULL: the
 * SDK stream); set it to the stream of the work the timer brackets. */
opixStatus_t opixGpuTimerSetStream(opixGpuTimerHandle_t handle, opixStream_t stream);

/* --------------------------------------------------------- import from host */

/* Copies host images into a device surface buffer of the import's own,
 * converting host layouts the device components do not work on: BGR8 and
 * BGRX8 arrive as RGB8, RGB12 and RGB16 as RGB12_PLANAR and RGB16_PLANAR. */
typedef struct opixImportFromHostStruct* opixImportFromHostHandle_t;

opixStatus_t opixImportFromHostCreate(opixImportFromHostHandle_t* handle, opixSurfaceFormat_t surfaceFormat,
                                      uint32_t maxWidth, uint32_t maxHeight,
                                      opixDeviceSurfaceBufferHandle_t* destinationBuffer);
/* Note the order: width, pitch (bytes between host rows), height. Returns
 * without waiting for the device. */
opixStatus_t opixImportFromHostCopy(opixImportFromHostHandle_t handle, const void* source, uint32_t width,
                                    uint32_t pitch, uint32_t height);
/* Packed machine-vision frames: the host frame crosses to the device at its
 * packed size and is unpacked there into a gray surface (I10 to I16).
 *   OPIX_PACKING_10P        4 samples in 5 bytes, least significant bits first
 *   OPIX_PACKING_12P        2 samples in 3 bytes, least significant bits first
 *   OPIX_PACKING_12_PACKED  2 samples in 3 bytes: bits 11..4 of the first,
 *                           the two low nibbles (first in bits 3..0), bits
 *                           11..4 of the second
 *   OPIX_PACKING_16_LOW     16-bit little-endian words, sample in the low bits
 *                           (bits above the depth are cleared)
 *   OPIX_PACKING_16_HIGH    16-bit little-endian words, sample in the high bits
 * The surface format gives the depth: I10 for 10P, I12 for 12P and
 * 12_PACKED, I10 to I16 for the 16-bit words. In Copy, a pitch of 0 means the
 * rows follow each other without a gap, bit for bit (a row of an odd width
 * may end inside a byte); any other pitch is the byte distance between rows,
 * each row starting on a byte, and must hold a row. */
typedef enum OPIX_ENUM_BASE {
  OPIX_PACKING_NONE = 0,
  OPIX_PACKING_10P = 1,
  OPIX_PACKING_12P = 2,
  OPIX_PACKING_12_PACKED = 3,
  OPIX_PACKING_16_LOW = 4,
  OPIX_PACKING_16_HIGH = 5
} opixPacking_t;

opixStatus_t opixImportFromHostCreatePacked(opixImportFromHostHandle_t* handle, opixPacking_t packing,
                                            opixSurfaceFormat_t surfaceFormat, uint32_t maxWidth, uint32_t maxHeight,
                                            opixDeviceSurfaceBufferHandle_t* destinationBuffer);
opixStatus_t opixImportFromHostDestroy(opixImportFromHostHandle_t handle);
opixStatus_t opixImportFromHostGetAllocatedGpuMemorySize(opixImportFromHostHandle_t handle, uint64_t* bytes);
opixStatus_t opixImportFromHostSetStream(opixImportFromHostHandle_t handle, opixStream_t stream);

/* ----------------------------------------------------------- export to host */

typedef struct opixExportToHostStruct* opixExportToHostHandle_t;

typedef struct {
  opixConvertType_t convert; /* OPIX_CONVERT_BGR: RGB8 delivered in blue-green-red order */
} opixExportParameters_t;

/* Writes the host format Copy delivers: the source's, with RGB12_PLANAR and
 * RGB16_PLANAR interleaved as RGB12 and RGB16. */
opixStatus_t opixExportToHostCreate(opixExportToHostHandle_t* handle, opixSurfaceFormat_t* surfaceFormat,
                                    opixDeviceSurfaceBufferHandle_t sourceBuffer);
/* width and height must be the source's current size; parameters may be
 * NULL. Returns when the image is in host memory. */
opixStatus_t opixExportToHostCopy(opixExportToHostHandle_t handle, void* destination, uint32_t width, uint32_t pitch,
                                  uint32_t height, const opixExportParameters_t* parameters);
/* Copy without the final wait: returns once the work is queued on the
 * export's stream. The host image is complete when that stream has passed
 * the copy (opixStreamSynchronize, or an event the caller records after it);
 * with page-locked destination memory (opixHostMalloc) the copy overlaps
 * work on other streams. Same checks, trace and results as Copy. */
opixStatus_t opixExportToHostCopyAsync(opixExportToHostHandle_t handle, void* destination, uint32_t width,
                                       uint32_t pitch, uint32_t height, const opixExportParameters_t* parameters);
opixStatus_t opixExportToHostDestroy(opixExportToHostHandle_t handle);
opixStatus_t opixExportToHostGetAllocatedGpuMemorySize(opixExportToHostHandle_t handle, uint64_t* bytes);
opixStatus_t opixExportToHostSetStream(opixExportToHostHandle_t handle, opixStream_t stream);

/* -------------------------------------------------------- surface converter */

/* Parameters of OPIX_BIT_DEPTH_CONVERTER, static at Create and optional at
 * Transform. Values are only shifted: widening leaves the new low bits zero,
 * narrowing drops the low bits. */
typedef struct {
  uint32_t overrideSourceBitsPerChannel; /* used instead of the source format's depth ... */
  bool isOverrideSourceBitsPerChannel;   /* ... when this is set */
  uint32_t targetBitsPerChannel;
} opixBitDepthConverter_t;

opixStatus_t opixSurfaceConverterCreate(opixSurfaceConverterHandle_t* handle, opixSurfaceConverter_t type,
                                        const void* staticParameters, uint32_t maxWidth, uint32_t maxHeight,
                                        opixDeviceSurfaceBufferHandle_t sourceBuffer,
                                        opixDeviceSurfaceBufferHandle_t* destinationBuffer);
/* parameters may be NULL, which keeps the bit depths in use. */
opixStatus_t opixSurfaceConverterTransform(opixSurfaceConverterHandle_t handle, const void* parameters, uint32_t width,
                                           uint32_t height);
opixStatus_t opixSurfaceConverterDestroy(opixSurfaceConverterHandle_t handle);
opixStatus_t opixSurfaceConverterGetAllocatedGpuMemorySize(opixSurfaceConverterHandle_t handle, uint64_t* bytes);
opixStatus_t opixSurfaceConverterSetStream(opixSurfaceConverterHandle_t handle, opixStream_t stream);

#ifdef __cplusplus
}
#endif

#endif /* OPIX_H */
