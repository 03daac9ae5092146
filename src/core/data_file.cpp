#include "core/data_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace talveron {

FileError::FileError(const std::string& path, const std::string& reason)
    : std::runtime_error("cannot write '" + path + "': " + reason), path_(path), reason_(reason) {}

DataFile::DataFile(std::string path) : path_(std::move(path)) {
  file_ = std::fopen(path_.c_str(), "wb");
  if (file_ == nullptr) throw FileError(path_, std::strerror(errno));
}

DataFile::~DataFile() {
  if (file_ == nullptr) return;
  try {
    Close();
  } catch (const FileError&) {
    // Nothing more can be done for the file here; Close() reports to callers
    // that close it themselves.
  }
}

void DataFile::Append(std::string_view text) { pending_.append(text); }

void DataFile::Flush() {
  if (file_ == nullptr) return;
  if (!pending_.empty()) {
    const std::size_t written = std::fwrite(pending_.data(), 1, pending_.size(), file_);
    if (written != pending_.size()) Fail(errno);
  }
  if (std::fflush(file_) != 0) Fail(errno);
  flushedLength_ += static_cast<long>(pending_.size());
  pending_.clear();
}

void DataFile::Close() {
  if (file_ == nullptr) return;
  Flush();
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0) throw FileError(path_, std::strerror(errno));
}

// Cuts the file back to its last complete record and reports the failure.
void DataFile::Fail(int error) {
  const std::string reason = std::strerror(error != 0 ? error : EIO);
  pending_.clear();
  std::FILE* file = file_;
  file_ = nullptr;
  if (ftruncate(fileno(file), flushedLength_) != 0) {
    // A device or pipe cannot be cut back; what it took is beyond reach.
  }
  std::fclose(file);
  throw FileError(path_, reason);
}

}  // namespace talveron
