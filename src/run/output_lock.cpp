#include "run/output_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "record/data_file.h"

namespace talveron {
namespace {

namespace fs = std::filesystem;

std::string Reason(int error) { return std::strerror(error != 0 ? error : EIO); }

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

// What the holder wrote: "1234 talveron-batch host". A holder that has
// just taken the lock may not have written yet: wait a moment for it.
std::string ReadHolder(int fd) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    char buffer[512] = {};
    const ssize_t got = ::pread(fd, buffer, sizeof buffer - 1, 0);
    std::string text(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    const std::size_t end = text.find('\n');
    if (end != std::string::npos) {
      text.resize(end);
      const std::size_t space = text.find(' ');
      if (space == std::string::npos) return "process " + text;
      std::string rest = text.substr(space + 1);
      const std::size_t second = rest.find(' ');
      if (second != std::string::npos) rest = rest.substr(0, second) + " on " + rest.substr(second + 1);
      return "process " + text.substr(0, space) + " (" + rest + ")";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return "another process";
}

bool IsLinkThroughProc(const fs::path& absolute) {
  const std::string text = absolute.lexically_normal().string();
  return text.rfind("/dev/", 0) == 0 || text.rfind("/proc/", 0) == 0;
}

}  // namespace

OutputLock::OutputLock(const std::string& lockPath, const std::string& shownPath, const std::string& program)
    : path_(lockPath) {
  // The file may be removed by the holder between our open and our lock:
  // then the lock is on a file no one else will find, so try again.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) throw FileError(shownPath, Reason(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      if (error == EWOULDBLOCK) {
        const std::string holder = ReadHolder(fd);
        ::close(fd);
        throw OutputBusy(holder);
      }
      ::close(fd);
      throw FileError(shownPath, "cannot lock " + path_ + ": " + Reason(error));
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) != 0 || ::stat(path_.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino) {
      ::close(fd);
      continue;
    }
    const std::string host = HostName();
    const std::string holder = std::to_string(::getpid()) + " " + program + (host.empty() ? "" : " " + host) + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, holder.data(), holder.size(), 0) != static_cast<ssize_t>(holder.size())) {
      const int error = errno;
      ::unlink(path_.c_str());
      ::close(fd);
      throw FileError(shownPath, "cannot write " + path_ + ": " + Reason(error));
    }
    fd_ = fd;
    return;
  }
  throw FileError(shownPath, "cannot lock " + path_ + ": it keeps being removed");
}

void OutputLock::ClaimFile(const std::string& outputPath) {
  struct stat info {};
  if (::stat(outputPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  const int fd = ::open(outputPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;  // unreadable: it is replaced, never opened for writing
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    throw OutputBusy("another process, under another name (a hard link to the file it writes)");
  }
  if (fileFd_ >= 0) ::close(fileFd_);
  fileFd_ = fd;
}

std::string WorkingFileName(const std::string& path) {
  for (const std::string& name : {fs::path(path).filename().string(), fs::path(NormalPath(path)).filename().string()}) {
    for (const std::string suffix : {".partial", ".lock"}) {
      if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
        const std::string owner = name.substr(0, name.size() - suffix.size());
        return "a name ending in " + suffix + " is the " + (suffix == ".lock" ? "lock" : "working") +
               " file of an output (" + owner + "), not an output of its own; choose another name";
      }
    }
  }
  return "";
}

OutputLock::~OutputLock() {
  if (fileFd_ >= 0) ::close(fileFd_);
  if (fd_ < 0) return;
  // Removed while still held: whoever opened it meanwhile finds, once it
  // has the lock, that the name leads elsewhere and starts again.
  ::unlink(path_.c_str());
  ::close(fd_);
}

std::string NormalPath(const std::string& path) {
  std::error_code error;
  fs::path at = fs::absolute(path, error);
  if (error) return fs::path(path).lexically_normal().string();
  for (int hops = 0; hops < 40; ++hops) {
    if (!fs::is_symlink(at, error) || error) break;
    const fs::path target = fs::read_symlink(at, error);
    if (error) break;
    at = target.is_absolute() ? target : at.parent_path() / target;
  }
  error.clear();
  const fs::path normal = fs::weakly_canonical(at, error);
  if (error) return at.lexically_normal().string();
  return normal.lexically_normal().string();
}

std::string SeriesLockPath(const std::string& outputPath) {
  std::error_code error;
  const fs::path absolute = fs::absolute(outputPath, error);
  if (!error && IsLinkThroughProc(absolute)) return "";
  struct stat info {};
  if (::stat(outputPath.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) return "";
  const std::string normal = NormalPath(outputPath);
  if (IsLinkThroughProc(normal)) return "";
  return normal + ".lock";
}

void CheckPathUsable(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 || errno == ENOENT) {
    // The folder it would be made in must be reachable too; a missing one is
    // reported when the file is made.
    return;
  }
  throw FileError(path, Reason(errno));
}

void CheckReplaceable(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  // Whoever may write anything may write a file no one may write: the
  // permission bits still say "read-only", and that is respected.
  if (::access(path.c_str(), W_OK) != 0 || (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    throw FileError(path, "the file is read-only (not replaced; make it writable or choose another file)");
  }
}

}  // namespace talveron
