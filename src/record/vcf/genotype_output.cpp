#include "record/vcf/genotype_output.h"

#include <filesystem>

#include "record/output_file.h"
#include "record/vcf/genotype_vcf.h"

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

GenotypeOutput::GenotypeOutput(std::string path, long replicates, const GenotypeSettings& settings)
    : path_(std::move(path)), replicates_(replicates), settings_(settings), tablePath_(GenotypeTablePath(path_)) {
  const std::vector<std::string> lists = GenotypeListPaths(path_);
  table_ = std::make_unique<OutputFile>(tablePath_);
  for (int habitat = 0; habitat < kHabitats; ++habitat) {
    habitats_[habitat] = std::make_unique<OutputFile>(lists[static_cast<std::size_t>(habitat)]);
  }
  sexes_ = std::make_unique<OutputFile>(lists[2]);
  table_->Write(kGenotypeTableHeader);
  table_->Sync();
  OutputFile::MarkTogether({table_.get(), habitats_[0].get(), habitats_[1].get(), sexes_.get()});
}

GenotypeOutput::~GenotypeOutput() = default;

std::array<OutputFile*, 4> GenotypeOutput::outputs() const {
  return {table_.get(), habitats_[0].get(), habitats_[1].get(), sexes_.get()};
}

std::vector<std::string> GenotypeOutput::listPaths() const {
  return {habitats_[0]->path(), habitats_[1]->path(), sexes_->path()};
}

void GenotypeOutput::Write(long replicate, const std::vector<GenotypeSample>& samples) {
  const std::string file = GenotypeFilePath(path_, replicate, replicates_);
  WriteGenotypeVcf(file, replicate, samples, settings_);
  table_->Write(GenotypeTableLines(replicate, samples, std::filesystem::path(file).filename().string()));
  for (int habitat = 0; habitat < kHabitats; ++habitat) {
    habitats_[habitat]->Write(GenotypeHabitatLines(replicate, samples, habitat));
  }
  sexes_->Write(GenotypeSexLines(replicate, samples));
  for (OutputFile* output : outputs()) output->Sync();
  OutputFile::MarkTogether({table_.get(), habitats_[0].get(), habitats_[1].get(), sexes_.get()});
}

void GenotypeOutput::Commit() {
  for (OutputFile* output : outputs()) {
    output->Close();
    output->Commit();
  }
}

void GenotypeOutput::Abandon() {
  for (OutputFile* output : outputs()) output->Abandon();
}

}  // namespace talveron
