// An output that never loses what was there before and never holds half a
// record. A regular file FILE is written as FILE.partial beside it and
// renamed over FILE only when the work is complete; until then FILE stays
// as it was. Whatever stops the work, a failure, a stop or the process
// ending, the partial file is cut back to the end of its last complete
// record. Devices, pipes and links to open descriptors (/dev/stdout, a
// FIFO) are written directly; a symbolic link to a file is followed, and
// its target written and replaced. FILE.partial is made anew (a link left
// under that name is not written through) and holds an advisory lock
// (flock) while it is written, for other runs to find it however named.
#pragma once

#include <atomic>
#include <initializer_list>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "record/data_file.h"

namespace talveron {

// A complete file under its working name, to be put in place of `target`
// (a link's target: LinkTarget); `shown` is the name the user gave.
struct PendingFile {
  std::string working;
  std::string target;
  std::string shown;
};

class OutputFile {
 public:
  // Creates FILE.partial (or opens a device or pipe); throws FileError.
  explicit OutputFile(std::string path);
  // Not committed: cut back to the last complete record and keep the
  // partial file.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Buffered; throws FileError, after cutting the file back.
  void Write(std::string_view text);
  // Hands what is buffered to the system; throws FileError likewise.
  void Sync();
  // Everything written so far is complete records: a stop keeps it.
  void MarkComplete();
  // Several outputs whose records belong together, marked at once.
  static void MarkTogether(std::initializer_list<OutputFile*> outputs);
  // Syncs and closes, still under the partial name; throws FileError.
  void Close();
  // Closes (when not yet closed) and renames FILE.partial over FILE;
  // throws FileError.
  void Commit();
  // Cuts back to the last complete record and closes; keeps the partial file.
  void Abandon();

  const std::string& path() const { return path_; }
  // Where the text is while the work runs: FILE.partial, or FILE itself for
  // a device or pipe.
  const std::string& writtenPath() const { return writtenPath_; }
  bool committed() const { return committed_; }
  // Where Commit() would put the file, once it is closed.
  PendingFile Pending() const { return {writtenPath_, target_, path_}; }
  bool direct() const { return direct_; }

  // For a process that must end at once (a second Ctrl+C): cuts every open
  // output back to its last complete record. Waits for a write in progress
  // to a regular file, never for one to a device or pipe.
  static void CutAllBack();
  // A file that is being made outside any OutputFile and is not yet part
  // of a complete record (a replicate's VCF file before the samples table
  // lists it): CutAllBack removes it.
  static void AddScratch(const std::string& path);
  static void ForgetScratch(const std::string& path);

 private:
  [[noreturn]] void Fail(int error);
  void Deregister();
  void CutBackLocked();

  std::string path_;
  std::string target_;  // path_ with symbolic links followed
  std::string writtenPath_;
  bool direct_ = false;
  bool closed_ = false;
  bool committed_ = false;
  std::FILE* file_ = nullptr;
  long written_ = 0;
  std::atomic<long> completeLength_{0};
  std::mutex mutex_;
};

// The name an unfinished output is written under.
std::string PartialPath(const std::string& path);

// The file `path` leads to through symbolic links (to a file not yet made
// too): the file written and replaced, so that a link stays a link.
std::string LinkTarget(const std::string& path);
// Where a regular file's text is while it is written: PartialPath of its
// LinkTarget, as OutputFile writes it.
inline std::string WorkingPath(const std::string& path) { return PartialPath(LinkTarget(path)); }

// Renames each file in place in the order given, the one that matters most
// last. Throws FileError when a rename fails, its message naming the files
// already in place and those still under their working names.
void PutInPlace(const std::vector<PendingFile>& files);

// Whether two output paths name the same file: the same text after
// resolving ".", "..", "//" and symbolic links (dangling ones too), or,
// for existing files, the same device and inode (hard links).
bool SameFile(const std::string& a, const std::string& b);

// The first pair among `paths` that would collide, counting each regular
// file's partial name as well; empty when there is none. The message names
// both as given.
std::string OutputCollision(const std::vector<std::string>& paths);

}  // namespace talveron
