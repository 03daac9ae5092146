#include "record/output_file.h"

#include <stdio_ext.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace talveron {
namespace {

// Every output not yet committed or abandoned, for CutAllBack.
std::mutex gRegistryMutex;
std::vector<OutputFile*>& Registry() {
  static std::vector<OutputFile*> registry;
  return registry;
}
std::vector<std::string>& Scratch() {
  static std::vector<std::string> scratch;
  return scratch;
}

namespace fs = std::filesystem;

// A link to an open descriptor (/dev/stdout, /dev/fd/1, /proc/self/fd/1)
// stands for whatever file is open there, a regular one included.
bool ThroughDescriptor(const std::string& path) {
  std::error_code error;
  fs::path at = fs::absolute(path, error);
  for (int link = 0; link < 40 && !error; ++link) {
    const std::string folder = fs::weakly_canonical(at.parent_path(), error).string();
    if (folder.rfind("/proc/", 0) == 0 && folder.size() > 3 && folder.compare(folder.size() - 3, 3, "/fd") == 0) {
      return true;
    }
    if (!fs::is_symlink(at, error)) return false;
    const fs::path target = fs::read_symlink(at, error);
    at = target.is_absolute() ? target : at.parent_path() / target;
  }
  return false;
}

// Devices, pipes and open descriptors are written directly.
bool IsSpecialFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) return true;
  return ThroughDescriptor(path);
}

std::string Reason(int error) { return std::strerror(error != 0 ? error : EIO); }

// The file a path leads to through symbolic links, even a link to a file
// not yet made: writing beside the link and renaming over it would replace
// the link instead of its target.
std::string ResolveLinks(const std::string& path) {
  fs::path target = path;
  std::error_code error;
  for (int hops = 0; hops < 40 && fs::is_symlink(target, error); ++hops) {
    const fs::path link = fs::read_symlink(target, error);
    if (error) break;
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  return target.string();
}

}  // namespace

std::string PartialPath(const std::string& path) { return path + ".partial"; }

std::string LinkTarget(const std::string& path) { return ResolveLinks(path); }

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  direct_ = IsSpecialFile(path_);
  target_ = ResolveLinks(path_);
  writtenPath_ = direct_ ? path_ : PartialPath(target_);
  std::error_code unknown;  // a name too long is told by fopen below
  if (!direct_ && std::filesystem::is_directory(path_, unknown)) throw FileError(path_, "Is a directory");
  // A partial file left by a run before may be a link to a file of
  // someone else's, or share its data with one: it is made anew, never
  // written through.
  struct stat left {};
  if (!direct_ && ::lstat(writtenPath_.c_str(), &left) == 0 &&
      (S_ISLNK(left.st_mode) || (S_ISREG(left.st_mode) && left.st_nlink > 1))) {
    ::unlink(writtenPath_.c_str());
  }
  file_ = std::fopen(writtenPath_.c_str(), direct_ ? "ab" : "wb");
  if (file_ == nullptr) throw FileError(path_, Reason(errno));
  // Locked as the output's lock file is: another run that names this file
  // under another name (a hard link) is refused.
  if (!direct_) static_cast<void>(::flock(::fileno(file_), LOCK_EX | LOCK_NB));
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
  std::lock_guard lock(gRegistryMutex);
  Registry().push_back(this);
}

OutputFile::~OutputFile() { Abandon(); }

void OutputFile::Deregister() {
  std::lock_guard registry(gRegistryMutex);
  auto& all = Registry();
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

void OutputFile::Write(std::string_view text) {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) Fail(errno);
  written_ += static_cast<long>(text.size());
}

void OutputFile::Sync() {
  std::lock_guard lock(mutex_);
  if (file_ != nullptr && std::fflush(file_) != 0) Fail(errno);
}

void OutputFile::MarkComplete() { completeLength_ = written_; }

// A second Ctrl+C cuts every output back under the registry's lock, so
// outputs marked together are cut back to the same record.
void OutputFile::MarkTogether(std::initializer_list<OutputFile*> outputs) {
  std::lock_guard registry(gRegistryMutex);
  for (OutputFile* output : outputs) {
    if (output != nullptr) output->MarkComplete();
  }
}

void OutputFile::Close() {
  if (file_ == nullptr) return;  // failed or abandoned
  Sync();
  MarkComplete();
  Deregister();
  std::lock_guard lock(mutex_);
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0) throw FileError(writtenPath_, Reason(errno));
  closed_ = true;
}

void OutputFile::Commit() {
  Close();
  if (!closed_ || committed_) return;  // failed or abandoned: nothing to put in place
  if (!direct_ && std::rename(writtenPath_.c_str(), target_.c_str()) != 0) throw FileError(path_, Reason(errno));
  committed_ = true;
}

void OutputFile::Abandon() {
  Deregister();
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return;
  CutBackLocked();
  std::fclose(file_);
  file_ = nullptr;
}

// Drops what stdio holds and cuts the file to its last complete record. A
// device or pipe cannot be cut back; what it took is beyond reach.
// Complete records have always been synced before they were marked, so what
// stdio still buffers is never part of one: it is dropped, not written.
void OutputFile::CutBackLocked() {
  __fpurge(file_);
  if (!direct_ && ::ftruncate(::fileno(file_), completeLength_.load()) != 0) {
    // Nothing more can be done; the records before the cut are intact.
  }
  written_ = completeLength_;
}

// Called with the file's lock held; the registry forgets the file when it
// is destroyed or abandoned, never here, so the two locks are always taken
// in one order (registry, then file).
void OutputFile::Fail(int error) {
  const std::string reason = Reason(error);
  CutBackLocked();
  std::fclose(file_);
  file_ = nullptr;
  throw FileError(direct_ ? path_ : writtenPath_, reason);
}

// A device or pipe is never cut back, and a write to a pipe that nobody
// reads never returns: its lock is not waited for.
void OutputFile::AddScratch(const std::string& path) {
  std::lock_guard registry(gRegistryMutex);
  Scratch().push_back(path);
}

void OutputFile::ForgetScratch(const std::string& path) {
  std::lock_guard registry(gRegistryMutex);
  auto& all = Scratch();
  all.erase(std::remove(all.begin(), all.end(), path), all.end());
}

void OutputFile::CutAllBack() {
  std::lock_guard registry(gRegistryMutex);
  for (const std::string& path : Scratch()) ::unlink(path.c_str());
  for (OutputFile* output : Registry()) {
    if (output->direct_) continue;
    // Left locked on purpose: the process ends right after, and no write
    // may follow the cut.
    output->mutex_.lock();
    if (output->file_ != nullptr) {
      if (::ftruncate(::fileno(output->file_), output->completeLength_.load()) != 0) {
        // As above: the complete records stay whatever happens here.
      }
    }
  }
}

void PutInPlace(const std::vector<PendingFile>& files) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (std::rename(files[i].working.c_str(), files[i].target.c_str()) == 0) continue;
    std::string reason = "cannot put " + files[i].working + " in place: " + Reason(errno);
    auto list = [&files](std::size_t from, std::size_t to, bool working) {
      std::string names;
      for (std::size_t f = from; f < to; ++f) {
        names += (names.empty() ? "" : ", ") + (working ? files[f].working : files[f].shown);
      }
      return names;
    };
    if (i > 0) reason += "; in place already: " + list(0, i, false);
    reason += "; still under their working names: " + list(i, files.size(), true);
    throw FileError(files[i].shown, reason);
  }
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code errorA;
  std::error_code errorB;
  // Absolute first: a relative path whose first part does not exist yet
  // ("a.txt") would stay relative, and differ from "./a.txt".
  const fs::path canonicalA = fs::weakly_canonical(fs::absolute(ResolveLinks(a), errorA), errorA);
  const fs::path canonicalB = fs::weakly_canonical(fs::absolute(ResolveLinks(b), errorB), errorB);
  if (!errorA && !errorB && canonicalA == canonicalB) return true;
  struct stat infoA {};
  struct stat infoB {};
  return ::stat(a.c_str(), &infoA) == 0 && ::stat(b.c_str(), &infoB) == 0 && infoA.st_dev == infoB.st_dev &&
         infoA.st_ino == infoB.st_ino;
}

std::string OutputCollision(const std::vector<std::string>& paths) {
  struct Name {
    std::string path;
    std::string shown;
  };
  std::vector<Name> names;
  for (const std::string& path : paths) {
    names.push_back({path, path});
    if (!IsSpecialFile(path)) {
      names.push_back({PartialPath(ResolveLinks(path)), PartialPath(path) + " (written while " + path + " runs)"});
    }
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (std::size_t j = i + 1; j < names.size(); ++j) {
      // A file's own partial name never collides with itself.
      if (j == i + 1 && names[j].path == PartialPath(ResolveLinks(names[i].path))) continue;
      if (IsSpecialFile(names[i].path) && IsSpecialFile(names[j].path)) continue;
      if (SameFile(names[i].path, names[j].path)) {
        return "'" + names[i].shown + "' and '" + names[j].shown + "' are the same file";
      }
    }
  }
  return {};
}

}  // namespace talveron
