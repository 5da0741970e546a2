// A one-line progress indicator for batches, on standard error, shown only
// when standard error is a terminal: a pipe or a log file never gets it, and
// standard output keeps its texts.
#pragma once

#include <cstddef>

namespace opix::app {

// Shows "Processed 0 of N images" for a batch of more than one image when
// standard error is a terminal; nothing otherwise.
void progressStart(size_t total);
// One more image done (processed or skipped): the line shows the new count.
void progressStep();
// Takes the line off the screen before other console text; the next step
// shows it again.
void progressHide();
// Takes the line away for good.
void progressEnd();

}  // namespace opix::app
