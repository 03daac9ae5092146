// The genotype samples of a series: a VCF file per replicate, written as
// its record is, and for the series one samples table, the samples of
// each habitat and their sexes.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "record/genotype_sample.h"
#include "record/genotype_vcf_text.h"
#include "record/output_file.h"

namespace talveron {

class GenotypeOutput {
 public:
  // FILE.vcf.gz: the table is FILE.samples.tsv, the habitats' samples
  // FILE.habitat0.txt and FILE.habitat1.txt, their sexes FILE.sex.txt,
  // each written beside its name (.partial) until Commit(); `settings`
  // are the series', named in every file's header. Throws FileError.
  GenotypeOutput(std::string path, long replicates, const GenotypeSettings& settings);
  ~GenotypeOutput();

  // The replicate's samples, in replicate order; throws FileError.
  void Write(long replicate, const std::vector<GenotypeSample>& samples);
  void Commit();
  void Abandon();

  const std::string& tablePath() const { return tablePath_; }
  // The habitats' files and the sex file, in that order.
  std::vector<std::string> listPaths() const;

 private:
  std::array<OutputFile*, 4> outputs() const;  // the table and the lists

  std::string path_;
  long replicates_;
  GenotypeSettings settings_;
  std::string tablePath_;
  std::unique_ptr<OutputFile> table_;
  std::unique_ptr<OutputFile> habitats_[2];
  std::unique_ptr<OutputFile> sexes_;
};

// FILE.vcf.gz's samples table: FILE.samples.tsv.
std::string GenotypeTablePath(const std::string& vcfPath);
// Its lists of samples: FILE.habitat0.txt, FILE.habitat1.txt, FILE.sex.txt.
std::vector<std::string> GenotypeListPaths(const std::string& vcfPath);

}  // namespace talveron
