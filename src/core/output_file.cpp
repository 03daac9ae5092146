#include "core/output_file.h"

#include <stdio_ext.h>
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

bool IsSpecialFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

std::string Reason(int error) { return std::strerror(error != 0 ? error : EIO); }

}  // namespace

std::string PartialPath(const std::string& path) { return path + ".partial"; }

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  direct_ = IsSpecialFile(path_);
  writtenPath_ = direct_ ? path_ : PartialPath(path_);
  if (!direct_ && std::filesystem::is_directory(path_)) throw FileError(path_, "Is a directory");
  file_ = std::fopen(writtenPath_.c_str(), direct_ ? "ab" : "wb");
  if (file_ == nullptr) throw FileError(path_, Reason(errno));
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
  std::lock_guard lock(gRegistryMutex);
  Registry().push_back(this);
}

OutputFile::~OutputFile() {
  if (file_ != nullptr) Abandon();
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

void OutputFile::Commit() {
  if (file_ == nullptr) return;  // failed or abandoned: nothing to put in place
  Sync();
  MarkComplete();
  {
    std::lock_guard registry(gRegistryMutex);
    auto& all = Registry();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
  }
  std::lock_guard lock(mutex_);
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0) throw FileError(writtenPath_, Reason(errno));
  if (!direct_ && std::rename(writtenPath_.c_str(), path_.c_str()) != 0) throw FileError(path_, Reason(errno));
  committed_ = true;
}

void OutputFile::Abandon() {
  {
    std::lock_guard registry(gRegistryMutex);
    auto& all = Registry();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
  }
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

void OutputFile::Fail(int error) {
  const std::string reason = Reason(error);
  CutBackLocked();
  std::fclose(file_);
  file_ = nullptr;
  {
    std::lock_guard registry(gRegistryMutex);
    auto& all = Registry();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
  }
  throw FileError(direct_ ? path_ : writtenPath_, reason);
}

void OutputFile::CutAllBack() {
  std::lock_guard registry(gRegistryMutex);
  for (OutputFile* output : Registry()) {
    // Left locked on purpose: the process ends right after, and no write
    // may follow the cut.
    output->mutex_.lock();
    if (output->file_ != nullptr && !output->direct_) {
      if (::ftruncate(::fileno(output->file_), output->completeLength_.load()) != 0) {
        // As above: the complete records stay whatever happens here.
      }
    }
  }
}

bool SameFile(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path canonicalA = fs::weakly_canonical(fs::absolute(a), error);
  const fs::path canonicalB = fs::weakly_canonical(fs::absolute(b), error);
  if (!error && canonicalA == canonicalB) return true;
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
    if (!IsSpecialFile(path)) names.push_back({PartialPath(path), PartialPath(path) + " (written while " + path + " runs)"});
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (std::size_t j = i + 1; j < names.size(); ++j) {
      // A file's own partial name never collides with itself.
      if (j == i + 1 && names[j].path == PartialPath(names[i].path)) continue;
      if (IsSpecialFile(names[i].path) && IsSpecialFile(names[j].path)) continue;
      if (SameFile(names[i].path, names[j].path)) {
        return "'" + names[i].shown + "' and '" + names[j].shown + "' are the same file";
      }
    }
  }
  return {};
}

}  // namespace talveron
