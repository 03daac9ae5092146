// Where recorded text goes. The data file is written beside its final name
// and checks every write; a failure is an exception naming the file and the
// reason.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace talveron {

class OutputFile;

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

// A data file. Until Close() it is written as FILE.partial and an existing
// FILE stays as it was; Append writes through, Flush marks the end of a
// complete record. A failed write, Abandon() or destruction without Close()
// cuts the partial file back to its last complete record and keeps it.
class DataFile : public TextSink {
 public:
  // Throws FileError when the file cannot be created.
  explicit DataFile(std::string path);
  ~DataFile() override;
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;

  void Append(std::string_view text) override;
  void Flush() override;
  // The data are complete: writes out and puts the file in place of FILE;
  // throws FileError on failure.
  void Close();
  // The data end here unfinished: FILE stays, FILE.partial keeps the
  // complete records.
  void Abandon();
  const std::string& path() const { return path_; }
  // FILE.partial while unfinished (FILE itself for a device or pipe).
  const std::string& writtenPath() const;

 private:
  std::string path_;
  std::unique_ptr<OutputFile> file_;
};

}  // namespace talveron
