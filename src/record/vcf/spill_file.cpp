#include "record/vcf/spill_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "record/data_file.h"

namespace talveron {
namespace {

constexpr std::size_t kPart = 1 << 16;

}  // namespace

SpillFile::SpillFile(std::vector<std::string> folders) : folders_(std::move(folders)) {}

SpillFile::~SpillFile() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

std::vector<std::string> SpillFile::Folders(const std::string& beside) {
  std::vector<std::string> folders;
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir != nullptr && *tmpdir != '\0') folders.emplace_back(tmpdir);
  if (!beside.empty()) folders.push_back(beside);
  folders.emplace_back("/tmp");
  return folders;
}

// A file in the next folder that takes one; throws FileError when none does.
void SpillFile::Open() {
  opened_ = true;
  int lastError = ENOENT;
  while (next_ < folders_.size()) {
    path_ = folders_[next_++] + "/talveron-held-XXXXXX";
    descriptor_ = ::mkostemp(path_.data(), O_CLOEXEC);
    if (descriptor_ >= 0) {
      ::unlink(path_.c_str());
      return;
    }
    lastError = errno;
    if (lastError == EMFILE || lastError == ENFILE) {
      inMemory_ = true;
      return;
    }
  }
  throw FileError(path_, std::strerror(lastError));
}

// Takes what is held so far to a file in the next folder.
void SpillFile::Move() {
  const int old = descriptor_;
  const long long size = end_;
  descriptor_ = -1;
  end_ = 0;
  try {
    Open();
    std::string part;
    for (long long at = 0; at < size;) {
      part.resize(static_cast<std::size_t>(std::min<long long>(size - at, kPart)));
      ReadFrom(old, part.data(), part.size(), at);
      Write(part.data(), part.size());
      at += static_cast<long long>(part.size());
    }
  } catch (...) {
    ::close(old);
    throw;
  }
  ::close(old);
}

std::uint64_t SpillFile::Append(std::string_view bytes) {
  if (!opened_) Open();
  const long long before = end_;
  for (;;) {
    try {
      Write(bytes.data(), bytes.size());
      return static_cast<std::uint64_t>(before);
    } catch (const FileError&) {
      end_ = before;  // what was cut short is dropped with the file
      Move();
    }
  }
}

void SpillFile::Write(const void* bytes, std::size_t size) {
  const char* from = static_cast<const char*>(bytes);
  if (inMemory_) {
    memory_.append(from, size);
    end_ += static_cast<long long>(size);
    return;
  }
  while (size > 0) {
    const ssize_t wrote = ::pwrite(descriptor_, from, size, end_);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) throw FileError(path_, std::strerror(wrote < 0 ? errno : ENOSPC));
    from += wrote;
    size -= static_cast<std::size_t>(wrote);
    end_ += wrote;
  }
}

void SpillFile::Read(std::uint64_t at, void* bytes, std::size_t size) const {
  if (inMemory_) {
    std::memcpy(bytes, memory_.data() + at, size);
    return;
  }
  ReadFrom(descriptor_, bytes, size, static_cast<long long>(at));
}

void SpillFile::ReadFrom(int descriptor, void* bytes, std::size_t size, long long at) const {
  char* to = static_cast<char*>(bytes);
  while (size > 0) {
    const ssize_t got = ::pread(descriptor, to, size, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw FileError(path_, got < 0 ? std::strerror(errno) : "cut short");
    to += got;
    size -= static_cast<std::size_t>(got);
    at += got;
  }
}

}  // namespace talveron
