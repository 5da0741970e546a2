// The -lut text file's reader on what is not a table: its memory and time
// stay bounded by the table it could hold, not by the file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "LutFile.h"

using opix::app::LutTable;
using opix::app::readLutFile;

namespace {

// Sanitizers reserve more address space than the limit below allows.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The reader's status for `path` in a child process with 64 MB of address
// space to spare (without the limit under a sanitizer), and its message.
int statusWithin64MB(const std::string& path, std::string& err) {
  char errTemplate[] = "/tmp/opix_lut_err_XXXXXX";
  const int errFd = mkstemp(errTemplate);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(errFd, 2);
    if (!kSanitized) {
      rlimit limit{};
      getrlimit(RLIMIT_AS, &limit);
      std::ifstream status("/proc/self/statm");
      uint64_t pages = 0;
      status >> pages;
      limit.rlim_cur = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) + (uint64_t{64} << 20);
      setrlimit(RLIMIT_AS, &limit);
    }
    LutTable lut;
    _exit(int(readLutFile(path, lut)));
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  std::ifstream in(errTemplate);
  err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  close(errFd);
  unlink(errTemplate);
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

class LutFileReader : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/opix_lut_XXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string write(const std::string& name, const std::function<void(std::ofstream&)>& fill) {
    const std::string p = dir_ + "/" + name;
    std::ofstream out(p, std::ios::binary);
    fill(out);
    return p;
  }
  std::string dir_;
};

}  // namespace

// A 40 MB line of values is refused at its first kilobyte; so is an endless
// file without line ends.
TEST_F(LutFileReader, LongLinesAndEndlessFilesAreRefusedWithinBoundedMemory) {
  const std::string longLine = write("long.txt", [](std::ofstream& out) {
    const std::string values(1 << 20, ' ');
    for (int i = 0; i < 40; ++i) out << "1 2 3 " << values;
    out << "\n";
  });
  std::string err;
  EXPECT_EQ(statusWithin64MB(longLine, err), OPIX_INVALID_FORMAT);
  EXPECT_EQ(err, "LUT file " + longLine + ", line 1: longer than 1024 characters before its comment\n");
  EXPECT_EQ(statusWithin64MB("/dev/zero", err), OPIX_INVALID_FORMAT);
  EXPECT_EQ(err, "LUT file /dev/zero, line 1: longer than 1024 characters before its comment\n");
}

// Comments of any length are skipped as they are read; a table around them
// is whole.
TEST_F(LutFileReader, LongCommentsAreSkipped) {
  const std::string p = write("comments.txt", [](std::ofstream& out) {
    out << "# " << std::string(1 << 20, 'c') << "\n";
    for (int i = 0; i < 256; ++i) out << i << " # " << std::string(2000, 'x') << "\n";
  });
  LutTable lut;
  ASSERT_EQ(readLutFile(p, lut), OPIX_OK);
  EXPECT_EQ(lut.entries, 256u);
  EXPECT_EQ(lut.values[0][255], 255u);
}
