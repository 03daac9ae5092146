#include "record/data_file.h"

#include "record/output_file.h"

namespace talveron {

FileError::FileError(const std::string& path, const std::string& reason)
    : std::runtime_error("cannot write '" + path + "': " + reason), path_(path), reason_(reason) {}

DataFile::DataFile(std::string path) : path_(std::move(path)), file_(std::make_unique<OutputFile>(path_)) {}

DataFile::~DataFile() = default;

void DataFile::Append(std::string_view text) { file_->Write(text); }

void DataFile::Flush() {
  file_->Sync();
  file_->MarkComplete();
}

void DataFile::Close() { file_->Commit(); }

void DataFile::Abandon() { file_->Abandon(); }

const std::string& DataFile::writtenPath() const { return file_->writtenPath(); }

}  // namespace talveron
