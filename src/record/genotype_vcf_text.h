// Genotype samples as the text of a VCF 4.3 file, and the samples table
// beside it. Plain text only: compressing and indexing the file is
// record/vcf's (htslib), so the browser's build and the Python package can
// write the same text without it.
//
// One record per locus on the contig "loci", at positions 1 to 17 in the
// order of an individual's record: habitatPref, habitatSpec,
// matingPrefType, matingPrefValue, signalType, signalValue,
// generalViability, neutral0 .. neutral9. The allele numbers of a
// genotype are the model's own: REF (N) is allele or value 0, the symbolic
// ALT <A1>, <A2> alleles 1 and 2, <V1> .. <V9> values 1 to 9. Every
// individual is one haploid sample named r<replicate>_g<generation>_
// h<habitat>_x<column>_y<row>_<f|m>.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

// The whole VCF text of a replicate's samples, uncompressed: the header
// (meta lines and the #CHROM line naming every sampled individual, in the
// samples' order) and the 17 records with a GT column per sample. Given
// to `sink` in pieces of up to about 64 KB besides a record's columns;
// the pieces are valid only during the call.
void WriteGenotypeVcfText(long replicate, const std::vector<GenotypeSample>& samples,
                          const std::function<void(std::string_view)>& sink);
// The same as one string.
std::string GenotypeVcfText(long replicate, const std::vector<GenotypeSample>& samples);

// The samples table: a line per sample, in the order of the VCF's columns.
inline constexpr const char* kGenotypeTableHeader = "sample\treplicate\tgeneration\thabitat\tx\ty\tsex\tfile\n";
std::string GenotypeTableLines(long replicate, const std::vector<GenotypeSample>& samples, const std::string& file);

}  // namespace talveron
