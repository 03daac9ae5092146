#include "record/vcf/genotype_output.h"

#include <filesystem>

#include "record/output_file.h"
#include "record/vcf/genotype_vcf.h"

namespace talveron {

std::string GenotypeTablePath(const std::string& vcfPath) {
  return vcfPath.substr(0, vcfPath.size() - std::string(".vcf.gz").size()) + ".samples.tsv";
}

GenotypeOutput::GenotypeOutput(std::string path, long replicates)
    : path_(std::move(path)), replicates_(replicates), tablePath_(GenotypeTablePath(path_)) {
  table_ = std::make_unique<OutputFile>(tablePath_);
  table_->Write(kGenotypeTableHeader);
  table_->Sync();
  table_->MarkComplete();
}

GenotypeOutput::~GenotypeOutput() = default;

void GenotypeOutput::Write(long replicate, const std::vector<GenotypeSample>& samples) {
  const std::string file = GenotypeFilePath(path_, replicate, replicates_);
  WriteGenotypeVcf(file, replicate, samples);
  table_->Write(GenotypeTableLines(replicate, samples, std::filesystem::path(file).filename().string()));
  table_->Sync();
  table_->MarkComplete();
}

void GenotypeOutput::Commit() {
  table_->Close();
  table_->Commit();
}

void GenotypeOutput::Abandon() { table_->Abandon(); }

}  // namespace talveron
