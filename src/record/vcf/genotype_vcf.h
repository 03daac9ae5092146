// Genotype samples as VCF 4.3, compressed with bgzip and indexed with tabix
// (htslib), and the samples table beside them.
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

#include <string>
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

// Writes `path` and `path`.tbi, beside their names until both are
// complete; throws FileError.
void WriteGenotypeVcf(const std::string& path, long replicate, const std::vector<GenotypeSample>& samples);

// The samples table: a line per sample, in the order of the VCF's columns.
inline constexpr const char* kGenotypeTableHeader = "sample\treplicate\tgeneration\thabitat\tx\ty\tsex\tfile\n";
std::string GenotypeTableLines(long replicate, const std::vector<GenotypeSample>& samples, const std::string& file);

}  // namespace talveron
