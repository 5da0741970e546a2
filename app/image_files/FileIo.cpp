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
  if (pos < 0) return true;
  // A seek may go past the end, where no byte follows.
  return pos <= st.st_size && static_cast<uint64_t>(st.st_size - pos) >= n;
}

namespace {

constexpr const char* kTempTag = ".opix-";

std::string directoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string baseOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderName(const std::string& dir) { return dir.empty() ? std::string(".") : dir; }

}  // namespace

bool followLinks(const std::string& path, std::string& resolved, bool quiet) {
  constexpr int kMaxHops = 40;
  std::string p = path;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      resolved = p;  // a file, or a name still to be made
      return true;
    }
    std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = readlink(p.c_str(), link.data(), link.size());
    if (hops == kMaxHops || n <= 0 || static_cast<size_t>(n) >= link.size()) {
      if (!quiet)
        std::fprintf(stderr, "%s: %s\n", path.c_str(),
                     hops == kMaxHops ? "too many levels of symbolic links" : "its symbolic link cannot be read");
      return false;
    }
    link.resize(static_cast<size_t>(n));
    const std::string next = link[0] == '/' ? link : directoryOf(p) + link;
    // Anyone may plant a link in a sticky folder such as /tmp: one there is
    // followed only when it and the file it names are the user's own, as
    // the kernel's protected_symlinks does for opens.
    struct stat folder, target;
    if (stat(folderName(directoryOf(p)).c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) &&
        (st.st_uid != geteuid() || (stat(next.c_str(), &target) == 0 && target.st_uid != geteuid()))) {
      if (!quiet)
        std::fprintf(stderr,
                     "%s: a symbolic link in a sticky folder is followed only when it and its target are yours\n",
                     path.c_str());
      return false;
    }
    p = next;
  }
}

namespace {

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
  if (!followLinks(target, target_)) return;
  const std::string dir = directoryOf(target_), base = baseOf(target_);
  if (base.empty()) return;
  struct stat st;
  const bool exists = lstat(target_.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "%s is not a regular file\n", target.c_str());
    return;
  }
  // A file is replaced only as a whole, by renaming a finished file onto
  // its name: rewriting it in place would leave a part-written file under
  // every name if the run died or the disk filled. What a rename cannot
  // keep, other names (hard links) and an owner, is refused instead.
  if (exists && st.st_nlink > 1) {
    std::fprintf(stderr, "%s has other names (hard links) and is kept: only a file with one name is replaced\n",
                 target.c_str());
    return;
  }
  removeStaleTemporaries(dir);
  const mode_t mode = exists ? (st.st_mode & 07777) : newFileMode();
  const int fd = createTemporary(dir, base, mode, temp_);
  if (fd < 0) {
    if (exists && (errno == EACCES || errno == EROFS))
      std::fprintf(stderr, "%s is kept: no new file can be made in its folder to replace it\n", target.c_str());
    temp_.clear();
    return;
  }
  if (exists && (st.st_uid != geteuid() || st.st_gid != getegid()) && fchown(fd, st.st_uid, st.st_gid) != 0) {
    std::fprintf(stderr, "%s is kept: it belongs to another user or group, which its replacement would not\n",
                 target.c_str());
    ::close(fd);
    ::unlink(temp_.c_str());
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

bool OutputFile::commit() {
  if (!f_) return false;
  bool ok = ok_ && std::fflush(f_) == 0 && fsync(fileno(f_)) == 0;
  ok = std::fclose(f_) == 0 && ok;
  f_ = nullptr;
  if (!ok) return false;
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) return false;
  temp_.clear();
  return true;
}

}  // namespace opix
