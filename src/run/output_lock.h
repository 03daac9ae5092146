// One writer per output. Before a series writes FILE it takes FILE.lock
// beside it, and a study takes DIR/study.lock in its folder: an advisory
// lock (flock) held on the open file for as long as the process writes, so
// a second run on the same output is refused before it writes anything,
// and a killed process leaves no lock behind that counts (the system
// releases it with the process). The lock file holds the process id of its
// holder, for the refusal to name, and is removed when the lock is given
// back.
#pragma once

#include <stdexcept>
#include <string>

namespace talveron {

// Another process holds the lock: the message names it.
class OutputBusy : public std::runtime_error {
 public:
  explicit OutputBusy(const std::string& holder)
      : std::runtime_error(holder), holder_(holder) {}
  // "process 1234 (talveron-batch on host)", or "another process" when it
  // could not be read.
  const std::string& holder() const { return holder_; }

 private:
  std::string holder_;
};

class OutputLock {
 public:
  // Creates `lockPath` when missing and takes its lock; throws OutputBusy
  // when another process holds it, FileError (naming `shownPath`) when the
  // lock file cannot be made.
  OutputLock(const std::string& lockPath, const std::string& shownPath, const std::string& program);
  // Removes the lock file and gives the lock back.
  ~OutputLock();
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

  const std::string& path() const { return path_; }

  // Also holds the lock of the file `outputPath` itself when it exists (a
  // regular file), as OutputFile does for the file it writes: a hard link
  // to a file another process writes or replaces is refused like a
  // symbolic link to it (OutputBusy).
  void ClaimFile(const std::string& outputPath);

 private:
  std::string path_;
  int fd_ = -1;
  int fileFd_ = -1;
};

// Empty, or why `path` may not name an output: a name ending in ".partial"
// or ".lock" (as given or where its symbolic links lead) is the working or
// lock file of another output, FILE.partial or FILE.lock.
std::string WorkingFileName(const std::string& path);

// The lock file of a series' output FILE: FILE.lock beside the file FILE
// leads to; empty for devices, pipes and open descriptors (/dev/stdout),
// which are not replaced and take no lock.
std::string SeriesLockPath(const std::string& outputPath);

// The name of a study folder's lock file.
inline constexpr const char* kStudyLockName = "study.lock";

// The one spelling of a path that names the same file whichever way it is
// written: absolute, symbolic links followed (to files not yet made too),
// ".", ".." and "//" resolved. Never throws.
std::string NormalPath(const std::string& path);

// Throws FileError with the reason when the path itself cannot be used for
// writing: a folder on it that may not be searched, a name too long, a
// loop of symbolic links. A path that does not exist yet is fine.
void CheckPathUsable(const std::string& path);

// Throws FileError when `path` is an existing regular file that may not be
// written (read-only, or by permissions not this user's to write): it is
// not replaced behind its owner's back.
void CheckReplaceable(const std::string& path);

}  // namespace talveron
