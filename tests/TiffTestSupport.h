// TIFF files made with libtiff itself, in the layouts that other software
// writes: any codec, byte order, classic or BigTIFF, strips or tiles,
// palettes and colour spaces.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace opix::test {

struct TiffLayout {
  const char* mode = "w";  // "w" little-endian, "wb" big-endian, "w8" BigTIFF
  uint16_t spp = 1, bps = 8;
  uint16_t compression = COMPRESSION_NONE;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t sampleFormat = SAMPLEFORMAT_UINT;
  uint16_t planar = PLANARCONFIG_CONTIG;
  uint32_t rowsPerStrip = 2;
  uint32_t tile = 0;  // tiles of tile x tile pixels when not 0
  int pages = 1;
  std::vector<uint16_t> colormap;  // red, green and blue entries, one after the other
};

// Writes `px` (rows of w x spp x bps / 8 bytes, host byte order) as `name`.
// Returns false when libtiff refuses the layout.
inline bool writeTiffFile(const std::string& name, uint32_t w, uint32_t h, const TiffLayout& l,
                          const std::vector<uint8_t>& px) {
  // Notes such as the one on the older Deflate identifier are not wanted here.
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(name.c_str(), l.mode);
  if (!tif) return false;
  bool ok = true;
  const size_t row = (size_t{w} * l.spp * l.bps + 7) / 8;
  for (int page = 0; ok && page < l.pages; ++page) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.spp);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bps);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, l.planar);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, l.sampleFormat);
    ok = TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression) == 1;
    if (l.compression == COMPRESSION_JPEG) TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 100);
    if (l.photometric == PHOTOMETRIC_YCBCR) TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, 1, 1);
    if (l.spp == 4 && l.photometric == PHOTOMETRIC_RGB) {
      const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha);
    }
    if (!l.colormap.empty()) {
      const size_t n = l.colormap.size() / 3;
      TIFFSetField(tif, TIFFTAG_COLORMAP, l.colormap.data(), l.colormap.data() + n, l.colormap.data() + 2 * n);
    }
    if (l.tile) {
      TIFFSetField(tif, TIFFTAG_TILEWIDTH, l.tile);
      TIFFSetField(tif, TIFFTAG_TILELENGTH, l.tile);
      const size_t bpp = size_t{l.spp} * l.bps / 8;
      std::vector<uint8_t> buf(TIFFTileSize(tif));
      for (uint32_t y = 0; ok && y < h; y += l.tile)
        for (uint32_t x = 0; ok && x < w; x += l.tile) {
          std::fill(buf.begin(), buf.end(), 0);
          for (uint32_t j = 0; j < l.tile && y + j < h; ++j)
            std::memcpy(buf.data() + j * l.tile * bpp, px.data() + (y + j) * row + x * bpp,
                        std::min(l.tile, w - x) * bpp);
          ok = TIFFWriteTile(tif, buf.data(), x, y, 0, 0) >= 0;
        }
    } else {
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, l.rowsPerStrip);
      for (uint32_t y = 0; ok && y < h; ++y) {
        // libtiff swaps the bytes of a big-endian file in the buffer it is given.
        std::vector<uint8_t> line(px.begin() + y * row, px.begin() + (y + 1) * row);
        ok = TIFFWriteScanline(tif, line.data(), y, 0) == 1;
      }
    }
    ok = ok && TIFFWriteDirectory(tif) == 1;
  }
  TIFFClose(tif);
  return ok;
}

// The lossless codecs this libtiff was built with, and their names.
struct TiffCodec {
  uint16_t compression;
  const char* name;
};
inline std::vector<TiffCodec> losslessTiffCodecs() {
  std::vector<TiffCodec> codecs;
  for (TiffCodec c : {TiffCodec{COMPRESSION_NONE, "none"}, TiffCodec{COMPRESSION_LZW, "LZW"},
                      TiffCodec{COMPRESSION_ADOBE_DEFLATE, "Deflate"}, TiffCodec{COMPRESSION_DEFLATE, "old Deflate"},
                      TiffCodec{COMPRESSION_PACKBITS, "PackBits"}, TiffCodec{COMPRESSION_ZSTD, "ZSTD"}})
    if (TIFFIsCODECConfigured(c.compression)) codecs.push_back(c);
  return codecs;
}

// A little-endian file of one LZW strip of `stripBytes` zero bytes that
// claims a width x height 8-bit gray image.
inline std::vector<uint8_t> claimingTiff(uint32_t width, uint32_t height, uint32_t stripBytes) {
  constexpr uint16_t kEntries = 8;
  const uint32_t data = 8 + 2 + 12 * kEntries + 4;
  std::vector<uint8_t> b(data + stripBytes, 0);
  auto put = [&](size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  b[0] = b[1] = 'I';
  put(2, 42, 2);
  put(4, 8, 4);
  put(8, kEntries, 2);
  const uint32_t fields[kEntries][3] = {{256, 4, width},
                                        {257, 4, height},
                                        {258, 3, 8},
                                        {259, 3, COMPRESSION_LZW},
                                        {262, 3, PHOTOMETRIC_MINISBLACK},
                                        {273, 4, data},
                                        {278, 4, height},
                                        {279, 4, stripBytes}};
  for (int i = 0; i < kEntries; ++i) {
    put(10 + 12 * i, fields[i][0], 2);
    put(12 + 12 * i, fields[i][1], 2);
    put(14 + 12 * i, 1, 4);
    put(18 + 12 * i, fields[i][2], 4);
  }
  return b;
}

}  // namespace opix::test
