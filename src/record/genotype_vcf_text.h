// Genotype samples as the text of a VCF 4.2 file, and the files beside it:
// the samples table, and the samples of each habitat and their sexes as
// vcftools and plink read them. Plain text only: compressing and indexing
// the file is record/vcf's (htslib), so the browser's build and the
// Python package can write the same text without it.
//
// One record per locus, each on a contig of its own named after the locus
// (the loci are inherited independently), at position 1, in the order of
// an individual's record: habitatPref, habitatSpec, matingPrefType,
// matingPrefValue, signalType, signalValue, generalViability, then the
// neutral genes neutral0 .. neutral9. The allele numbers of a genotype are
// the model's own: REF (N) is allele or value 0, the symbolic ALT <A1>,
// <A2> alleles 1 and 2, <V1> .. <V9> values 1 to 9. Every individual is
// one haploid sample named r<replicate>_g<generation>_h<habitat>_
// x<column>_y<row>_<f|m>. The header names the program's version and the
// settings the samples ran with, never the command line, so that every
// program that runs the same settings writes the same bytes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/parameter_schedule.h"
#include "model/parameters.h"
#include "record/genotype_sample.h"

namespace talveron {

inline constexpr int kGenotypeLoci = 17;

// The loci's names, in the order of their records.
const std::vector<std::string>& GenotypeLocusNames();
// An individual's allele (or value) at a locus (0 to 16), and at each locus.
int AlleleAt(const Individ& individual, int locus);
std::vector<int> GenotypeOf(const Individ& individual);

std::string GenotypeSampleName(long replicate, long generation, const Individ& individual);

// The file of replicate k of a series of `replicates`: `path` itself for a
// single replicate, else with "-rK" (K padded to the width of the count)
// before its ".vcf.gz".
std::string GenotypeFilePath(const std::string& path, long replicate, long replicates);

// The settings the samples ran with, as the header names them: every
// parameter's value at the start of a replicate, and the changes scheduled
// during it (none where the caller schedules none).
struct GenotypeSettings {
  Parameters params;
  ParameterSchedule changes;
};

// The whole VCF text of a replicate's samples, uncompressed: the header
// (meta lines and the #CHROM line naming every sampled individual, in the
// samples' order) and the 17 records with a GT column per sample. Given
// to `sink` in pieces, each valid only during its call; the header and
// each record end a piece, and no other piece ends with a newline (so an
// index can be built while the text is written).
void WriteGenotypeVcfText(long replicate, const std::vector<GenotypeSample>& samples,
                          const GenotypeSettings& settings, const std::function<void(std::string_view)>& sink);
// The same as one string.
std::string GenotypeVcfText(long replicate, const std::vector<GenotypeSample>& samples,
                            const GenotypeSettings& settings);

// How many samples carry each allele (0 to 255) at one locus: what its
// record's INFO gives.
using LocusAlleleCounts = std::array<std::uint64_t, 256>;
// Adds the sample's alleles at every locus to `counts`, a row per locus
// (made when empty).
void CountGenotypeAlleles(const GenotypeSample& sample, std::vector<LocusAlleleCounts>& counts);
// The eight fixed columns (CHROM to INFO) of locus `locus`'s record in a
// file of `total` samples whose alleles there are `counts`.
std::string GenotypeRecordColumns(int locus, const LocusAlleleCounts& counts, std::uint64_t total);

// The samples table: a line per sample, in the order of the VCF's columns.
inline constexpr const char* kGenotypeTableHeader = "sample\treplicate\tgeneration\thabitat\tx\ty\tsex\tfile\n";
std::string GenotypeTableLines(long replicate, const std::vector<GenotypeSample>& samples, const std::string& file);

// The names of the samples of one habitat, a line each: a population file
// of vcftools (--weir-fst-pop) and a sample file of bcftools (-S).
std::string GenotypeHabitatLines(long replicate, const std::vector<GenotypeSample>& samples, int habitat);
// Every sample's sex as plink reads it with --update-sex after loading the
// VCF with --double-id: the name twice (family and individual) and 1 for a
// male, 2 for a female, tab-separated.
std::string GenotypeSexLines(long replicate, const std::vector<GenotypeSample>& samples);

}  // namespace talveron
