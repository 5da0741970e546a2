#include "FileIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

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

constexpr const char* kTempTag = ".opix-";

// The file a path names once every symbolic link on the way is followed; a
// dangling link gives the path it points to, which the write then creates.
std::string resolveLinks(const std::string& path) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = readlink(p.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<size_t>(n) >= link.size()) break;
    link.resize(static_cast<size_t>(n));
    const size_t slash = p.find_last_of('/');
    p = link[0] == '/' || slash == std::string::npos ? link : p.substr(0, slash + 1) + link;
  }
  return p;
}

std::string directoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string baseOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Temporaries are named ".<target>.opix-<pid>-<n>.tmp": one left by a run
// that was killed is found by its tag and its process being gone. A folder
// is swept once per process, at its first write, so that a batch of many
// files does not read the folder again for each.
bool isStaleTemporary(const std::string& name) {
  if (name.size() < 2 || name[0] != '.') return false;
  const size_t tag = name.rfind(kTempTag);
  if (tag == std::string::npos) return false;
  char* end = nullptr;
  const long pid = std::strtol(name.c_str() + tag + std::strlen(kTempTag), &end, 10);
  if (pid <= 0 || *end != '-' || std::strcmp(end + std::strcspn(end, "."), ".tmp") != 0) return false;
  return pid != getpid() && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

void removeStaleTemporaries(const std::string& dir) {
  static std::mutex lock;
  static std::set<std::string> swept;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (!swept.insert(dir).second) return;
  }
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return;
  while (const dirent* e = readdir(d))
    if (isStaleTemporary(e->d_name)) ::unlink((dir + e->d_name).c_str());
  closedir(d);
}

// A fresh temporary for `base` in `dir`, opened for writing with `mode`.
int createTemporary(const std::string& dir, const std::string& base, mode_t mode, std::string& name) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = dir + "." + base + kTempTag + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".tmp";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      if (fchmod(fd, mode) == 0) return fd;
      ::close(fd);
      ::unlink(name.c_str());
      return -1;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

mode_t newFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

OutputFile::OutputFile(const std::string& target) {
  target_ = resolveLinks(target);
  const std::string dir = directoryOf(target_), base = baseOf(target_);
  if (base.empty()) return;
  struct stat st;
  const bool exists = stat(target_.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "%s is not a regular file\n", target.c_str());
    return;
  }
  removeStaleTemporaries(dir);
  const mode_t mode = exists ? (st.st_mode & 07777) : newFileMode();
  // A file with other names (hard links) or another owner is rewritten in
  // place, so that it stays the same file; so is one whose folder takes no
  // new file. The new bytes still go to a temporary first.
  int fd = -1;
  if (!exists || st.st_nlink == 1) {
    fd = createTemporary(dir, base, mode, temp_);
    if (fd >= 0 && exists && (st.st_uid != geteuid() || st.st_gid != getegid()) &&
        fchown(fd, st.st_uid, st.st_gid) != 0) {
      ::close(fd);
      ::unlink(temp_.c_str());
      fd = -1;
    }
  }
  if (fd < 0 && exists) {
    inPlace_ = true;
    fd = createTemporary(dir, base, 0600, temp_);
    if (fd < 0) {
      const char* tmp = std::getenv("TMPDIR");
      std::string tmpDir = tmp && *tmp ? tmp : "/tmp";
      if (tmpDir.back() != '/') tmpDir += '/';
      removeStaleTemporaries(tmpDir);
      fd = createTemporary(tmpDir, base, 0600, temp_);
    }
  }
  if (fd < 0) {
    temp_.clear();
    return;
  }
  if (!(f_ = fdopen(fd, "wb"))) {
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

namespace {

// Copies the whole of `from` over the contents of `to`, which keeps its
// inode, owner, mode and links.
bool copyOver(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const int out = ::open(to.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  bool ok = out >= 0;
  std::vector<char> buffer(ok ? size_t{1} << 20 : 0);
  while (ok) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < n;) {
      const ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
      ok = w > 0;
      done += w > 0 ? w : 0;
    }
  }
  ok = ok && fsync(out) == 0;
  if (out >= 0) ok = ::close(out) == 0 && ok;
  ::close(in);
  return ok;
}

}  // namespace

bool OutputFile::commit() {
  if (!f_) return false;
  bool ok = ok_ && std::fflush(f_) == 0 && fsync(fileno(f_)) == 0;
  ok = std::fclose(f_) == 0 && ok;
  f_ = nullptr;
  if (!ok) return false;
  if (inPlace_) return copyOver(temp_, target_);  // the destructor removes the temporary
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) return false;
  temp_.clear();
  return true;
}

}  // namespace opix
