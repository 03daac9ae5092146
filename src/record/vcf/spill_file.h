// Bytes kept for later on disk, in a temporary file that has no name and
// goes with the process: the text of a replicate that waits for its turn,
// the genotype samples of a replicate until its file is written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talveron {

class SpillFile {
 public:
  // The file is made, at the first Append, in the first of `folders` where
  // it can be; when it can no longer be written there (a full disk), what
  // it holds moves to the next. Where the process may open no more files,
  // the bytes stay in memory: callers keep the number of spill files small,
  // so that is rare and bounded.
  explicit SpillFile(std::vector<std::string> folders);
  ~SpillFile();
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;

  // Appends `bytes` whole, or not at all; returns where they begin. Throws
  // FileError when no folder takes them.
  std::uint64_t Append(std::string_view bytes);
  // Reads back `size` bytes from `at`; throws FileError.
  void Read(std::uint64_t at, void* bytes, std::size_t size) const;
  std::uint64_t size() const { return static_cast<std::uint64_t>(end_); }

  // $TMPDIR, else `beside` (when not empty), else /tmp.
  static std::vector<std::string> Folders(const std::string& beside);

 private:
  void Open();
  void Move();
  void Write(const void* bytes, std::size_t size);
  void ReadFrom(int descriptor, void* bytes, std::size_t size, long long at) const;

  std::vector<std::string> folders_;
  std::size_t next_ = 0;
  std::string path_;
  int descriptor_ = -1;
  long long end_ = 0;
  bool opened_ = false;
  bool inMemory_ = false;
  std::string memory_;
};

}  // namespace talveron
