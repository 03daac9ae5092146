// The batch command as a process of its own, for what only a process shows:
// signals, a file size limit, a closed pipe, a folder of files left by a
// run that was killed.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace talveron::batch::testing {

inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteAll(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

struct ChildSetup {
  std::string stdoutPath = "/dev/null";  // where standard output goes
  bool stdoutToClosedPipe = false;       // a pipe that no one reads
  bool stdoutToStalledPipe = false;      // a pipe kept open that no one reads from
  long fileSizeLimit = 0;                // RLIMIT_FSIZE in bytes; 0: none
  long openFilesLimit = 0;               // RLIMIT_NOFILE; 0: as it is
};

class BatchChild {
 public:
  // Starts the batch command with `args`; its standard error goes to
  // `logPath`.
  BatchChild(const std::vector<std::string>& args, std::string logPath, const ChildSetup& setup = {})
      : logPath_(std::move(logPath)) {
    std::vector<std::string> words = {TALVERON_BATCH_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    int pipeEnds[2] = {-1, -1};
    const bool toPipe = setup.stdoutToClosedPipe || setup.stdoutToStalledPipe;
    if (toPipe) {
      if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return;
      if (setup.stdoutToClosedPipe) {
        ::close(pipeEnds[0]);  // before the child exists: no reader, ever
      } else {
        stalledReader_ = pipeEnds[0];
      }
    }
    pid_ = ::fork();
    if (pid_ != 0) {
      if (pipeEnds[1] >= 0) ::close(pipeEnds[1]);
      return;
    }
    // The child: only calls that are safe after fork.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const int stop : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGPIPE}) ::signal(stop, SIG_DFL);
    const int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int out = toPipe
                        ? pipeEnds[1]
                        : ::open(setup.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log < 0 || out < 0) ::_exit(126);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(log, STDERR_FILENO);
    if (setup.fileSizeLimit > 0) {
      const rlimit limit = {static_cast<rlim_t>(setup.fileSizeLimit),
                            static_cast<rlim_t>(setup.fileSizeLimit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (setup.openFilesLimit > 0) {
      const rlimit limit = {static_cast<rlim_t>(setup.openFilesLimit), static_cast<rlim_t>(setup.openFilesLimit)};
      ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ~BatchChild() {
    if (pid_ > 0 && status_ == kRunning) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stalledReader_ >= 0) ::close(stalledReader_);
  }
  BatchChild(const BatchChild&) = delete;
  BatchChild& operator=(const BatchChild&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Whether the child waits to write to the stalled pipe: the pipe holds
  // much and a thread of the child sleeps in a write.
  bool StuckOnPipe() const {
    int bytes = 0;
    if (stalledReader_ < 0 || ::ioctl(stalledReader_, FIONREAD, &bytes) != 0) return false;
    if (bytes < ::fcntl(stalledReader_, F_GETPIPE_SZ) / 2) return false;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid_) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
      const std::string wchan = ReadAll(task.path() / "wchan");
      std::istringstream syscall(ReadAll(task.path() / "syscall"));
      std::string number;
      syscall >> number;
      if (wchan.find("pipe_write") != std::string::npos || number == std::to_string(SYS_write)) return true;
    }
    return false;
  }

  // Polls `ready` until it holds; false when the child ended first or
  // `seconds` passed.
  bool WaitUntil(const std::function<bool()>& ready, double seconds = 60) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      if (ready()) return true;
      if (Ended()) return ready();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }

  bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }

  void Signal(int signal) const { ::kill(pid_, signal); }

  // The exit status, 128 + N after a death by signal N, or -1 when the
  // child had not ended after `seconds` (it is then killed).
  int Finish(double seconds = 60) {
    WaitUntil([this] { return Ended(); }, seconds);
    if (status_ == kRunning) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      status_ = -1;
    }
    return status_;
  }

  std::string Log() const { return ReadAll(logPath_); }

  // The child's peak resident memory in kilobytes, once it has ended.
  long PeakKilobytes() const { return peakKilobytes_; }

 private:
  static constexpr int kRunning = -2;

  bool Ended() {
    if (status_ != kRunning) return true;
    int raw = 0;
    rusage usage {};
    if (::wait4(pid_, &raw, WNOHANG, &usage) != pid_) return false;
    peakKilobytes_ = usage.ru_maxrss;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return true;
  }

  std::string logPath_;
  pid_t pid_ = -1;
  int status_ = kRunning;
  int stalledReader_ = -1;
  long peakKilobytes_ = 0;
};

// Runs the batch command to its end: exit status and standard error.
inline std::pair<int, std::string> RunChild(const std::vector<std::string>& args, const std::string& logPath,
                                            const ChildSetup& setup = {}, double seconds = 60) {
  BatchChild child(args, logPath, setup);
  const int status = child.Finish(seconds);
  return {status, child.Log()};
}

}  // namespace talveron::batch::testing
