// Rows of colour pixels rearranged on the host: RGB8 to blue-green-red, and
// three 16-bit planes interleaved. The export to host delivers these layouts
// as it copies, and the debayer's host drivers write them into a destination
// in the export's layout: one code for both.
#pragma once

#include <cstddef>
#include <cstdint>

namespace opix::host {

// n RGB8 pixels of s to d in blue-green-red order; d may be s itself.
void swapRgb8(const uint8_t* s, uint8_t* d, size_t n);

// n pixels of the planes' rows r, g and b side by side at d, any byte
// address (not one of the planes). Where `stream`, the 16-byte blocks go out
// in stores that bypass the caches when d is aligned; streamFence orders
// them before the pixels are read elsewhere (a thread's last act on a frame
// it streamed).
void interleave16(const uint16_t* r, const uint16_t* g, const uint16_t* b, uint8_t* d, size_t n, bool stream = false);

// n bytes of s to d (not overlapping), the aligned 16-byte blocks in stores
// that bypass the caches.
void streamBytes(const uint8_t* s, uint8_t* d, size_t n);
void streamFence();

}  // namespace opix::host
