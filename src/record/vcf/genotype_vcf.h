// Genotype samples as VCF 4.2 (record/genotype_vcf_text.h), compressed
// with bgzip and indexed with tabix (htslib).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "record/genotype_sample.h"
#include "record/genotype_vcf_text.h"

namespace talveron {

// The most samples a VCF file may name: htslib keeps the number of samples
// of a record in 24 bits, and its readers (bcftools, pysam) fail on a file
// that names more.
inline constexpr std::uint64_t kMaxVcfSamples = (std::uint64_t{1} << 24) - 1;

// Writes `path` and `path`.tbi, beside their names until both are
// complete; throws FileError.
void WriteGenotypeVcf(const std::string& path, long replicate, const std::vector<GenotypeSample>& samples,
                      const GenotypeSettings& settings);

class SpillFile;

// One replicate's VCF file, taken a sampled generation at a time. A VCF's
// samples are its columns, so no line of it is complete before the last
// generation: each generation's columns (and its lines of the samples
// table) are kept in a temporary file as they come, a megabyte at most in
// memory, and the file is written from them once the replicate has ended.
// The text is byte for byte WriteGenotypeVcfText's for all the generations
// at once; the records' INFO counts the alleles of all of them.
class GenotypeVcfStream {
 public:
  // `file` is the name the samples table gives the file; `settings` those
  // its header names; `spillFolders` where the columns wait (SpillFile);
  // `maxSamples` the most samples the file may name; `lists`: the
  // habitats' and the sexes' lines are kept too (ListLines).
  GenotypeVcfStream(std::string path, long replicate, std::string file, const GenotypeSettings& settings,
                    std::vector<std::string> spillFolders, std::uint64_t maxSamples = kMaxVcfSamples,
                    bool lists = false);
  ~GenotypeVcfStream();
  GenotypeVcfStream(const GenotypeVcfStream&) = delete;
  GenotypeVcfStream& operator=(const GenotypeVcfStream&) = delete;

  // The next sampled generation. Throws FileError when the file would name
  // more than `maxSamples` samples, or its columns cannot be kept.
  void Add(GenotypeSample sample);
  std::uint64_t samples() const { return samples_; }

  // Writes the VCF file to `vcfPath` and its index to `indexPath`, with
  // what tabix would build from the file; throws FileError, having removed
  // what it wrote.
  void WriteVcf(const std::string& vcfPath, const std::string& indexPath) const;
  // The samples table's lines of every generation, in pieces.
  template <typename Sink>
  void TableLines(Sink sink) const {
    for (std::size_t g = 0; g < blocks_.size(); ++g) ReadChunk(g, kTableChunk, sink);
  }
  // The lines of list `list` of every generation, in pieces: habitat 0's
  // samples, habitat 1's (GenotypeHabitatLines), their sexes
  // (GenotypeSexLines). Nothing unless made with `lists`.
  template <typename Sink>
  void ListLines(int list, Sink sink) const {
    for (std::size_t g = 0; g < blocks_.size(); ++g) ReadChunk(g, kTableChunk + 1 + list, sink);
  }

 private:
  // The #CHROM line and the loci's records; their columns, then the table
  // and the three lists.
  static constexpr int kLines = 1 + kGenotypeLoci;
  static constexpr int kTableChunk = kLines;
  struct Block {
    std::uint64_t start = 0;
    std::array<std::uint32_t, kLines + 4> lengths{};
  };
  void Keep(std::string_view bytes);
  template <typename Sink>
  void ReadChunk(std::size_t generation, int chunk, Sink& sink) const;
  void Read(std::uint64_t at, char* to, std::size_t size) const;

  std::string path_;
  long replicate_;
  std::string file_;
  GenotypeSettings settings_;
  std::vector<std::string> spillFolders_;
  std::uint64_t maxSamples_;
  bool lists_;
  std::uint64_t samples_ = 0;
  std::vector<LocusAlleleCounts> counts_;  // a row per locus, of every generation
  // The text outside the samples' columns, from the first generation: the
  // meta lines, each line's fixed columns, and the FORMAT column (from the
  // first generation with samples).
  std::string meta_;
  std::array<std::string, kLines> fixed_;
  std::array<std::string, kLines> format_;
  bool formatKnown_ = false;
  std::vector<Block> blocks_;
  std::string text_;     // one generation's text, reused
  std::string pending_;  // kept in memory until it grows past a megabyte
  std::uint64_t spilled_ = 0;
  std::unique_ptr<SpillFile> spill_;
};

template <typename Sink>
void GenotypeVcfStream::ReadChunk(std::size_t generation, int chunk, Sink& sink) const {
  const Block& block = blocks_[generation];
  std::uint64_t at = block.start;
  for (int c = 0; c < chunk; ++c) at += block.lengths[static_cast<std::size_t>(c)];
  std::uint64_t left = block.lengths[static_cast<std::size_t>(chunk)];
  char part[1 << 16];
  while (left > 0) {
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof part));
    Read(at, part, size);
    sink(std::string_view(part, size));
    at += size;
    left -= size;
  }
}

}  // namespace talveron
