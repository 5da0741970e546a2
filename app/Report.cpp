#include "Report.h"

#include <algorithm>
#include <cstdio>

namespace opix::app {

Report::Report(bool info) : info_(info) {
  opixGpuTimerCreate(&timers_[Debayer]);
  if (info)
    for (Stage s : {Import, Sam, WhiteBalance, Export, Converter}) opixGpuTimerCreate(&timers_[s]);
}

Report::~Report() {
  for (opixGpuTimerHandle_t t : timers_) opixGpuTimerDestroy(t);
}

void Report::start(Stage s) {
  if (timers_[s]) opixGpuTimerStart(timers_[s]);
}

void Report::end(Stage s) {
  if (!timers_[s]) return;
  opixGpuTimerStop(timers_[s]);
  pending_[s] = true;
}

float Report::elapsed(Stage s) {
  if (!timers_[s]) return 0;
  pending_[s] = false;
  float ms = 0;
  opixGpuTimerGetTime(timers_[s], &ms);
  total_ += ms;
  return ms;
}

void Report::setStream(opixStream_t stream) {
  for (opixGpuTimerHandle_t t : timers_)
    if (t) opixGpuTimerSetStream(t, stream);
}

void Report::addDebayerTime(float ms) {
  debayerSum_ += ms;
  debayerMin_ = std::min(ms, debayerMin_);
  debayerMax_ = std::max(ms, debayerMax_);
}

void Report::merge(const Report& other) {
  total_ += other.total_;
  debayerSum_ += other.debayerSum_;
  debayerMin_ = std::min(debayerMin_, other.debayerMin_);
  debayerMax_ = std::max(debayerMax_, other.debayerMax_);
  pixels_ += other.pixels_;
}

void Report::printCpuTime(uint32_t count, uint32_t threads, double ms) const {
  if (pixels_ == 0 || ms <= 0) return;
  std::printf(
      "Processing time on CPU for %d images with %d threads including all transfers = %.2f ms; %.0f "
      "MPixel/s;  %.0f FPS\n",
      int(count), int(threads), ms, pixels_ / (ms * 1000.0), double(count) * 1000.0 / ms);
}

void Report::printSummary(uint32_t count) const {
  if (pixels_ == 0) return;  // nothing was processed: there is no rate to give
  auto mpixels = [&](float t) { return pixels_ / (double(t) * 1000.0); };
  auto fps = [&](float t) { return double(count) * 1000.0 / double(t); };
  if (info_) {
    std::printf("Processing time on GPU for %d images including all transfers = %.2f ms; %.0f MPixel/s;  %.0f FPS\n",
                int(count), double(total_), mpixels(total_), fps(total_));
    std::printf(
        "Processing time on GPU for %d images excluding host-to-device and device-to-host transfers: average = %.3f "
        "ms (%.0f MPixel/s;  %.0f FPS), min = %.3f ms, max = %.3f ms\n",
        int(count), double(debayerSum_ / float(count)), mpixels(debayerSum_), fps(debayerSum_), double(debayerMin_),
        double(debayerMax_));
  } else {
    std::printf(
        "Processing time on GPU for %d images excluding host-to-device and device-to-host transfers = %.2f ms; %.0f "
        "MPixel/s;  %.0f FPS\n",
        int(count), double(total_), mpixels(total_), fps(total_));
  }
}

}  // namespace opix::app
