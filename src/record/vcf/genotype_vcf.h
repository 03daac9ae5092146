// Genotype samples as VCF 4.2 (record/genotype_vcf_text.h), compressed
// with bgzip and indexed with tabix (htslib).
#pragma once

#include <string>
#include <vector>

#include "record/genotype_sample.h"
#include "record/genotype_vcf_text.h"

namespace talveron {

// Writes `path` and `path`.tbi, beside their names until both are
// complete; throws FileError.
void WriteGenotypeVcf(const std::string& path, long replicate, const std::vector<GenotypeSample>& samples,
                      const GenotypeSettings& settings);

}  // namespace talveron
