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
  const sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([this] { Wait(); }).detach();
}

void StopSignals::Wait() {
  const sigset_t set = StopSet();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (!stop_) {
      signal_ = signal;
      stop_ = true;
      Say("\n" + program_ + ": " + SignalName(signal) +
          ": stopping at the end of the running generation (Ctrl+C again stops at once)\n");
      continue;
    }
    OutputFile::CutAllBack();
    Say(program_ + ": stopped at once; the files hold complete records only\n");
    ::_exit(StopStatus(signal_));
  }
}

}  // namespace talveron::batch
