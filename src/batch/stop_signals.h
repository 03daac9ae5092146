// Ctrl+C, SIGTERM and SIGHUP for the command-line programs: the first asks
// the run to stop at the end of the running generation, a second ends the
// process at once, with every output cut back to its complete records.
// A write to a pipe whose reader has gone, or beyond a file-size limit
// (ulimit -f), is an error like any other, not a silent death by SIGPIPE
// or SIGXFSZ.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace talveron::batch {

class StopSignals {
 public:
  // Construct before any other thread starts: the signals are blocked in
  // every thread and taken by one of their own. Destroy after everything
  // the run made: from then on a signal is left pending and the process
  // ends with the status it has.
  explicit StopSignals(std::string program);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  const std::atomic<bool>& flag() const { return stop_; }
  // The signal that asked to stop, 0 when none did.
  int signal() const { return signal_; }
  // Says nothing on a signal: for processes that serve another, which
  // speaks for them.
  void Quiet() { quiet_ = true; }

 private:
  void Wait();

  std::string program_;
  std::atomic<bool> stop_{false};
  std::atomic<int> signal_{0};
  std::atomic<bool> ending_{false};
  std::atomic<bool> quiet_{false};
  std::thread thread_;
};

// The exit status of a run stopped by `signal`: 130 for SIGINT, 143 otherwise.
int StopStatus(int signal);
const char* SignalName(int signal);

}  // namespace talveron::batch
