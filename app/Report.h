// GPU time per stage of one processing pass, the lines printed per
// repetition and the summary after the last image.
#pragma once

#include <cstdint>

#include "opix.h"

namespace opix::app {

class Report {
 public:
  explicit Report(bool info);
  ~Report();
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  enum Stage { Import, Sam, WhiteBalance, Export, Converter, Debayer, kStages };

  // Brackets a stage with its timer when that timer exists (the debayer's
  // always does, the others with `info`).
  void start(Stage s);
  // Stops the stage's timer and returns the elapsed milliseconds, added to
  // the total; 0 without a timer.
  float stop(Stage s) {
    end(s);
    return elapsed(s);
  }
  // The two halves of stop: end records the stop where the work was issued,
  // elapsed waits for it. Reading later spares the host a wait in the chain.
  void end(Stage s);
  float elapsed(Stage s);
  // Whether the stage's timer was stopped and not read since.
  bool pending(Stage s) const { return pending_[s]; }
  // Records the timers' events on `stream` (null: the SDK stream).
  void setStream(opixStream_t stream);
  void addDebayerTime(float ms);
  void addPixels(double pixels) { pixels_ += pixels; }
  bool timed(Stage s) const { return timers_[s] != nullptr; }

  // The summary lines for `count` images (repetitions included); none when
  // no pixel was processed.
  void printSummary(uint32_t count) const;
  // The host's wall-clock time of the processing with `threads` threads,
  // from the first host-to-device copy to the last device-to-host copy.
  void printCpuTime(uint32_t count, uint32_t threads, double ms) const;
  // Adds another thread's times and pixels to these.
  void merge(const Report& other);

 private:
  bool info_;
  opixGpuTimerHandle_t timers_[kStages] = {};
  bool pending_[kStages] = {};
  float total_ = 0;
  float debayerSum_ = 0;
  float debayerMin_ = 99999.0f;
  float debayerMax_ = -99999.0f;
  double pixels_ = 0;
};

}  // namespace opix::app
