// The genotype samples of a series: a VCF file per replicate, written as
// its record is, and one samples table for the series.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "record/genotype_sample.h"
#include "record/output_file.h"

namespace talveron {

class GenotypeOutput {
 public:
  // FILE.vcf.gz: the table is FILE.samples.tsv, written as
  // FILE.samples.tsv.partial until Commit(). Throws FileError.
  GenotypeOutput(std::string path, long replicates);
  ~GenotypeOutput();

  // The replicate's samples, in replicate order; throws FileError.
  void Write(long replicate, const std::vector<GenotypeSample>& samples);
  void Commit();
  void Abandon();

  const std::string& tablePath() const { return tablePath_; }

 private:
  std::string path_;
  long replicates_;
  std::string tablePath_;
  std::unique_ptr<OutputFile> table_;
};

// FILE.vcf.gz's samples table: FILE.samples.tsv.
std::string GenotypeTablePath(const std::string& vcfPath);

}  // namespace talveron
