// File plumbing shared by the readers and writers: an input file that knows
// how many bytes it still holds, an output file that replaces its target only
// once everything is written, and little-endian field access.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace opix {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "host images keep 16-bit samples and matrix floats in little-endian memory order");

class InputFile {
 public:
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool isOpen() const { return f_ != nullptr; }
  FILE* get() const { return f_; }
  // Reads exactly n bytes; false on a short read or an error.
  bool read(void* dst, uint64_t n);
  bool seek(uint64_t offset);
  // Whether at least n bytes follow the current position. A file whose size
  // cannot be known (a pipe) answers true; its reads still fail when short.
  bool holds(uint64_t n) const;

 private:
  FILE* f_ = nullptr;
};

// Where a write to `path` lands once its symbolic links are followed. A
// link in a sticky folder (such as /tmp) is followed only when it and the
// file it names belong to the running user; a dangling link names the file
// the write would make. False, with the reason on standard error, for a link
// that is not followed or a loop (`quiet`: without the reason).
bool followLinks(const std::string& path, std::string& resolved, bool quiet = false);

// Writes to a fresh file beside `target` and renames it onto the target in
// commit(). Until commit() succeeds the target is untouched; a file that is
// never committed is removed. Symbolic links are followed as followLinks
// says (the file they name is replaced, the links stay). A target that is
// not a regular file, has other names (hard links), belongs to another user
// or group that the replacement cannot be given, or sits in a folder that
// takes no new file is refused with its reason on standard error and kept
// as it is: none of these can be replaced by a rename. Temporaries left by
// killed runs are removed by this process's first write into their folder.
class OutputFile {
 public:
  explicit OutputFile(const std::string& target);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool isOpen() const { return f_ != nullptr; }
  // False once any write has failed; later writes are skipped.
  bool write(const void* src, uint64_t n);
  bool write(const std::string& s) { return write(s.data(), s.size()); }
  // Flushes, syncs and closes the file and renames it onto the target.
  bool commit();

 private:
  std::string target_;
  std::string temp_;
  FILE* f_ = nullptr;
  bool ok_ = false;
};

inline uint16_t loadLe16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t loadLe32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline void storeLe16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void storeLe32(unsigned char* p, uint32_t v) {
  storeLe16(p, v);
  storeLe16(p + 2, v >> 16);
}

}  // namespace opix
