#include "record/genotype_vcf_text.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "model/version.h"

namespace talveron {
namespace {

// A locus's record: its name, where its allele lies in an individual (the
// same byte AlleleAt reads), its number of alleles (three, the values 0..9,
// or a neutral gene's two) and the founders' allele, the ancestral one.
struct LocusRecord {
  std::string name;
  std::size_t offset;
  int alleles;
  int ancestral;
};

// The seven selected loci; the neutral genes follow, one record each.
const LocusRecord kSelectedLoci[] = {
    {"habitatPref", offsetof(Individ, habitatPref), 3, Individ{}.habitatPref},
    {"habitatSpec", offsetof(Individ, habitatSpec), 3, Individ{}.habitatSpec},
    {"matingPrefType", offsetof(Individ, matingPrefType), 3, Individ{}.matingPrefType},
    {"matingPrefValue", offsetof(Individ, matingPrefValue), 10, Individ{}.matingPrefValue},
    {"signalType", offsetof(Individ, signalType), 3, Individ{}.signalType},
    {"signalValue", offsetof(Individ, signalValue), 10, Individ{}.signalValue},
    {"generalViability", offsetof(Individ, generalViability), 3, Individ{}.generalViability},
};

LocusRecord NeutralLocus(int gene) {
  return {"neutral" + std::to_string(gene), offsetof(Individ, neutralGenes) + static_cast<std::size_t>(gene), 2,
          Individ{}.neutralGenes[static_cast<std::size_t>(gene)]};
}

static_assert(sizeof(Individ::neutralGenes) == kNeutralGenes, "a byte per neutral gene");

}  // namespace

const std::vector<std::string>& GenotypeLocusNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list;
    for (const LocusRecord& locus : kSelectedLoci) list.push_back(locus.name);
    for (int gene = 0; gene < kNeutralGenes; ++gene) list.push_back(NeutralLocus(gene).name);
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

// Allele `a` of a locus of `count` alleles as the REF and ALT columns name it.
std::string AlleleText(int count, int a) {
  if (a == 0) return "N";
  return (count == 10 ? "<V" : "<A") + std::to_string(a) + ">";
}

// The shortest text that reads back as the single-precision frequency
// count / total (the precision of bcftools' own AF).
std::string FrequencyText(std::uint64_t count, std::uint64_t total) {
  const float frequency = static_cast<float>(static_cast<double>(count) / static_cast<double>(total));
  char buffer[32];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, frequency).ptr);
}

// The settings as structured lines every client parses: an ID each, and
// no value with a comma, a quote or a space. The changes in the order of
// their generations, so the same schedule always gives the same lines.
std::string SettingsLines(const GenotypeSettings& settings) {
  std::string text;
  for (const ParameterInfo& info : ParameterTable()) {
    text += "##talveronParameter=<ID=" + std::string(info.name) + ",Value=" + FormatParameter(settings.params, info) +
            ">\n";
  }
  std::vector<const ParameterChange*> changes;
  for (const ParameterChange& change : settings.changes.changes()) changes.push_back(&change);
  std::stable_sort(changes.begin(), changes.end(),
                   [](const ParameterChange* a, const ParameterChange* b) { return a->generation < b->generation; });
  int id = 0;
  for (const ParameterChange* change : changes) {
    for (const auto& [name, value] : ChangedValues(*change)) {
      text += "##talveronChange=<ID=" + std::to_string(++id) + ",Generation=" + std::to_string(change->generation) +
              ",Name=" + name + ",Value=" + value + ">\n";
    }
  }
  return text;
}

// Descriptions without commas: vcftools splits a header line at every one.
std::string HeaderLines(const GenotypeSettings& settings) {
  std::string text =
      "##fileformat=VCFv4.2\n"
      "##FILTER=<ID=PASS,Description=\"All filters passed\">\n"
      "##source=Talveron " +
      std::string(kTalveronVersion) +
      "\n"
      "##talveronSampleNames=<ID=SampleName,Description=\"r<replicate>_g<generation>_h<habitat 0 or 1>_x<column "
      "0-31>_y<row 0-39>_<f female or m male>\">\n"
      "##talveronAlleles=<ID=AlleleNumbers,Description=\"genotypes give the model's own allele numbers: REF N is "
      "allele or value 0; A1 and A2 alleles 1 and 2 (1 and 0 tied to habitat or environment state 1 and 0; 2 the "
      "allele every founder carries); V1 to V9 values 1 to 9\">\n" +
      SettingsLines(settings);
  for (const std::string& name : GenotypeLocusNames()) text += "##contig=<ID=" + name + ",length=1>\n";
  text +=
      "##ALT=<ID=A1,Description=\"allele 1\">\n"
      "##ALT=<ID=A2,Description=\"allele 2\">\n";
  for (int v = 1; v <= 9; ++v) {
    text += "##ALT=<ID=V" + std::to_string(v) + ",Description=\"value " + std::to_string(v) + "\">\n";
  }
  return text +
         "##INFO=<ID=LOCUS,Number=1,Type=String,Description=\"The locus: the name of its record and contig\">\n"
         "##INFO=<ID=AA,Number=1,Type=String,Description=\"Ancestral allele: the one every founder carries\">\n"
         "##INFO=<ID=AN,Number=1,Type=Integer,Description=\"Total number of alleles in called genotypes\">\n"
         "##INFO=<ID=AC,Number=A,Type=Integer,Description=\"Allele count in genotypes for each ALT allele in the "
         "order listed\">\n"
         "##INFO=<ID=AF,Number=A,Type=Float,Description=\"Allele frequency for each ALT allele in the order "
         "listed\">\n"
         "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype of a haploid individual\">\n"
         "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO";
}

// The record's fixed columns: its locus, alleles and INFO.
std::string RecordColumns(const LocusRecord& locus, const LocusAlleleCounts& counts, std::uint64_t total) {
  std::string text = locus.name + "\t1\t" + locus.name + "\tN\t";
  for (int a = 1; a < locus.alleles; ++a) text += (a > 1 ? "," : "") + AlleleText(locus.alleles, a);
  text += "\t.\t.\tLOCUS=" + locus.name + ";AA=" + AlleleText(locus.alleles, locus.ancestral) +
          ";AN=" + std::to_string(total) + ";AC=";
  for (int a = 1; a < locus.alleles; ++a) {
    text += (a > 1 ? "," : "") + std::to_string(counts[static_cast<std::size_t>(a)]);
  }
  if (total > 0) {
    text += ";AF=";
    for (int a = 1; a < locus.alleles; ++a) {
      text += (a > 1 ? "," : "") + FrequencyText(counts[static_cast<std::size_t>(a)], total);
    }
  }
  return text;
}

// The locus of record `locus`: a selected one, then the neutral genes.
LocusRecord LocusOf(int locus) {
  constexpr int selected = static_cast<int>(std::size(kSelectedLoci));
  return locus < selected ? kSelectedLoci[locus] : NeutralLocus(locus - selected);
}

// A record: its GT columns written straight into `columns` (a tab and a
// digit per sample, every allele 0 to 9) while its alleles are counted,
// then its fixed columns and INFO, then the GT columns.
void WriteRecord(const LocusRecord& locus, const std::vector<GenotypeSample>& samples, std::size_t count,
                 std::string& columns, const std::function<void(std::string_view)>& sink) {
  LocusAlleleCounts counts{};
  char* at = columns.data();
  for (const GenotypeSample& sample : samples) {
    for (const Individ& adult : sample.adults) {
      const unsigned char allele = reinterpret_cast<const unsigned char*>(&adult)[locus.offset];
      ++counts[allele];
      at[1] = static_cast<char>('0' + allele);
      at += 2;
    }
  }
  std::string text = RecordColumns(locus, counts, count);
  if (count > 0) text += "\tGT";
  if (std::any_of(counts.begin() + 10, counts.end(), [](std::uint64_t n) { return n > 0; })) {  // never in the model
    for (const GenotypeSample& sample : samples) {
      for (const Individ& adult : sample.adults) {
        text += '\t' + std::to_string(reinterpret_cast<const unsigned char*>(&adult)[locus.offset]);
      }
    }
    text += '\n';
    sink(text);
    return;
  }
  *at = '\n';
  sink(text);
  sink(columns);
}

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
                          const GenotypeSettings& settings, const std::function<void(std::string_view)>& sink) {
  std::size_t count = 0;
  for (const GenotypeSample& sample : samples) count += sample.adults.size();

  // The header, its last line naming the samples.
  std::string text = HeaderLines(settings);
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

  // A record per locus, the GT columns of each written into one buffer.
  std::string columns(2 * count + 1, '\t');
  for (const LocusRecord& locus : kSelectedLoci) WriteRecord(locus, samples, count, columns, sink);
  for (int gene = 0; gene < kNeutralGenes; ++gene) WriteRecord(NeutralLocus(gene), samples, count, columns, sink);
}

std::string GenotypeVcfText(long replicate, const std::vector<GenotypeSample>& samples,
                            const GenotypeSettings& settings) {
  std::string text;
  WriteGenotypeVcfText(replicate, samples, settings, [&text](std::string_view piece) { text.append(piece); });
  return text;
}

void CountGenotypeAlleles(const GenotypeSample& sample, std::vector<LocusAlleleCounts>& counts) {
  counts.resize(kGenotypeLoci);
  for (int locus = 0; locus < kGenotypeLoci; ++locus) {
    const std::size_t offset = LocusOf(locus).offset;
    LocusAlleleCounts& row = counts[static_cast<std::size_t>(locus)];
    for (const Individ& adult : sample.adults) ++row[reinterpret_cast<const unsigned char*>(&adult)[offset]];
  }
}

std::string GenotypeRecordColumns(int locus, const LocusAlleleCounts& counts, std::uint64_t total) {
  return RecordColumns(LocusOf(locus), counts, total);
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

std::string GenotypeHabitatLines(long replicate, const std::vector<GenotypeSample>& samples, int habitat) {
  std::string text;
  char line[128];
  for (const GenotypeSample& sample : samples) {
    for (const Individ& a : sample.adults) {
      if (a.habitat != habitat) continue;
      char* at = SampleName(line, replicate, sample.generation, a);
      *at++ = '\n';
      text.append(line, at);
    }
  }
  return text;
}

std::string GenotypeSexLines(long replicate, const std::vector<GenotypeSample>& samples) {
  std::string text;
  char line[256];
  for (const GenotypeSample& sample : samples) {
    for (const Individ& a : sample.adults) {
      char* at = SampleName(line, replicate, sample.generation, a);
      const std::size_t length = static_cast<std::size_t>(at - line);
      *at++ = '\t';
      std::memcpy(at, line, length);
      at += length;
      *at++ = '\t';
      *at++ = a.sex ? '1' : '2';
      *at++ = '\n';
      text.append(line, at);
    }
  }
  return text;
}

}  // namespace talveron
