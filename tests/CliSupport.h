// The opix_debayer program run as a child process in a scratch folder of its
// own, with its standard output, standard error and exit status collected.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "DebayerSupport.h"

namespace opix::test {

struct Result {
  std::string out, err;
  int status = -1;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// The PPM a colour result must be written as: its header and rows.
inline std::string ppm(const DebayerRun& run) {
  const opixDeviceSurfaceBuffer_t& d = *run.destination;
  std::string s = "P6\n" + std::to_string(d.width) + "\n" + std::to_string(d.height) + "\n255\n";
  for (uint32_t y = 0; y < d.height; ++y)
    for (uint32_t x = 0; x < d.width; ++x)
      for (int c : run.pixel(x, y)) s.push_back(char(c));
  return s;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/opix_cli_XXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Runs the program in the test folder; the host backend unless the suite
  // runs on CUDA.
  // `asUser`, when set, is the user id the program runs as.
  Result run(std::vector<std::string> args, bool chooseBackend = true, int asUser = -1) {
    return finish(start(std::move(args), chooseBackend, asUser));
  }

  // Starts the program as run() does and returns its process id; `inChild`
  // runs in the child just before the program is started.
  pid_t start(std::vector<std::string> args, bool chooseBackend = true, int asUser = -1,
              const std::function<void()>& inChild = nullptr) {
    if (chooseBackend && g_backend != Backend::Cuda) args.push_back("-cpu");
    std::vector<char*> argv;
    std::string program = OPIX_DEBAYER_PATH;
    argv.push_back(program.data());
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string outPath = path(".stdout"), errPath = path(".stderr");
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(127);
      const int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(o, 1);
      dup2(e, 2);
      if (asUser >= 0 && (setgid(gid_t(asUser)) != 0 || setuid(uid_t(asUser)) != 0)) _exit(126);
      if (inChild) inChild();
      execv(argv[0], argv.data());
      _exit(127);
    }
    return pid;
  }

  // Waits for a program that start() began; a run ended by a signal has
  // status -1.
  Result finish(pid_t pid) {
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    Result r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.out = readFile(path(".stdout"));
    r.err = readFile(path(".stderr"));
    return r;
  }

  // An 8-bit (or 16-bit, maxval 4095) binary PGM of a random mosaic.
  Mosaic writePgm(const std::string& name, uint32_t w, uint32_t h, bool twelveBit, uint32_t seed) {
    const Mosaic m = randomMosaic(w, h, twelveBit ? OPIX_I12 : OPIX_I8, seed);
    std::ofstream out(path(name), std::ios::binary);
    out << "P5\n" << w << " " << h << "\n" << (twelveBit ? 4095 : 255) << "\n";
    for (int v : m.samples) {
      if (twelveBit) out.put(char(v >> 8));
      out.put(char(v & 0xFF));
    }
    return m;
  }

  // The file `name` holds what the SDK's debayer `sdk` makes of `m`.
  void expectSdkResult(DebayerRun& sdk, const Mosaic& m, opixBayerPattern_t pattern, const std::string& name) {
    ASSERT_EQ(sdk.run(m, pattern), OPIX_OK);
    EXPECT_EQ(readFile(path(name)), ppm(sdk)) << name;
  }

  std::string dir_;
};

}  // namespace opix::test
