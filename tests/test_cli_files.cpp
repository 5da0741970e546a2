// The program's files end to end: results replace their targets only as a
// whole (a killed run, a full disk), symbolic links are followed only where
// they can be trusted, and the trace log never lands on an input.
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <regex>

#include "CliSupport.h"

using namespace opix;
using namespace opix::test;

namespace {

std::vector<std::string> folderNames(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class CliFiles : public Cli {
 protected:
  // A mosaic large enough that writing its result takes a while.
  void writeBigPgm(const std::string& name, uint32_t w, uint32_t h) {
    std::ofstream out(path(name), std::ios::binary);
    out << "P5\n" << w << " " << h << "\n255\n";
    std::string row(w, '\0');
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) row[x] = char((x * 7 + y * 3) & 0xFF);
      out << row;
    }
  }

  // Runs the program and kills it (SIGKILL) at the first write into a file
  // of `watched` (a folder: any file in it; a file: that file). Returns
  // whether it was killed, rather than ending by itself.
  bool killAtFirstWrite(const std::vector<std::string>& args, const std::string& watched) {
    const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    EXPECT_GE(fd, 0);
    EXPECT_GE(inotify_add_watch(fd, watched.c_str(), IN_MODIFY), 0);
    const pid_t pid = start(args);
    bool killed = false;
    int wstatus = 0;
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 10) == 1) {
        killed = kill(pid, SIGKILL) == 0;
        break;
      }
      if (waitpid(pid, &wstatus, WNOHANG) == pid) {
        close(fd);
        return false;
      }
    }
    close(fd);
    return finish(pid).status == -1 && killed;
  }
};

}  // namespace

// A symbolic link stays a link to the replaced file and the mode stays. What a
// rename cannot keep is refused, and the file is kept untouched under every
// name: a file with hard links, one whose owner the replacement could not be
// given, one in a folder that takes no new file, one that is no regular file.
TEST_F(CliFiles, OutputReplacementKeepsLinksAndModeOrRefuses) {
  writePgm("in.pgm", 64, 64, false, 70);
  ASSERT_EQ(run({"-i", "in.pgm", "-o", "expected.ppm"}).status, 0);
  const std::string expected = readFile(path("expected.ppm"));
  ASSERT_EQ(mkdir(path("real").c_str(), 0755), 0);
  std::ofstream(path("real/t.ppm")) << "old";
  ASSERT_EQ(chmod(path("real/t.ppm").c_str(), 0640), 0);
  ASSERT_EQ(symlink("real/t.ppm", path("link.ppm").c_str()), 0);

  const Result viaLink = run({"-i", "in.pgm", "-o", "link.ppm"});
  ASSERT_EQ(viaLink.status, 0) << viaLink.err;
  struct stat l {
  }, t{};
  ASSERT_EQ(lstat(path("link.ppm").c_str(), &l), 0);
  EXPECT_TRUE(S_ISLNK(l.st_mode));
  ASSERT_EQ(stat(path("real/t.ppm").c_str(), &t), 0);
  EXPECT_EQ(t.st_mode & 07777, 0640u);
  EXPECT_TRUE(readFile(path("real/t.ppm")) == expected);

  std::ofstream(path("real/t.ppm")) << "old";
  ASSERT_EQ(link(path("real/t.ppm").c_str(), path("hard.ppm").c_str()), 0);
  for (const char* name : {"hard.ppm", "link.ppm"}) {
    const Result hard = run({"-i", "in.pgm", "-o", name});
    EXPECT_EQ(hard.status, 255);
    EXPECT_EQ(hard.err.substr(0, hard.err.find('\n') + 1),
              std::string(name) + " has other names (hard links) and is kept: only a file with one name is replaced\n");
    EXPECT_EQ(readFile(path("real/t.ppm")), "old");
    EXPECT_EQ(readFile(path("hard.ppm")), "old");
  }
  EXPECT_EQ(folderNames(path("real")), std::vector<std::string>{"t.ppm"});

  ASSERT_EQ(mkfifo(path("fifo.ppm").c_str(), 0644), 0);
  const Result fifo = run({"-i", "in.pgm", "-o", "fifo.ppm"});
  EXPECT_EQ(fifo.status, 255);
  EXPECT_EQ(fifo.err.substr(0, fifo.err.find('\n') + 1), "fifo.ppm is not a regular file\n");
  struct stat f {};
  ASSERT_EQ(lstat(path("fifo.ppm").c_str(), &f), 0);
  EXPECT_TRUE(S_ISFIFO(f.st_mode));

  // A folder that takes no new file: for root, whom permissions do not stop,
  // the program runs as another user who owns only the file.
  const bool root = geteuid() == 0;
  const int user = root ? 65534 : -1;
  ASSERT_EQ(mkdir(path("ro").c_str(), 0755), 0);
  std::ofstream(path("ro/out.ppm")) << "old";
  if (root) {
    ASSERT_EQ(chown(path("ro/out.ppm").c_str(), uid_t(user), gid_t(user)), 0);
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
    ASSERT_EQ(chmod(path("in.pgm").c_str(), 0644), 0);
  }
  ASSERT_EQ(chmod(path("ro").c_str(), 0555), 0);
  const Result ro = run({"-i", "in.pgm", "-o", "ro/out.ppm"}, true, user);
  ASSERT_NE(ro.status, 126) << "could not change user";
  EXPECT_EQ(ro.status, 255);
  EXPECT_EQ(ro.err.substr(0, ro.err.find('\n') + 1),
            "ro/out.ppm is kept: no new file can be made in its folder to replace it\n");
  EXPECT_EQ(readFile(path("ro/out.ppm")), "old");
  EXPECT_EQ(folderNames(path("ro")), std::vector<std::string>{"out.ppm"});
  chmod(path("ro").c_str(), 0755);

  // Another user's file, in a folder where this user may make files: the
  // replacement would be this user's.
  if (root) {
    ASSERT_EQ(mkdir(path("open").c_str(), 0777), 0);
    ASSERT_EQ(chmod(path("open").c_str(), 0777), 0);
    std::ofstream(path("open/out.ppm")) << "old";
    ASSERT_EQ(chmod(path("open/out.ppm").c_str(), 0666), 0);
    const Result foreign = run({"-i", "in.pgm", "-o", "open/out.ppm"}, true, user);
    EXPECT_EQ(foreign.status, 255);
    EXPECT_EQ(foreign.err.substr(0, foreign.err.find('\n') + 1),
              "open/out.ppm is kept: it belongs to another user or group, which its replacement would not\n");
    EXPECT_EQ(readFile(path("open/out.ppm")), "old");
    EXPECT_EQ(folderNames(path("open")), std::vector<std::string>{"out.ppm"});
  }
}

// A run killed while it writes its result leaves the old bytes under every
// name of the target: the one it was given, a symbolic link to it, and a hard
// link (which is refused before anything is written).
TEST_F(CliFiles, KilledWriterLeavesTheOldBytesUnderEveryName) {
  writeBigPgm("in.pgm", 4096, 2048);
  ASSERT_EQ(mkdir(path("out").c_str(), 0755), 0);
  const std::string old(1000, 'o');
  std::ofstream(path("out/t.ppm")) << old;
  ASSERT_EQ(symlink("out/t.ppm", path("alias.ppm").c_str()), 0);
  ASSERT_TRUE(killAtFirstWrite({"-i", "in.pgm", "-o", "alias.ppm"}, path("out")))
      << "the program was to be killed while writing";
  EXPECT_TRUE(readFile(path("out/t.ppm")) == old);
  EXPECT_TRUE(readFile(path("alias.ppm")) == old);
  // The killed run's temporary is removed by the next write there.
  EXPECT_EQ(folderNames(path("out")).size(), 2u);
  writePgm("small.pgm", 64, 64, false, 75);
  const Result next = run({"-i", "small.pgm", "-o", "out/other.ppm"});
  ASSERT_EQ(next.status, 0) << next.err;
  EXPECT_EQ(folderNames(path("out")), (std::vector<std::string>{"other.ppm", "t.ppm"}));

  // A hard-linked target: any write into the file itself is a kill.
  ASSERT_EQ(link(path("out/t.ppm").c_str(), path("hard.ppm").c_str()), 0);
  EXPECT_FALSE(killAtFirstWrite({"-i", "in.pgm", "-o", "hard.ppm"}, path("out/t.ppm")));
  EXPECT_TRUE(readFile(path("out/t.ppm")) == old);
  EXPECT_TRUE(readFile(path("hard.ppm")) == old);
}

// A result that does not fit on its disk leaves the old file whole and no
// temporary behind. The disk is a small tmpfs where this user may mount one,
// else a file size limit, which fails the writes the same way.
TEST_F(CliFiles, FullDiskLeavesTheOldBytesUnderEveryName) {
  writeBigPgm("small.pgm", 1024, 1024);  // a 3 MB result
  writeBigPgm("large.pgm", 2048, 1024);  // a 6 MB result
  ASSERT_EQ(mkdir(path("disk").c_str(), 0755), 0);
  struct Mount {
    std::string at;
    ~Mount() {
      if (!at.empty()) umount(at.c_str());
    }
  } disk;
  if (mount("tmpfs", path("disk").c_str(), "tmpfs", 0, "size=4m") == 0) disk.at = path("disk");
  const bool mounted = !disk.at.empty();
  std::function<void()> limit = nullptr;
  if (!mounted)
    limit = [] {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit r{4 << 20, 4 << 20};
      setrlimit(RLIMIT_FSIZE, &r);
    };
  const std::string old(512 * 1024, 'o');
  std::ofstream(path("disk/t.ppm")) << old;
  ASSERT_EQ(link(path("disk/t.ppm").c_str(), path("disk/hard.ppm").c_str()), 0);
  // The small result fits beside the old file but not twice: a copy over
  // the hard-linked file would run out of room halfway.
  const Result hard = finish(start({"-i", "small.pgm", "-o", "disk/hard.ppm"}, true, -1, limit));
  EXPECT_EQ(hard.status, 255);
  EXPECT_TRUE(readFile(path("disk/t.ppm")) == old);
  EXPECT_TRUE(readFile(path("disk/hard.ppm")) == old);
  ASSERT_EQ(unlink(path("disk/hard.ppm").c_str()), 0);

  const Result full = finish(start({"-i", "large.pgm", "-o", "disk/t.ppm"}, true, -1, limit));
  EXPECT_EQ(full.status, 255);
  EXPECT_NE(full.err.find("Could not save to file\n"), std::string::npos) << full.err;
  EXPECT_TRUE(readFile(path("disk/t.ppm")) == old);
  EXPECT_EQ(folderNames(path("disk")), std::vector<std::string>{"t.ppm"});

  const Result fits = finish(start({"-i", "small.pgm", "-o", "disk/t.ppm"}, true, -1, limit));
  EXPECT_EQ(fits.status, 0) << fits.err;
  EXPECT_EQ(readFile(path("disk/t.ppm")).size(), 1024u * 1024 * 3 + std::strlen("P6\n1024\n1024\n255\n"));
}

// Links in a sticky folder are followed only when they and their targets
// are the user's; elsewhere a link is followed, also one that names no file
// yet. A loop of links is refused.
TEST_F(CliFiles, SymbolicLinksAreFollowedOnlyWhereTheyAreTrusted) {
  writePgm("in.pgm", 64, 64, false, 72);
  ASSERT_EQ(run({"-i", "in.pgm", "-o", "expected.ppm"}).status, 0);
  const std::string expected = readFile(path("expected.ppm"));
  ASSERT_EQ(mkdir(path("shared").c_str(), 0777), 0);
  ASSERT_EQ(chmod(path("shared").c_str(), 01777), 0);

  std::ofstream(path("mine.ppm")) << "old";
  ASSERT_EQ(symlink("../mine.ppm", path("shared/own.ppm").c_str()), 0);
  ASSERT_EQ(run({"-i", "in.pgm", "-o", "shared/own.ppm"}).status, 0);
  EXPECT_TRUE(readFile(path("mine.ppm")) == expected);

  ASSERT_EQ(symlink("../made.ppm", path("shared/dangling.ppm").c_str()), 0);
  ASSERT_EQ(run({"-i", "in.pgm", "-o", "shared/dangling.ppm"}).status, 0);
  EXPECT_TRUE(readFile(path("made.ppm")) == expected);

  ASSERT_EQ(symlink("loop_b.ppm", path("loop_a.ppm").c_str()), 0);
  ASSERT_EQ(symlink("loop_a.ppm", path("loop_b.ppm").c_str()), 0);
  const Result loop = run({"-i", "in.pgm", "-o", "loop_a.ppm"});
  EXPECT_EQ(loop.status, 255);
  EXPECT_EQ(loop.err.substr(0, loop.err.find('\n') + 1), "loop_a.ppm: too many levels of symbolic links\n");

  if (geteuid() != 0) GTEST_SKIP() << "links of another user need root to be made";
  // Another user's link to this user's file, and this user's link to
  // another user's file.
  std::ofstream(path("precious.ppm")) << "precious";
  ASSERT_EQ(symlink("../precious.ppm", path("shared/planted.ppm").c_str()), 0);
  ASSERT_EQ(lchown(path("shared/planted.ppm").c_str(), 65534, 65534), 0);
  std::ofstream(path("theirs.ppm")) << "theirs";
  ASSERT_EQ(chown(path("theirs.ppm").c_str(), 65534, 65534), 0);
  ASSERT_EQ(symlink("../theirs.ppm", path("shared/to_theirs.ppm").c_str()), 0);
  for (const char* name : {"shared/planted.ppm", "shared/to_theirs.ppm"}) {
    for (const char* option : {"-o", "-log"}) {
      std::vector<std::string> args{"-i", "in.pgm", "-o", "x.ppm"};
      if (std::string(option) == "-o")
        args[3] = name;
      else
        args.insert(args.end(), {"-log", name});
      const Result r = run(args);
      EXPECT_EQ(r.status, 255) << name << " " << option;
      EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1),
                std::string(name) +
                    ": a symbolic link in a sticky folder is followed only when it and its target are "
                    "yours\n");
    }
  }
  EXPECT_EQ(readFile(path("precious.ppm")), "precious");
  EXPECT_EQ(readFile(path("theirs.ppm")), "theirs");
  struct stat l {};
  ASSERT_EQ(lstat(path("shared/planted.ppm").c_str(), &l), 0);
  EXPECT_TRUE(S_ISLNK(l.st_mode));
}

// The trace log is refused, before anything is written, on an input file (the
// image, a file of a batch, a matrix, a LUT), an output and anything that is
// no regular file; the input keeps every byte.
TEST_F(CliFiles, TraceLogNeverLandsOnAnInputOrAnOutput) {
  writePgm("in.pgm", 64, 64, false, 73);
  writePgm("b.pgm", 64, 64, false, 74);
  const std::string input = readFile(path("in.pgm"));
  ASSERT_EQ(mkdir(path("sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("in.pgm", path("in_link.txt").c_str()), 0);
  std::ofstream(path("m.raw")) << std::string(64 * 64, '\0');
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"-i", "in.pgm", "-o", "out.ppm", "-log", "in.pgm"}, "Log file must not be an input file\n"},
      {{"-i", "in.pgm", "-o", "out.ppm", "-log", "in_link.txt"}, "Log file must not be an input file\n"},
      {{"-i", "in.pgm", "-o", "out.ppm", "-log", "./in.pgm"}, "Log file must not be an input file\n"},
      {{"-if", "*.pgm", "-o", "out_*.ppm", "-maxWidth", "64", "-maxHeight", "64", "-log", "b.pgm"},
       "Log file must not be an input file\n"},
      {{"-i", "in.pgm", "-o", "out.ppm", "-matrixB", "m.raw", "-log", "m.raw"}, "Log file must not be an input file\n"},
      {{"-i", "in.pgm", "-o", "out.ppm", "-log", "out.ppm"}, "Log file must not be an output file\n"},
      {{"-if", "*.pgm", "-o", "out_*.ppm", "-maxWidth", "64", "-maxHeight", "64", "-log", "out_1.ppm"},
       "Log file must not be an output file\n"},
      {{"-i", "in.pgm", "-o", "out.ppm", "-log", "sub"}, "sub is not a regular file\n"},
  };
  for (const Case& c : cases) {
    const Result r = run(c.args);
    EXPECT_EQ(r.status, 255) << c.args.back();
    EXPECT_EQ(r.err, c.err) << c.args.back();
    EXPECT_FALSE(exists(path("out.ppm"))) << c.args.back();
    EXPECT_FALSE(exists(path("out_0.ppm"))) << c.args.back();
  }
  EXPECT_TRUE(readFile(path("in.pgm")) == input);
  EXPECT_EQ(readFile(path("m.raw")), std::string(64 * 64, '\0'));

  std::ofstream(path("trace.txt")) << "an older log";
  const Result ok = run({"-i", "in.pgm", "-o", "out.ppm", "-log", "trace.txt"});
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(readFile(path("trace.txt")).rfind("Product Name: ", 0), 0u);
}

// A batch reads its images one at a time as it processes them: a batch of
// 40 frames holds no more memory than a batch of two (the two chains that
// take turns, each with its image). The frames are links to one file, which
// the batch reads as 40 files.
TEST_F(CliFiles, BatchMemoryDoesNotGrowWithItsLength) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer keeps freed memory in quarantine";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "the sanitizer keeps freed memory in quarantine";
#endif
#endif
  writeBigPgm("frame.pgm", 1024, 1024);
  ASSERT_EQ(mkdir(path("one").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(path("many").c_str(), 0755), 0);
  ASSERT_EQ(symlink("../frame.pgm", path("one/f00.pgm").c_str()), 0);
  ASSERT_EQ(symlink("../frame.pgm", path("one/f01.pgm").c_str()), 0);
  for (int i = 0; i < 40; ++i) {
    const std::string name = "many/f" + std::to_string(100 + i) + ".pgm";
    ASSERT_EQ(symlink("../frame.pgm", path(name).c_str()), 0);
  }
  auto peakKb = [&](const std::string& mask) {
    const pid_t pid = start({"-if", mask, "-o", "/dev/shm/opix_batch_memory_*.bmp", "-maxWidth", "1024", "-maxHeight",
                             "1024", "-thread", "1"});
    int wstatus = 0;
    rusage usage{};
    EXPECT_EQ(wait4(pid, &wstatus, 0, &usage), pid);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << readFile(path(".stderr"));
    return usage.ru_maxrss;
  };
  const long one = peakKb("one/*.pgm");
  const long many = peakKb("many/*.pgm");
  for (int i = 0; i < 40; ++i) unlink(("/dev/shm/opix_batch_memory_" + std::to_string(i) + ".bmp").c_str());
  // Held whole, the 40 frames would add 40 MB.
  EXPECT_LT(many - one, 8 * 1024) << "two frames: " << one << " KB, 40 frames: " << many << " KB";
}

// An output that cannot be written is named and skipped like an unreadable
// input; the batch goes on and fails at the end.
TEST_F(CliFiles, BatchSkipsAnOutputThatCannotBeWritten) {
  for (const char* name : {"a.pgm", "b.pgm", "c.pgm"}) writePgm(name, 64, 64, false, 76);
  ASSERT_EQ(mkdir(path("out_1.ppm").c_str(), 0755), 0);
  const Result r = run({"-if", "*.pgm", "-o", "out_*.ppm", "-maxWidth", "64", "-maxHeight", "64"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "out_1.ppm is not a regular file\nCould not save to file\nout_1.ppm: Failed to open/access file\n");
  EXPECT_TRUE(exists(path("out_0.ppm")));
  EXPECT_TRUE(exists(path("out_2.ppm")));
  EXPECT_NE(r.out.find("Processing time on GPU for 3 images"), std::string::npos) << r.out;
}
