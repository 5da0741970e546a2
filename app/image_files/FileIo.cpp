#include "FileIo.h"

#include <sys/stat.h>
#include <unistd.h>

namespace opix {

InputFile::InputFile(const std::string& path) : f_(std::fopen(path.c_str(), "rb")) {}

InputFile::~InputFile() {
  if (f_) std::fclose(f_);
}

bool InputFile::read(void* dst, uint64_t n) {
  return n == 0 || (n <= SIZE_MAX && std::fread(dst, 1, static_cast<size_t>(n), f_) == n);
}

bool InputFile::seek(uint64_t offset) {
  return offset <= INT64_MAX && fseeko(f_, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool InputFile::holds(uint64_t n) const {
  struct stat st;
  if (fstat(fileno(f_), &st) != 0 || !S_ISREG(st.st_mode)) return true;
  const off_t pos = ftello(f_);
  if (pos < 0 || pos > st.st_size) return true;
  return static_cast<uint64_t>(st.st_size - pos) >= n;
}

namespace {

// The mode a new file gets from open(..., 0666); a replaced file keeps its own.
mode_t targetMode(const std::string& target) {
  struct stat st;
  if (stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

OutputFile::OutputFile(const std::string& target) : target_(target) {
  const size_t slash = target.find_last_of('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  if (base.empty()) return;
  std::string name = dir + "." + base + ".XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) return;
  temp_ = name;
  if (fchmod(fd, targetMode(target)) != 0 || !(f_ = fdopen(fd, "wb"))) {
    ::close(fd);
    ::unlink(temp_.c_str());
    temp_.clear();
    return;
  }
  ok_ = true;
}

OutputFile::~OutputFile() {
  if (f_) std::fclose(f_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

bool OutputFile::write(const void* src, uint64_t n) {
  if (ok_ && n) ok_ = n <= SIZE_MAX && std::fwrite(src, 1, static_cast<size_t>(n), f_) == n;
  return ok_;
}

bool OutputFile::commit() {
  if (!f_) return false;
  bool ok = ok_ && std::fflush(f_) == 0 && fsync(fileno(f_)) == 0;
  ok = std::fclose(f_) == 0 && ok;
  f_ = nullptr;
  if (!ok || std::rename(temp_.c_str(), target_.c_str()) != 0) return false;
  temp_.clear();
  return true;
}

}  // namespace opix
