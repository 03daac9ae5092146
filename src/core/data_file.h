// Where recorded text goes. The data file appends to a real file and checks
// every write; a failure is an exception naming the file and the reason.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace talveron {

class TextSink {
 public:
  virtual ~TextSink() = default;
  virtual void Append(std::string_view text) = 0;
  // A complete record (or the header) has been appended: make it durable.
  virtual void Flush() = 0;
};

class FileError : public std::runtime_error {
 public:
  FileError(const std::string& path, const std::string& reason);
  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string path_;
  std::string reason_;
};

// A data file, created or replaced and emptied when opened. Append buffers;
// Flush writes the buffer out. When a write fails the file is cut back to
// its last flushed length, so it holds only complete records.
class DataFile : public TextSink {
 public:
  // Throws FileError when the file cannot be created.
  explicit DataFile(std::string path);
  ~DataFile() override;
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;

  void Append(std::string_view text) override;
  void Flush() override;
  // Writes what is pending and closes; throws FileError on failure.
  void Close();
  const std::string& path() const { return path_; }

 private:
  [[noreturn]] void Fail(int error);

  std::string path_;
  std::FILE* file_ = nullptr;
  std::string pending_;
  long flushedLength_ = 0;
};

}  // namespace talveron
