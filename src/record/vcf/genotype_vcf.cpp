#include "record/vcf/genotype_vcf.h"

#include <htslib/hts.h>
#include <htslib/vcf.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "model/version.h"
#include "record/output_file.h"

namespace talveron {
namespace {

// Alleles per locus: three, the values 0..9, or the neutral genes' two.
int AlleleCount(int locus) {
  if (locus == 3 || locus == 5) return 10;
  return locus < 7 ? 3 : 2;
}

std::string AllelesText(int locus) {
  const int count = AlleleCount(locus);
  std::string text = "N";
  for (int a = 1; a < count; ++a) text += (count == 10 ? ",<V" : ",<A") + std::to_string(a) + ">";
  return text;
}

struct HeaderFree {
  void operator()(bcf_hdr_t* header) const { bcf_hdr_destroy(header); }
};
struct RecordFree {
  void operator()(bcf1_t* record) const { bcf_destroy(record); }
};

}  // namespace

const std::vector<std::string>& GenotypeLocusNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list = {"habitatPref", "habitatSpec",  "matingPrefType",  "matingPrefValue",
                                     "signalType",  "signalValue", "generalViability"};
    for (int g = 0; g < kNeutralGenes; ++g) list.push_back("neutral" + std::to_string(g));
    return list;
  }();
  return names;
}

int AlleleAt(const Individ& a, int locus) {
  switch (locus) {
    case 0: return a.habitatPref;
    case 1: return a.habitatSpec;
    case 2: return a.matingPrefType;
    case 3: return a.matingPrefValue;
    case 4: return a.signalType;
    case 5: return a.signalValue;
    case 6: return static_cast<std::uint8_t>(a.generalViability);
    default: return a.neutralGenes[static_cast<std::size_t>(locus - 7)];
  }
}

std::vector<int> GenotypeOf(const Individ& a) {
  std::vector<int> alleles;
  for (int locus = 0; locus < kGenotypeLoci; ++locus) alleles.push_back(AlleleAt(a, locus));
  return alleles;
}

namespace {

// Appends `prefix` and `number`; names and table lines are made for every
// sampled individual, so without the temporaries of std::to_string.
char* Put(char* at, const char* prefix, long number) {
  while (*prefix != '\0') *at++ = *prefix++;
  return std::to_chars(at, at + 24, number).ptr;
}

// The name in `buffer` (room for 128 characters); returns its end.
char* SampleName(char* buffer, long replicate, long generation, const Individ& a) {
  char* at = Put(buffer, "r", replicate);
  at = Put(at, "_g", generation);
  at = Put(at, "_h", a.habitat);
  at = Put(at, "_x", a.x);
  at = Put(at, "_y", a.y);
  *at++ = '_';
  *at++ = a.sex ? 'm' : 'f';
  return at;
}

}  // namespace

std::string GenotypeSampleName(long replicate, long generation, const Individ& a) {
  char buffer[128];
  return std::string(buffer, SampleName(buffer, replicate, generation, a));
}

std::string GenotypeFilePath(const std::string& path, long replicate, long replicates) {
  if (replicates == 1) return path;
  const std::string suffix = ".vcf.gz";
  const bool ends = path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
  const std::string stem = ends ? path.substr(0, path.size() - suffix.size()) : path;
  std::string number = std::to_string(replicate);
  number.insert(0, std::to_string(replicates).size() - std::min(number.size(), std::to_string(replicates).size()), '0');
  return stem + "-r" + number + suffix;
}

void WriteGenotypeVcf(const std::string& path, long replicate, const std::vector<GenotypeSample>& samples) {
  const std::string partial = path + ".partial";
  const std::string partialIndex = partial + ".tbi";
  auto fail = [&](const std::string& what) {
    std::remove(partial.c_str());
    std::remove(partialIndex.c_str());
    throw FileError(path, what);
  };
  std::unique_ptr<bcf_hdr_t, HeaderFree> header(bcf_hdr_init("w"));
  if (!header) fail("cannot make a VCF header");
  bcf_hdr_set_version(header.get(), "VCFv4.3");
  const std::vector<std::string> lines = {
      "##source=talveron " + std::string(kTalveronVersion),
      "##talveronSampleNames=<Description=\"r<replicate>_g<generation>_h<habitat 0 or 1>_x<column 0-31>_y<row "
      "0-39>_<f female or m male>\">",
      "##talveronAlleles=<Description=\"genotypes give the model's own allele numbers: REF N is allele or value 0; "
      "A1 and A2 alleles 1 and 2 (1 and 0 tied to habitat or environment state 1 and 0, 2 the allele every founder "
      "carries); V1 to V9 values 1 to 9\">",
      "##contig=<ID=loci,length=" + std::to_string(kGenotypeLoci) + ">",
      "##ALT=<ID=A1,Description=\"allele 1\">",
      "##ALT=<ID=A2,Description=\"allele 2\">",
      "##INFO=<ID=LOCUS,Number=1,Type=String,Description=\"The locus: habitatPref, habitatSpec, matingPrefType, "
      "matingPrefValue, signalType, signalValue, generalViability, neutral0 to neutral9\">",
      "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype of a haploid individual\">",
  };
  for (const std::string& line : lines) {
    if (bcf_hdr_append(header.get(), line.c_str()) != 0) fail("cannot make a VCF header");
  }
  for (int v = 1; v <= 9; ++v) {
    const std::string line = "##ALT=<ID=V" + std::to_string(v) + ",Description=\"value " + std::to_string(v) + "\">";
    if (bcf_hdr_append(header.get(), line.c_str()) != 0) fail("cannot make a VCF header");
  }
  std::size_t count = 0;
  for (const GenotypeSample& sample : samples) {
    for (const Individ& adult : sample.adults) {
      char name[128];
      *SampleName(name, replicate, sample.generation, adult) = '\0';
      if (bcf_hdr_add_sample(header.get(), name) != 0) {
        fail("cannot name a sample");
      }
      ++count;
    }
  }
  if (bcf_hdr_sync(header.get()) != 0) fail("cannot make a VCF header");

  htsFile* file = hts_open(partial.c_str(), "wz1");
  if (file == nullptr) fail(errno != 0 ? std::strerror(errno) : "cannot be created");
  bool ok = bcf_hdr_write(file, header.get()) == 0;
  std::unique_ptr<bcf1_t, RecordFree> record(bcf_init());
  std::vector<std::int32_t> genotypes(count);
  const int contig = bcf_hdr_name2id(header.get(), "loci");
  for (int locus = 0; ok && locus < kGenotypeLoci; ++locus) {
    bcf_clear(record.get());
    record->rid = contig;
    record->pos = locus;  // 0-based: positions 1..17
    std::size_t i = 0;
    for (const GenotypeSample& sample : samples) {
      for (const Individ& adult : sample.adults) genotypes[i++] = bcf_gt_unphased(AlleleAt(adult, locus));
    }
    const std::string& name = GenotypeLocusNames()[static_cast<std::size_t>(locus)];
    ok = bcf_update_id(header.get(), record.get(), name.c_str()) == 0 &&
         bcf_update_alleles_str(header.get(), record.get(), AllelesText(locus).c_str()) == 0 &&
         bcf_update_info_string(header.get(), record.get(), "LOCUS", name.c_str()) == 0 &&
         (count == 0 || bcf_update_genotypes(header.get(), record.get(), genotypes.data(),
                                             static_cast<int>(genotypes.size())) == 0) &&
         bcf_write(file, header.get(), record.get()) == 0;
  }
  const int errorNumber = errno;
  if (hts_close(file) != 0 || !ok) fail(errorNumber != 0 ? std::strerror(errorNumber) : "cannot be written");
  if (bcf_index_build3(partial.c_str(), partialIndex.c_str(), 0, 0) != 0) fail("cannot be indexed");
  std::error_code error;
  std::filesystem::rename(partialIndex, path + ".tbi", error);
  if (!error) std::filesystem::rename(partial, path, error);
  if (error) fail(error.message());
}

std::string GenotypeTableLines(long replicate, const std::vector<GenotypeSample>& samples, const std::string& file) {
  std::string text;
  char line[256];
  for (const GenotypeSample& sample : samples) {
    for (const Individ& a : sample.adults) {
      char* at = SampleName(line, replicate, sample.generation, a);
      at = Put(at, "\t", replicate);
      at = Put(at, "\t", sample.generation);
      at = Put(at, "\t", a.habitat);
      at = Put(at, "\t", a.x);
      at = Put(at, "\t", a.y);
      *at++ = '\t';
      *at++ = a.sex ? 'm' : 'f';
      *at++ = '\t';
      text.append(line, at);
      text += file;
      text += '\n';
    }
  }
  return text;
}

}  // namespace talveron
