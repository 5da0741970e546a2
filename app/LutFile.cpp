#include "LutFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace opix::app {

namespace {

constexpr uint32_t kMaxEntries = 65536;

opixStatus_t fault(const std::string& path, size_t line, const std::string& what) {
  if (line)
    std::fprintf(stderr, "LUT file %s, line %zu: %s\n", path.c_str(), line, what.c_str());
  else
    std::fprintf(stderr, "LUT file %s: %s\n", path.c_str(), what.c_str());
  return OPIX_INVALID_FORMAT;
}

// The most characters a line may hold before its comment: a line holds one
// or three values, with room to spare for blanks. The rest of a longer line
// is not read.
constexpr size_t kMaxLineBytes = 1024;
// Blank and comment lines included: an endless stream of them ends too.
constexpr size_t kMaxLines = size_t{1} << 22;

// The words of a line's text, separators (blanks, tabs, commas) removed.
std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::strchr(" \t\r\v\f,", line[i])) ++i;
    size_t j = i;
    while (j < line.size() && !std::strchr(" \t\r\v\f,", line[j])) ++j;
    if (j > i) out.push_back(line.substr(i, j - i));
    i = j;
  }
  return out;
}

// Reads one line into `text` without its comment or line end, keeping at
// most kMaxLineBytes of it; a comment is skipped as it is read. False at
// the end of the file; `tooLong` tells a line whose text was longer.
bool readLine(FILE* f, std::string& text, bool& tooLong) {
  text.clear();
  tooLong = false;
  bool comment = false;
  int c = std::getc(f);
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = std::getc(f)) {
    if (c == '#') comment = true;
    if (comment) continue;
    if (text.size() == kMaxLineBytes) {
      tooLong = true;
      return true;
    }
    text.push_back(static_cast<char>(c));
  }
  return true;
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

bool validCount(uint32_t n) { return n == 256 || n == 4096 || n == 16384 || n == 65536; }

}  // namespace

opixStatus_t readLutFile(const std::string& path, LutTable& lut) {
  std::unique_ptr<FILE, FileCloser> in(std::fopen(path.c_str(), "rb"));
  if (!in) {
    std::fprintf(stderr, "LUT file %s: cannot be opened\n", path.c_str());
    return OPIX_IO_ERROR;
  }
  lut = LutTable{};
  std::string text;
  bool tooLong = false;
  size_t lineNo = 0;
  try {
    while (readLine(in.get(), text, tooLong)) {
      if (++lineNo > kMaxLines) return fault(path, lineNo, "more than " + std::to_string(kMaxLines) + " lines");
      if (tooLong)
        return fault(path, lineNo, "longer than " + std::to_string(kMaxLineBytes) + " characters before its comment");
      const std::vector<std::string> w = words(text);
      if (w.empty()) continue;
      if (w.size() != 1 && w.size() != 3)
        return fault(path, lineNo,
                     std::to_string(w.size()) + " values; a line holds 1 value, or 3 for red, green and blue");
      if (lut.columns == 0) lut.columns = int(w.size());
      if (int(w.size()) != lut.columns)
        return fault(path, lineNo, std::to_string(w.size()) + " values after lines of " + std::to_string(lut.columns));
      if (lut.entries == kMaxEntries) return fault(path, lineNo, "more than 65536 entries");
      for (size_t c = 0; c < w.size(); ++c) {
        const std::string& s = w[c];
        if (s[0] == '-' && s.size() > 1 && std::strspn(s.c_str() + 1, "0123456789") == s.size() - 1)
          return fault(path, lineNo, "negative value " + s);
        if (std::strspn(s.c_str(), "0123456789") != s.size()) return fault(path, lineNo, "'" + s + "' is not a number");
        errno = 0;
        const unsigned long long v = std::strtoull(s.c_str(), nullptr, 10);
        if (errno == ERANGE || v > 65535) return fault(path, lineNo, "value " + s + " above 65535");
        lut.values[c].push_back(static_cast<uint32_t>(v));
        if (v > lut.largest) lut.largest = static_cast<uint32_t>(v);
      }
      ++lut.entries;
    }
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "Memory allocation failed: LUT file %s\n", path.c_str());
    return OPIX_INSUFFICIENT_HOST_MEMORY;
  }
  if (std::ferror(in.get())) {
    std::fprintf(stderr, "LUT file %s: cannot be read\n", path.c_str());
    return OPIX_IO_ERROR;
  }
  if (!validCount(lut.entries))
    return fault(path, 0, std::to_string(lut.entries) + " entries; a table has 256, 4096, 16384 or 65536");
  return OPIX_OK;
}

opixStatus_t lutFilterFor(const LutTable& lut, const std::string& path, opixSurfaceFormat_t colour,
                          opixImageFilterType_t& type, std::vector<uint8_t>& record) {
  const uint32_t n = lut.entries;
  const bool fits = (colour == OPIX_RGB8 && n == 256) || (colour == OPIX_RGB12_PLANAR && n == 4096) ||
                    (colour == OPIX_RGB16_PLANAR && (n == 16384 || n == 65536));
  if (!fits) {
    const int bits = colour == OPIX_RGB8 ? 8 : colour == OPIX_RGB12_PLANAR ? 12 : 16;
    const char* need = bits == 8 ? "256" : bits == 12 ? "4096" : "16384 or 65536";
    return fault(path, 0,
                 std::to_string(n) + " entries do not fit the " + std::to_string(bits) +
                     "-bit colour output, which needs " + need);
  }
  const bool three = lut.columns == 3;
  const int bits = lut.outputBits();
  switch (n) {
    case 256:
      type = bits == 8    ? (three ? OPIX_LUT_8_8_C : OPIX_LUT_8_8)
             : bits == 12 ? (three ? OPIX_LUT_8_12_C : OPIX_LUT_8_12)
                          : (three ? OPIX_LUT_8_16_C : OPIX_LUT_8_16);
      break;
    case 4096:
      type = bits == 8    ? (three ? OPIX_LUT_12_8_C : OPIX_LUT_12_8)
             : bits == 12 ? (three ? OPIX_LUT_12_12_C : OPIX_LUT_12_12)
                          : (three ? OPIX_LUT_12_16_C : OPIX_LUT_12_16);
      break;
    case 16384:
      type = bits == 8 ? (three ? OPIX_LUT_16_8_C : OPIX_LUT_16_8) : (three ? OPIX_LUT_16_16_C : OPIX_LUT_16_16);
      break;
    default: type = three ? OPIX_LUT_16_16_FR_C : OPIX_LUT_16_16_FR; break;
  }
  const size_t entryBytes = bits == 8 ? 1 : 2;
  const int tables = three ? 3 : 1;
  record.assign(entryBytes * n * tables, 0);
  for (int c = 0; c < tables; ++c)
    for (uint32_t i = 0; i < n; ++i) {
      const uint16_t v = static_cast<uint16_t>(lut.values[c][i]);
      std::memcpy(&record[(size_t(c) * n + i) * entryBytes], &v, entryBytes);
    }
  return OPIX_OK;
}

}  // namespace opix::app
