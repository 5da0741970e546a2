// Camera raw files: the unprocessed Bayer mosaic of the visible area and what
// the file says about it, decoded by LibRaw in a decoder process of its own
// (opix_camera_decoder, CameraRawDecoder.cpp). Built without LibRaw, every
// read fails with "camera raw input needs LibRaw".
//
// Why a process: LibRaw is large C code that parses every vendor's format,
// and crafted files crash it (buffer overflows that glibc turns into an abort,
// wild reads), or keep it looping. In-process, such a file would take the
// whole program or a user's Python or Dask worker down with it. In a process
// of its own, a crash, an abort or a hang costs that one file: the reader
// sees the decoder's channel close (or time run out), reaps the process,
// reports the file as "truncated or corrupt file (...)" and starts a fresh
// decoder for the next one.
//
// Why posix_spawn of a separate program rather than fork() and decoding in
// the child: the module runs in multi-threaded processes (Dask workers, the
// program's own reader threads, the CUDA runtime's threads). After fork()
// only async-signal-safe calls are allowed in the child of such a process;
// glibc keeps malloc usable, but any other lock another thread held at the
// fork (stdio, locale, the C++ runtime, the SDK's mutexes, Python's) stays
// locked forever, and fork() also copies the page tables of a worker holding
// gigabytes. posix_spawn (vfork and exec) is safe from any thread, the decoder
// starts with a clean address space of its own, and LibRaw is linked into it
// alone. Decoders are kept between files (an idle pool, one per concurrent
// read), so a batch or a fuzzer pays the start once, not per file.
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <vector>

#include "CameraFiles.h"
#include "CameraRawProtocol.h"

extern char** environ;

namespace opix {

bool isCameraRawName(const std::string& name) {
  for (const char* e : {".dng", ".cr2", ".cr3", ".nef", ".nrw", ".arw", ".raf", ".orf", ".rw2", ".pef", ".srw", ".kdc",
                        ".dcr", ".3fr", ".iiq", ".x3f"})
    if (hasExtension(name, e)) return true;
  return false;
}

void printCameraRawInfo(const CameraRawInfo& i) {
  std::printf("Camera: %s %s\n", i.make.c_str(), i.model.c_str());
  std::printf("Camera raw: %ux%u pixels, %u bits, pattern %s\n", i.width, i.height, i.bits,
              opixBayerPatternName(i.pattern));
  if (i.perSiteBlack) {
    float lo = i.black[0], hi = i.black[0];
    for (float b : i.black) lo = b < lo ? b : lo, hi = b > hi ? b : hi;
    std::printf("Black level: per site, %ux%u table, %g to %g\n", i.blackRows, i.blackCols, double(lo), double(hi));
  } else {
    std::printf("Black level: R %g G %g B %g\n", double(i.colourBlack[0]), double(i.colourBlack[1]),
                double(i.colourBlack[2]));
  }
  std::printf("White level: %u\n", i.white);
  std::printf("As-shot white balance: R %.4f G1 %.4f G2 %.4f B %.4f\n", double(i.asShot[0]), double(i.asShot[1]),
              double(i.asShot[2]), double(i.asShot[3]));
  for (int r = 0; r < 3; ++r)
    std::printf("%s %.4f %.4f %.4f\n", r == 0 ? "Camera to sRGB:" : "               ", double(i.cameraToSrgb[r][0]),
                double(i.cameraToSrgb[r][1]), double(i.cameraToSrgb[r][2]));
}

// ------------------------------------------------------- a decoder's reply

namespace camera_raw {

namespace {

bool inRange(float v, float lo, float hi) { return std::isfinite(v) && v >= lo && v <= hi; }

// What a header of a decoded mosaic gets wrong; null when nothing.
const char* wrongInHeader(const ReplyHeader& h) {
  if (h.whyBytes != 0 || h.makeBytes > kMaxNameBytes || h.modelBytes > kMaxNameBytes) return "text sizes";
  if (h.width == 0 || h.height == 0 || h.width > kMaxSide || h.height > kMaxSide) return "mosaic size";
  if (h.pitch != (2 * h.width + 3) / 4 * 4 || h.imageBytes != uint64_t{h.pitch} * h.height ||
      h.imageBytes > kMaxImageBytes)
    return "mosaic bytes";
  if (h.white == 0 || h.white > 65535 || h.bits != bitsForWhite(h.white) || h.imageBits != (h.bits <= 12 ? 12u : 16u))
    return "white level and depth";
  if (h.pattern != OPIX_BAYER_RGGB && h.pattern != OPIX_BAYER_BGGR && h.pattern != OPIX_BAYER_GBRG &&
      h.pattern != OPIX_BAYER_GRBG)
    return "pattern";
  if (h.blackRows < 2 || h.blackCols < 2 || h.blackRows % 2 || h.blackCols % 2 ||
      uint64_t{h.blackRows} * h.blackCols > kMaxBlackSites || h.perSiteBlack > 1 ||
      (!h.perSiteBlack && (h.blackRows != 2 || h.blackCols != 2)))
    return "black table";
  for (float v : h.colourBlack)
    if (!inRange(v, 0, 65535)) return "black levels";
  for (float v : h.asShot)
    if (!inRange(v, 1e-6f, 1e6f)) return "white balance";
  for (float v : h.cameraToSrgb)
    if (!inRange(v, -1e6f, 1e6f)) return "colour matrix";
  return nullptr;
}

}  // namespace

Reply readReply(ReplySource& in, DecodedImage& out, CameraRawInfo& info, std::string& why) {
  ReplyHeader h;
  if (!in.read(&h, sizeof h)) return why = "reply cut short", Reply::kBroken;
  if (h.magic != kReplyMagic || h.version != kProtocolVersion) return why = "reply of another protocol", Reply::kBroken;
  if (h.decoded == 0) {
    if (h.whyBytes == 0 || h.whyBytes > kMaxWhyBytes || h.makeBytes || h.modelBytes || h.imageBytes)
      return why = "refusal with sizes", Reply::kBroken;
    std::string reason(h.whyBytes, '\0');
    if (!in.read(&reason[0], reason.size())) return why = "reply cut short", Reply::kBroken;
    for (char& c : reason)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    why = reason;
    return Reply::kRefused;
  }
  if (h.decoded != 1) return why = "unknown outcome", Reply::kBroken;
  if (const char* wrong = wrongInHeader(h)) return why = std::string("header: ") + wrong, Reply::kBroken;

  CameraRawInfo got;
  got.make.assign(h.makeBytes, '\0');
  got.model.assign(h.modelBytes, '\0');
  got.black.assign(size_t{h.blackRows} * h.blackCols, 0.0f);
  if (!in.read(&got.make[0], got.make.size()) || !in.read(&got.model[0], got.model.size()) ||
      !in.read(got.black.data(), got.black.size() * sizeof(float)))
    return why = "reply cut short", Reply::kBroken;
  for (float b : got.black)
    if (!inRange(b, 0, 65535)) return why = "header: black table", Reply::kBroken;
  DecodedImage image;
  image.width = h.width;
  image.height = h.height;
  image.pitch = h.pitch;
  image.bits = h.imageBits;
  image.channels = 1;
  image.data = allocatePinned(h.imageBytes);
  if (!in.read(image.data.get(), static_cast<size_t>(h.imageBytes))) return why = "reply cut short", Reply::kBroken;
  zeroRowPadding(image.data.get(), image.pitch, 2 * uint64_t{image.width}, image.height);

  for (float b : got.black)
    if (b > float(h.white)) return why = "black level above the white level", Reply::kRefused;
  got.width = h.width;
  got.height = h.height;
  got.bits = h.bits;
  got.pattern = static_cast<opixBayerPattern_t>(h.pattern);
  got.blackRows = h.blackRows;
  got.blackCols = h.blackCols;
  got.perSiteBlack = h.perSiteBlack != 0;
  got.white = h.white;
  std::memcpy(got.colourBlack, h.colourBlack, sizeof got.colourBlack);
  std::memcpy(got.asShot, h.asShot, sizeof got.asShot);
  std::memcpy(got.cameraToSrgb, h.cameraToSrgb, sizeof got.cameraToSrgb);
  out = std::move(image);
  info = std::move(got);
  return Reply::kDecoded;
}

}  // namespace camera_raw

#if OPIX_WITH_LIBRAW

bool cameraRawAvailable() { return true; }

namespace {

using namespace camera_raw;
using Clock = std::chrono::steady_clock;

// The decoder beside the program or the module that holds this code, found
// when it is loaded, before anyone can change the working folder.
std::string decoderBesideThisCode() {
  static const char anchor = 0;
  std::string from;
  Dl_info where;
  if (dladdr(&anchor, &where) && where.dli_fname && std::strchr(where.dli_fname, '/')) {
    from = where.dli_fname;  // a shared module: the Python extension
  } else {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) from.assign(exe, static_cast<size_t>(n));
  }
  if (char* real = realpath(from.c_str(), nullptr)) {
    from = real;
    std::free(real);
  }
  const size_t slash = from.rfind('/');
  return (slash == std::string::npos ? std::string(".") : from.substr(0, slash)) + "/opix_camera_decoder";
}
const std::string kDecoderBesideThisCode = decoderBesideThisCode();

struct Decoder {
  pid_t pid = -1;
  int fd = -1;
  pid_t owner = 0;  // the process that started it
};

std::mutex poolMutex;
std::string decoderProgram;  // empty: kDecoderBesideThisCode
std::atomic<double> decodeSeconds{120.0};
// Idle decoders, kept for the next file. Never destroyed: at exit their
// channels close with the process and they end by themselves.
std::vector<Decoder>& idleDecoders() {
  static auto* idle = new std::vector<Decoder>();
  return *idle;
}
constexpr size_t kMaxIdle = 16;

// Waits for the decoder's end; kills it when it has not ended within `grace`.
int reap(const Decoder& d, Clock::duration grace) {
  const Clock::time_point until = Clock::now() + grace;
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(d.pid, &status, WNOHANG);
    if (r == d.pid) return status;
    if (r < 0 && errno != EINTR) return -1;  // reaped by someone else's SIGCHLD handler
    if (Clock::now() >= until) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(d.pid, SIGKILL);
  while (waitpid(d.pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return status;
}

void stop(Decoder& d, Clock::duration grace) {
  if (d.fd >= 0) close(d.fd);
  if (d.pid > 0 && d.owner == getpid()) reap(d, grace);
  d = Decoder{};
}

bool start(Decoder& d, std::string& why) {
  std::string program;
  {
    std::lock_guard<std::mutex> lock(poolMutex);
    program = decoderProgram.empty() ? kDecoderBesideThisCode : decoderProgram;
  }
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
    return why = std::string("cannot start the camera raw decoder: ") + std::strerror(errno), false;
  // The decoder's end becomes descriptor 3 (duplicated first, in case the
  // pair landed on 0 to 2); 0 to 2 read and write nothing; no other
  // descriptor of this process reaches it; its signals start at their
  // defaults, none blocked.
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, ends[1], kChannelFd);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&files, kChannelFd + 1);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char* argv[] = {&program[0], nullptr};
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, program.c_str(), &files, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&files);
  close(ends[1]);
  if (failed) {
    close(ends[0]);
    return why = "cannot start the camera raw decoder " + program + ": " + std::strerror(failed), false;
  }
  d.pid = pid;
  d.fd = ends[0];
  d.owner = getpid();
  return true;
}

bool acquire(Decoder& d, std::string& why) {
  {
    std::lock_guard<std::mutex> lock(poolMutex);
    auto& idle = idleDecoders();
    while (!idle.empty()) {
      d = idle.back();
      idle.pop_back();
      int status;
      if (d.owner != getpid()) {
        close(d.fd);  // inherited through a fork: the parent's, not ours
      } else if (waitpid(d.pid, &status, WNOHANG) != 0) {
        close(d.fd);  // ended while idle
      } else {
        return true;
      }
    }
  }
  return start(d, why);
}

void release(Decoder& d) {
  {
    std::lock_guard<std::mutex> lock(poolMutex);
    auto& idle = idleDecoders();
    if (idle.size() < kMaxIdle) {
      idle.push_back(d);
      d = Decoder{};
      return;
    }
  }
  stop(d, std::chrono::seconds(2));
}

enum class Channel { kOpen, kEnded, kLate };

// Waits until the channel is ready for `events` before `until`.
Channel await(int fd, short events, Clock::time_point until) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) return Channel::kLate;
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, static_cast<int>(std::min<long long>(left, 60000)));
    if (r > 0) return p.revents & (events | POLLHUP | POLLERR) ? Channel::kOpen : Channel::kEnded;
    if (r < 0 && errno != EINTR) return Channel::kEnded;
  }
}

class SocketSource : public ReplySource {
 public:
  SocketSource(int fd, Clock::time_point until) : fd_(fd), until_(until) {}
  bool read(void* to, size_t n) override {
    return transfer(static_cast<unsigned char*>(to), n, POLLIN,
                    [&](unsigned char* p, size_t left) { return recv(fd_, p, left, 0); });
  }
  bool send(const void* from, size_t n) {
    // MSG_NOSIGNAL: a closed channel ends the send, not the process.
    return transfer(static_cast<const unsigned char*>(from), n, POLLOUT,
                    [&](const unsigned char* p, size_t left) { return ::send(fd_, p, left, MSG_NOSIGNAL); });
  }
  Channel state = Channel::kOpen;

 private:
  // Moves all `n` bytes with `io` (recv or send), waiting for `events`
  // before each call, until the channel ends or time runs out.
  template <class Byte, class Io>
  bool transfer(Byte* p, size_t n, short events, const Io& io) {
    while (n > 0 && state == Channel::kOpen) {
      if ((state = await(fd_, events, until_)) != Channel::kOpen) break;
      const ssize_t done = io(p, n);
      if (done < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (done <= 0) {
        state = Channel::kEnded;
        break;
      }
      p += done;
      n -= static_cast<size_t>(done);
    }
    return n == 0;
  }
  int fd_;
  Clock::time_point until_;
};

std::string signalName(int s) {
  switch (s) {
    case SIGSEGV: return "segmentation fault";
    case SIGABRT: return "aborted";
    case SIGBUS: return "bus error";
    case SIGFPE: return "arithmetic exception";
    case SIGILL: return "illegal instruction";
    case SIGKILL: return "killed";
    default: return "signal " + std::to_string(s);
  }
}

// Sends one request and reads its reply. A decoder that answered stays for
// the next file; one that broke off, ran out of time or broke the protocol
// is stopped, and `why` says what became of it.
bool decodeElsewhere(RequestKind kind, const void* payload, size_t bytes, DecodedImage& out, CameraRawInfo& info,
                     std::string& why) {
  Decoder d;
  if (!acquire(d, why)) return false;
  const double seconds = decodeSeconds.load();
  SocketSource channel(
      d.fd, Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
  RequestHeader request;
  request.kind = kind;
  request.bytes = bytes;
  Reply reply = Reply::kBroken;
  try {
    if (channel.send(&request, sizeof request) && channel.send(payload, bytes))
      reply = readReply(channel, out, info, why);
  } catch (...) {
    stop(d, Clock::duration::zero());  // no room for the mosaic: the rest of the reply is not wanted
    throw;
  }
  if (reply != Reply::kBroken) {
    release(d);
    return reply == Reply::kDecoded;
  }
  if (channel.state == Channel::kLate) {
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g", seconds);
    stop(d, Clock::duration::zero());
    why = std::string("truncated or corrupt file (the camera raw decoder took more than ") + limit +
          " s on it and was stopped)";
  } else if (channel.state == Channel::kEnded) {
    close(d.fd);
    d.fd = -1;
    const int status = reap(d, std::chrono::seconds(2));
    d = Decoder{};
    if (status >= 0 && WIFSIGNALED(status))
      why = "truncated or corrupt file (the camera raw decoder crashed on it: " + signalName(WTERMSIG(status)) + ")";
    else if (status >= 0 && WIFEXITED(status))
      why = "truncated or corrupt file (the camera raw decoder ended on it with status " +
            std::to_string(WEXITSTATUS(status)) + ")";
    else
      why = "truncated or corrupt file (the camera raw decoder ended on it)";
  } else {
    stop(d, Clock::duration::zero());
    why = "the camera raw decoder answered out of protocol (" + why + ")";
  }
  return false;
}

}  // namespace

void setCameraRawDecoder(const std::string& program, double seconds) {
  std::vector<Decoder> idle;
  {
    std::lock_guard<std::mutex> lock(poolMutex);
    decoderProgram = program;
    idle.swap(idleDecoders());
  }
  decodeSeconds = seconds > 0 ? seconds : 120.0;
  for (Decoder& d : idle) stop(d, std::chrono::seconds(2));
}

bool readCameraRawBuffer(const void* data, size_t size, DecodedImage& out, CameraRawInfo& info, std::string& why) {
  if (size > kMaxFileBytes) return why = "image too large", false;
  return decodeElsewhere(kDecodeBuffer, data, size, out, info, why);
}

bool readCameraRawFile(const std::string& path, DecodedImage& out, CameraRawInfo& info, std::string& why) {
  // The decoder may have started in another working folder.
  std::string absolute = path;
  if (!path.empty() && path[0] != '/') {
    char here[PATH_MAX];
    if (getcwd(here, sizeof here)) absolute = std::string(here) + "/" + path;
  }
  if (absolute.size() > kMaxPathBytes) return why = "path too long", false;
  return decodeElsewhere(kDecodeFile, absolute.data(), absolute.size(), out, info, why);
}

#else

bool cameraRawAvailable() { return false; }

void setCameraRawDecoder(const std::string&, double) {}

bool readCameraRawBuffer(const void*, size_t, DecodedImage&, CameraRawInfo&, std::string& why) {
  why = "camera raw input needs LibRaw";
  return false;
}

bool readCameraRawFile(const std::string&, DecodedImage&, CameraRawInfo&, std::string& why) {
  why = "camera raw input needs LibRaw";
  return false;
}

#endif

}  // namespace opix
