#include "record/genotype_vcf_text.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "model/version.h"

namespace talveron {

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

// Alleles per locus: three, the values 0..9, or the neutral genes' two.
int AlleleCount(int locus) {
  if (locus == 3 || locus == 5) return 10;
  return locus < 7 ? 3 : 2;
}

// The REF and ALT columns.
std::string AllelesText(int locus) {
  const int count = AlleleCount(locus);
  std::string text = "N\t";
  for (int a = 1; a < count; ++a) text += (a > 1 ? "," : "") + std::string(count == 10 ? "<V" : "<A") + std::to_string(a) + ">";
  return text;
}

std::string HeaderLines() {
  std::string text =
      "##fileformat=VCFv4.3\n"
      "##FILTER=<ID=PASS,Description=\"All filters passed\">\n"
      "##source=talveron " +
      std::string(kTalveronVersion) +
      "\n"
      "##talveronSampleNames=<Description=\"r<replicate>_g<generation>_h<habitat 0 or 1>_x<column 0-31>_y<row "
      "0-39>_<f female or m male>\">\n"
      "##talveronAlleles=<Description=\"genotypes give the model's own allele numbers: REF N is allele or value 0; "
      "A1 and A2 alleles 1 and 2 (1 and 0 tied to habitat or environment state 1 and 0, 2 the allele every founder "
      "carries); V1 to V9 values 1 to 9\">\n"
      "##contig=<ID=loci,length=" +
      std::to_string(kGenotypeLoci) +
      ">\n"
      "##ALT=<ID=A1,Description=\"allele 1\">\n"
      "##ALT=<ID=A2,Description=\"allele 2\">\n"
      "##INFO=<ID=LOCUS,Number=1,Type=String,Description=\"The locus: habitatPref, habitatSpec, matingPrefType, "
      "matingPrefValue, signalType, signalValue, generalViability, neutral0 to neutral9\">\n"
      "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype of a haploid individual\">\n";
  for (int v = 1; v <= 9; ++v) {
    text += "##ALT=<ID=V" + std::to_string(v) + ",Description=\"value " + std::to_string(v) + "\">\n";
  }
  return text + "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO";
}

// Where each locus's allele lies in an individual, for the GT columns' one
// pass over the samples per record (the same bytes AlleleAt reads).
const std::size_t kAlleleOffsets[kGenotypeLoci] = {
    offsetof(Individ, habitatPref),      offsetof(Individ, habitatSpec),      offsetof(Individ, matingPrefType),
    offsetof(Individ, matingPrefValue),  offsetof(Individ, signalType),       offsetof(Individ, signalValue),
    offsetof(Individ, generalViability), offsetof(Individ, neutralGenes) + 0, offsetof(Individ, neutralGenes) + 1,
    offsetof(Individ, neutralGenes) + 2, offsetof(Individ, neutralGenes) + 3, offsetof(Individ, neutralGenes) + 4,
    offsetof(Individ, neutralGenes) + 5, offsetof(Individ, neutralGenes) + 6, offsetof(Individ, neutralGenes) + 7,
    offsetof(Individ, neutralGenes) + 8, offsetof(Individ, neutralGenes) + 9};

constexpr std::size_t kPieceSize = 1 << 16;

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

void WriteGenotypeVcfText(long replicate, const std::vector<GenotypeSample>& samples,
                          const std::function<void(std::string_view)>& sink) {
  std::size_t count = 0;
  for (const GenotypeSample& sample : samples) count += sample.adults.size();

  // The header, its last line naming the samples.
  std::string text = HeaderLines();
  if (count > 0) text += "\tFORMAT";
  text.reserve(kPieceSize + 256);
  for (const GenotypeSample& sample : samples) {
    for (const Individ& adult : sample.adults) {
      char name[128];
      name[0] = '\t';
      text.append(name, SampleName(name + 1, replicate, sample.generation, adult));
      if (text.size() >= kPieceSize) {
        sink(text);
        text.clear();
      }
    }
  }
  text += '\n';
  sink(text);

  // A record per locus: its fixed columns, then a tab and a digit per
  // sample (every allele 0 to 9), written straight into one buffer.
  std::string columns(2 * count + 1, '\t');
  for (int locus = 0; locus < kGenotypeLoci; ++locus) {
    const std::string& name = GenotypeLocusNames()[static_cast<std::size_t>(locus)];
    text = "loci\t" + std::to_string(locus + 1) + "\t" + name + "\t" + AllelesText(locus) + "\t.\t.\tLOCUS=" + name;
    if (count > 0) text += "\tGT";
    char* at = columns.data();
    const std::size_t offset = kAlleleOffsets[locus];
    unsigned top = 0;
    for (const GenotypeSample& sample : samples) {
      for (const Individ& adult : sample.adults) {
        const unsigned allele = reinterpret_cast<const unsigned char*>(&adult)[offset];
        top = std::max(top, allele);
        at[1] = static_cast<char>('0' + allele);
        at += 2;
      }
    }
    if (top > 9) {  // never in the model; written right all the same
      std::string wide;
      for (const GenotypeSample& sample : samples) {
        for (const Individ& adult : sample.adults) wide += '\t' + std::to_string(AlleleAt(adult, locus));
      }
      text += wide + '\n';
      sink(text);
      continue;
    }
    *at = '\n';
    sink(text);
    sink(columns);
  }
}

std::string GenotypeVcfText(long replicate, const std::vector<GenotypeSample>& samples) {
  std::string text;
  WriteGenotypeVcfText(replicate, samples, [&text](std::string_view piece) { text.append(piece); });
  return text;
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
