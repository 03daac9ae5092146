#include "batch/stop_signals.h"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "record/output_file.h"

namespace talveron::batch {
namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

void Say(const std::string& text) {
  const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
  (void)written;  // nowhere left to report to
}

}  // namespace

int StopStatus(int signal) { return signal == SIGINT ? 130 : 143; }

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
  }
}

StopSignals::StopSignals(std::string program) : program_(std::move(program)) {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
  const sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  thread_ = std::thread([this] { Wait(); });
}

// The thread reads the program's name and the registry of outputs, both
// gone once main has returned: it ends first. A signal on its way is told
// apart from this wake-up by the flag.
StopSignals::~StopSignals() {
  ending_ = true;
  pthread_kill(thread_.native_handle(), SIGTERM);
  thread_.join();
}

void StopSignals::Wait() {
  const sigset_t set = StopSet();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (ending_) return;
    if (!stop_) {
      signal_ = signal;
      stop_ = true;
      if (!quiet_) Say("\n" + program_ + ": " + SignalName(signal) +
          ": stopping at the end of the running generation (Ctrl+C again stops at once)\n");
      continue;
    }
    OutputFile::CutAllBack();
    if (!quiet_) Say(program_ + ": stopped at once; the files hold complete records only\n");
    ::_exit(StopStatus(signal_));
  }
}

}  // namespace talveron::batch
