#include "Progress.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace opix::app {

namespace {

std::mutex gLock;
bool gActive = false;
bool gShown = false;
size_t gDone = 0, gTotal = 0;

// "\r\033[K": back to the start of the line and clear it.
void clearLine() {
  if (gShown) std::fputs("\r\033[K", stderr);
  gShown = false;
}

}  // namespace

void progressStart(size_t total) {
  std::lock_guard<std::mutex> lock(gLock);
  gActive = total > 1 && isatty(STDERR_FILENO) == 1;
  gDone = 0;
  gTotal = total;
  gShown = false;
}

void progressStep() {
  std::lock_guard<std::mutex> lock(gLock);
  if (!gActive) return;
  ++gDone;
  clearLine();
  std::fprintf(stderr, "Processed %zu of %zu images", gDone, gTotal);
  std::fflush(stderr);
  gShown = true;
}

void progressHide() {
  std::lock_guard<std::mutex> lock(gLock);
  clearLine();
  std::fflush(stderr);
}

void progressEnd() {
  std::lock_guard<std::mutex> lock(gLock);
  clearLine();
  std::fflush(stderr);
  gActive = false;
}

}  // namespace opix::app
