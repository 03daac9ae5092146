#include "record/vcf/genotype_output.h"

#include <cstdio>
#include <filesystem>

#include "record/output_file.h"
#include "record/vcf/genotype_vcf.h"
#include "record/vcf/spill_file.h"

namespace talveron {

std::string GenotypeTablePath(const std::string& vcfPath) {
  return vcfPath.substr(0, vcfPath.size() - std::string(".vcf.gz").size()) + ".samples.tsv";
}

std::vector<std::string> GenotypeFiles(const std::string& vcfPath, long replicates) {
  std::vector<std::string> files;
  for (long k = 1; k <= replicates; ++k) {
    files.push_back(GenotypeFilePath(vcfPath, k, replicates));
    files.push_back(files.back() + ".tbi");
  }
  files.push_back(GenotypeTablePath(vcfPath));
  return files;
}

GenotypeOutput::GenotypeOutput(std::string path, long replicates, std::string spillBeside)
    : path_(std::move(path)),
      replicates_(replicates),
      tablePath_(GenotypeTablePath(path_)),
      spillFolders_(SpillFile::Folders(spillBeside)) {
  table_ = std::make_unique<OutputFile>(tablePath_);
  table_->Write(kGenotypeTableHeader);
  table_->Sync();
  table_->MarkComplete();
}

GenotypeOutput::~GenotypeOutput() = default;

std::string GenotypeOutput::FileOf(long replicate) const { return GenotypeFilePath(path_, replicate, replicates_); }

void GenotypeOutput::Add(long replicate, GenotypeSample sample) {
  GenotypeVcfStream* stream = nullptr;
  {
    std::lock_guard lock(mutex_);
    auto& slot = running_[replicate];
    if (!slot) {
      const std::string file = FileOf(replicate);
      slot = std::make_unique<GenotypeVcfStream>(file, replicate, std::filesystem::path(file).filename().string(),
                                                 spillFolders_);
    }
    stream = slot.get();
  }
  // Only this replicate's thread adds to its stream.
  stream->Add(std::move(sample));
}

void GenotypeOutput::Finish(long replicate) {
  std::unique_ptr<GenotypeVcfStream> stream;
  {
    std::lock_guard lock(mutex_);
    auto found = running_.find(replicate);
    if (found != running_.end()) {
      stream = std::move(found->second);
      running_.erase(found);
    }
  }
  const std::string file = FileOf(replicate);
  if (!stream) {  // no generation sampled: a file naming no sample
    stream = std::make_unique<GenotypeVcfStream>(file, replicate, std::filesystem::path(file).filename().string(),
                                                 spillFolders_);
  }
  // Complete only once the table lists its samples: a process ended at
  // once before that leaves no file the table does not name.
  const std::string vcf = WorkingPath(file);
  const std::string index = WorkingPath(file + ".tbi");
  OutputFile::AddScratch(vcf);
  OutputFile::AddScratch(index);
  auto forget = [&] {
    OutputFile::ForgetScratch(vcf);
    OutputFile::ForgetScratch(index);
  };
  try {
    stream->WriteVcf(vcf, index);
    stream->TableLines([this](std::string_view lines) { table_->Write(lines); });
    table_->Sync();
    table_->MarkComplete();
  } catch (...) {
    std::remove(vcf.c_str());
    std::remove(index.c_str());
    forget();
    throw;
  }
  forget();
  std::lock_guard lock(mutex_);
  written_.push_back(replicate);
}

void GenotypeOutput::Write(long replicate, const std::vector<GenotypeSample>& samples) {
  for (const GenotypeSample& sample : samples) Add(replicate, sample);
  Finish(replicate);
}

void GenotypeOutput::Close() { table_->Close(); }

std::vector<PendingFile> GenotypeOutput::Files() const {
  std::lock_guard lock(mutex_);
  std::vector<PendingFile> files;
  for (const long k : written_) {
    const std::string file = FileOf(k);
    for (const std::string& name : {file + ".tbi", file}) files.push_back({WorkingPath(name), LinkTarget(name), name});
  }
  if (!table_->direct()) files.push_back({table_->writtenPath(), LinkTarget(tablePath_), tablePath_});
  return files;
}

void GenotypeOutput::Commit() {
  Close();
  PutInPlace(Files());
}

void GenotypeOutput::Abandon() {
  table_->Abandon();
  std::lock_guard lock(mutex_);
  running_.clear();
}

}  // namespace talveron
