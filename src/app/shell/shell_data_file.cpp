// The data file of a series: opening it through the save dialog, the
// header on Run replicates, the records, closing it; and what happens when
// the file cannot be written.
#include <filesystem>
#include <optional>

#include "app/shell/shell.h"

namespace talveron::app {

namespace {

std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

std::string WriteFailureMessage(const FileError& error, bool seriesStopped, const std::string& kept) {
  std::string message = "Data file " + FileName(error.path()) + " not written: " + error.reason();
  if (seriesStopped) message += "; the series was stopped";
  if (!kept.empty()) message += "; its records are in " + FileName(kept);
  return message;
}

}  // namespace

// The file chosen is created, or replaced, and emptied. A place where no
// file can be made is a slip in the dialog: the user is told why and
// chooses again, or cancels; nothing else changes.
void Shell::CreateDataFile() {
  while (!dataFile_) {
    const std::optional<std::string> path = platform_.AskDataFilePath();
    if (!path) return;
    try {
      dataFile_ = std::make_unique<DataFile>(*path);
    } catch (const FileError& error) {
      platform_.ShowNotice("The data file cannot be made at " + error.path() + ": " + error.reason() +
                           ". Choose another place or name.");
    }
  }
  recorder.SetSink(dataFile_.get());
  recorder.DiscardPending();
  dataWritten_ = false;
  lastDataFileName_ = dataFile_->path();
  platform_.ShowDataFileNote("");
  platform_.ShowDataFileName(dataFile_->path());
}

void Shell::CloseDataFile(bool seriesComplete) {
  if (const std::optional<FileError> failure = ReleaseDataFile(seriesComplete)) {
    ShowError(WriteFailureMessage(*failure, false, ""));
  }
}

// Closes the file and restores the Data File menu; the failure of the last
// write, if any. A complete series takes the file's name; anything less
// leaves a file of that name as it was, and the records written so far in
// FILE.partial. A file no series was written to leaves nothing.
std::optional<FileError> Shell::ReleaseDataFile(bool seriesComplete) {
  std::optional<FileError> failure;
  std::string note;
  if (dataFile_) {
    const std::string written = dataFile_->writtenPath();
    const bool partial = written != dataFile_->path();
    try {
      if (seriesComplete) {
        dataFile_->Close();
      } else {
        dataFile_->Abandon();
      }
    } catch (const FileError& error) {
      failure = error;
    }
    if (partial && (!seriesComplete || failure)) {
      std::error_code ignored;
      const bool exists = std::filesystem::exists(written, ignored);
      // A file without a byte keeps nothing worth a name.
      const bool empty = exists && std::filesystem::file_size(written, ignored) == 0;
      if (!dataWritten_ || empty) {
        std::filesystem::remove(written, ignored);
        if (dataWritten_) note = "Series stopped: no records were kept";
      } else if (exists) {
        // Short: it stands in the status bar beside the seeds, whole.
        note = "Series stopped: records kept in " + FileName(written);
      }
    }
  }
  recorder.SetSink(nullptr);
  dataFile_.reset();
  dataWritten_ = false;
  recorder.DiscardPending();
  EnableDataFileItems(true);
  Enable(kDataFileMenu, 2, false);
  gGetData = false;
  platform_.ShowDataFileName("");
  if (!note.empty()) platform_.ShowDataFileNote(note);
  return failure;
}

void Shell::RunReplicates() {
  if (!DataFileOpen()) {
    ShowError("Open a data file before running replicates!");
    return;
  }
  ResetRecording();
  try {
    dataWritten_ = true;
    UndoScheduledChanges();
    recorder.WriteInitialFields(world.params, gTotalReplicates, gTotalGenerations);
  } catch (const FileError& error) {
    ReportWriteFailure(error);
    return;
  }
  runReplicates = true;
  restart = true;
  gGetData = true;
  seriesFileName_ = FileName(dataFile_->path());
  Check(kDataFileMenu, 12, true);
  EnableDataFileItems(false);
}

// A series begins as the batch command begins one: no criterion met yet and
// no unfinished averaging span, whatever an abandoned series left behind.
void Shell::ResetRecording() {
  DataRecorder fresh;
  fresh.choices = recorder.choices;
  fresh.SetSink(recorder.sink());
  recorder = fresh;
}

void Shell::RecordGeneration() {
  try {
    recorder.GetData(world.geneFrequencies, world.gGenerationNumber);
  } catch (const FileError& error) {
    ReportWriteFailure(error);
  }
}

void Shell::RecordReplicate() {
  try {
    recorder.WriteReplicateData();
  } catch (const FileError& error) {
    ReportWriteFailure(error);
  }
}

// A write failed: the file holds only complete records. The series ends, the
// file is closed, the message waits for the space bar, and a single run
// begins.
void Shell::ReportWriteFailure(const FileError& error) {
  const bool inSeries = runReplicates;
  if (inSeries) {
    runReplicates = false;
    Check(kDataFileMenu, 12, false);
  }
  std::string kept = dataFile_ && dataWritten_ ? dataFile_->writtenPath() : std::string();
  std::error_code ignored;
  if (!kept.empty() && std::filesystem::file_size(kept, ignored) == 0 && !ignored) kept.clear();
  ReleaseDataFile(false);  // a second failure adds nothing to the first
  ShowError(WriteFailureMessage(error, inSeries, kept != error.path() ? kept : ""));
  if (inSeries) restart = true;
}

}  // namespace talveron::app
