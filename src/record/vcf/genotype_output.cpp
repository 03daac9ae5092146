#include "record/vcf/genotype_output.h"

#include <cstdio>
#include <filesystem>

#include "record/output_file.h"
#include "record/vcf/genotype_vcf.h"
#include "record/vcf/spill_file.h"

namespace talveron {

namespace {

std::string Stem(const std::string& vcfPath) {
  return vcfPath.substr(0, vcfPath.size() - std::string(".vcf.gz").size());
}

}  // namespace

std::string GenotypeTablePath(const std::string& vcfPath) { return Stem(vcfPath) + ".samples.tsv"; }

std::vector<std::string> GenotypeListPaths(const std::string& vcfPath) {
  const std::string stem = Stem(vcfPath);
  return {stem + ".habitat0.txt", stem + ".habitat1.txt", stem + ".sex.txt"};
}

std::vector<std::string> GenotypeFiles(const std::string& vcfPath, long replicates) {
  std::vector<std::string> files;
  for (long k = 1; k <= replicates; ++k) {
    files.push_back(GenotypeFilePath(vcfPath, k, replicates));
    files.push_back(files.back() + ".tbi");
  }
  files.push_back(GenotypeTablePath(vcfPath));
  for (const std::string& list : GenotypeListPaths(vcfPath)) files.push_back(list);
  return files;
}

GenotypeOutput::GenotypeOutput(std::string path, long replicates, const GenotypeSettings& settings,
                               std::string spillBeside, bool lists)
    : path_(std::move(path)),
      replicates_(replicates),
      settings_(settings),
      tablePath_(GenotypeTablePath(path_)),
      spillFolders_(SpillFile::Folders(spillBeside)) {
  table_ = std::make_unique<OutputFile>(tablePath_);
  if (lists) {
    for (const std::string& list : GenotypeListPaths(path_)) lists_.push_back(std::make_unique<OutputFile>(list));
  }
  table_->Write(kGenotypeTableHeader);
  table_->Sync();
  MarkComplete();
}

// The table and the lists end at once where a stop cuts them back.
void GenotypeOutput::MarkComplete() {
  auto list = [this](std::size_t i) { return i < lists_.size() ? lists_[i].get() : nullptr; };
  OutputFile::MarkTogether({table_.get(), list(0), list(1), list(2)});
}

std::vector<std::string> GenotypeOutput::listPaths() const {
  std::vector<std::string> paths;
  for (const auto& list : lists_) paths.push_back(list->path());
  return paths;
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
                                                 settings_, spillFolders_, kMaxVcfSamples, !lists_.empty());
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
                                                 settings_, spillFolders_, kMaxVcfSamples, !lists_.empty());
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
    for (std::size_t list = 0; list < lists_.size(); ++list) {
      stream->ListLines(static_cast<int>(list), [&](std::string_view lines) { lists_[list]->Write(lines); });
    }
    table_->Sync();
    for (const auto& list : lists_) list->Sync();
    MarkComplete();
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

void GenotypeOutput::Close() {
  table_->Close();
  for (const auto& list : lists_) list->Close();
}

std::vector<PendingFile> GenotypeOutput::Files() const {
  std::lock_guard lock(mutex_);
  std::vector<PendingFile> files;
  for (const long k : written_) {
    const std::string file = FileOf(k);
    for (const std::string& name : {file + ".tbi", file}) files.push_back({WorkingPath(name), LinkTarget(name), name});
  }
  if (!table_->direct()) files.push_back({table_->writtenPath(), LinkTarget(tablePath_), tablePath_});
  for (const auto& list : lists_) {
    if (!list->direct()) files.push_back({list->writtenPath(), LinkTarget(list->path()), list->path()});
  }
  return files;
}

void GenotypeOutput::Commit() {
  Close();
  PutInPlace(Files());
}

void GenotypeOutput::Abandon() {
  table_->Abandon();
  for (const auto& list : lists_) list->Abandon();
  std::lock_guard lock(mutex_);
  running_.clear();
}

}  // namespace talveron
