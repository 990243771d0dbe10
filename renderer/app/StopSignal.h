#pragma once

namespace vistrel {

// SIGTERM and SIGINT ask the run to stop: the batch finishes the image in
// hand, writes the report of what is done and the program exits with 5.
// SIGPIPE is ignored, so a closed standard output (Vistrel cfg | head) does
// not end the run; the log file goes on.
void installSignalHandlers();

// True once SIGTERM or SIGINT has arrived (or requestStop was called).
bool stopRequested();
void requestStop();

// The one stop check of a run: true once a stop signal has arrived, which
// `stopped` then keeps (a stop seen once holds for the rest of the run).
bool stopArrived(bool& stopped);
// Logs that the run ends early on a stop signal (a WARN).
void logStopped();

}  // namespace vistrel
