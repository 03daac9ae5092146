// The genotype samples of a series: a VCF file per replicate with its
// index, one samples table, and the lists of each habitat's samples and of
// their sexes (GenotypeHabitatLines, GenotypeSexLines). Every file is
// written under its working
// name (FILE.partial, beside where a symbolic link leads) and put in place
// together with the others: by Commit, or by the run that owns them with
// its own files (Files()).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "record/genotype_sample.h"
#include "record/genotype_vcf_text.h"
#include "record/output_file.h"

namespace talveron {

class GenotypeVcfStream;

class GenotypeOutput {
 public:
  // FILE.vcf.gz of a series of `replicates`: the files GenotypeFilePath
  // names, each with its index FILE.tbi, the table FILE.samples.tsv and,
  // with `lists`, FILE.habitat0.txt, FILE.habitat1.txt and FILE.sex.txt,
  // made at once; `settings` are the series', named in every file's
  // header. Samples wait for their replicate's end in temporary files
  // (SpillFile::Folders(spillBeside)). Throws FileError.
  GenotypeOutput(std::string path, long replicates, const GenotypeSettings& settings, std::string spillBeside = "",
                 bool lists = true);
  ~GenotypeOutput();
  GenotypeOutput(const GenotypeOutput&) = delete;
  GenotypeOutput& operator=(const GenotypeOutput&) = delete;

  // The next sampled generation of a replicate that runs: from any thread,
  // a replicate's in order. Throws FileError (kMaxVcfSamples, or the
  // temporary file).
  void Add(long replicate, GenotypeSample sample);
  // Writes the replicate's VCF file and index and adds its lines to the
  // table, in replicate order; throws FileError.
  void Finish(long replicate);
  // A replicate's samples all at once: Add each and Finish.
  void Write(long replicate, const std::vector<GenotypeSample>& samples);

  // The table is complete; every file still under its working name.
  // Throws FileError.
  void Close();
  // Every file written, in the order they are put in place (each VCF file
  // after its index, the table and the lists last); after Close().
  std::vector<PendingFile> Files() const;
  // Close() and every file in place; throws FileError.
  void Commit();
  // The table cut back to its complete lines; the files of finished
  // replicates stay under their working names.
  void Abandon();

  const std::string& tablePath() const { return tablePath_; }
  // The habitats' lists and the sex list, in that order; none without lists.
  std::vector<std::string> listPaths() const;
  // The replicates whose files are written, in order.
  std::vector<long> finished() const {
    std::lock_guard lock(mutex_);
    return written_;
  }
  // A replicate's VCF file.
  std::string FileOf(long replicate) const;

 private:
  void MarkComplete();

  std::string path_;
  long replicates_;
  GenotypeSettings settings_;
  std::string tablePath_;
  std::vector<std::string> spillFolders_;
  std::unique_ptr<OutputFile> table_;
  std::vector<std::unique_ptr<OutputFile>> lists_;  // habitat 0, habitat 1, sexes
  mutable std::mutex mutex_;  // the streams of the replicates that run, and written_
  std::map<long, std::unique_ptr<GenotypeVcfStream>> running_;
  std::vector<long> written_;
};

// FILE.vcf.gz's samples table: FILE.samples.tsv.
std::string GenotypeTablePath(const std::string& vcfPath);

// Its lists: FILE.habitat0.txt, FILE.habitat1.txt, FILE.sex.txt.
std::vector<std::string> GenotypeListPaths(const std::string& vcfPath);

// Every file of a series' genotype samples in FILE.vcf.gz, each VCF file
// followed by its index, then the table and the lists.
std::vector<std::string> GenotypeFiles(const std::string& vcfPath, long replicates);

}  // namespace talveron
