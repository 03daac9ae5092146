#include "record/vcf/genotype_vcf.h"

#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <htslib/tbx.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>

#include "record/output_file.h"
#include "record/vcf/spill_file.h"

namespace talveron {
namespace {

struct IndexFree {
  void operator()(hts_idx_t* index) const { hts_idx_destroy(index); }
};

// The tabix index's own header: the VCF layout and the contigs' names, a
// record's locus each, as tabix writes it for a .vcf.gz.
bool SetTabixMeta(hts_idx_t* index) {
  std::string names;
  for (const std::string& name : GenotypeLocusNames()) names.append(name.c_str(), name.size() + 1);
  const std::int32_t numbers[7] = {tbx_conf_vcf.preset,    tbx_conf_vcf.sc,        tbx_conf_vcf.bc,
                                   tbx_conf_vcf.ec,        tbx_conf_vcf.meta_char, tbx_conf_vcf.line_skip,
                                   static_cast<std::int32_t>(names.size())};
  std::vector<std::uint8_t> meta(sizeof numbers + names.size());
  std::memcpy(meta.data(), numbers, sizeof numbers);  // little-endian, as the file wants
  std::memcpy(meta.data() + sizeof numbers, names.data(), names.size());
  return hts_idx_set_meta(index, static_cast<std::uint32_t>(meta.size()), meta.data(), 1) == 0;
}

using Piece = std::function<void(std::string_view)>;

// Writes the text `produce` gives, in pieces, to `path` with bgzip and its
// index to `indexPath`; `shown` names the file in a FileError. The index is
// built while the text is written, as tabix would build it from the file:
// the header and every record end a piece of the text, no other piece ends
// with a newline, and record L lies at position 1 of contig L.
void WriteIndexedVcf(const std::string& path, const std::string& indexPath, const std::string& shown,
                     const std::function<void(const Piece&)>& produce) {
  auto fail = [&](const std::string& what) {
    std::remove(path.c_str());
    std::remove(indexPath.c_str());
    throw FileError(shown, what);
  };
  errno = 0;
  BGZF* file = bgzf_open(path.c_str(), "w1");
  if (file == nullptr) fail(errno != 0 ? std::strerror(errno) : "cannot be created");

  std::unique_ptr<hts_idx_t, IndexFree> index;
  int locus = -1;  // -1 while the header is written
  bool ok = true;
  int errorNumber = 0;
  const Piece write = [&](std::string_view piece) {
    if (!ok) return;
    ok = bgzf_write(file, piece.data(), piece.size()) == static_cast<ssize_t>(piece.size());
    if (ok && !piece.empty() && piece.back() == '\n') {
      if (locus < 0) {
        index.reset(hts_idx_init(0, HTS_FMT_TBI, static_cast<std::uint64_t>(bgzf_tell(file)), 14, 5));
        ok = index != nullptr;
      } else {
        ok = hts_idx_push(index.get(), locus, 0, 1, static_cast<std::uint64_t>(bgzf_tell(file)), 1) == 0;
      }
      ++locus;
    }
    if (!ok) errorNumber = errno;
  };
  try {
    produce(write);
  } catch (...) {  // out of memory, or the text could not be read back: nothing left behind
    bgzf_close(file);
    std::remove(path.c_str());
    std::remove(indexPath.c_str());
    throw;
  }
  // The last chunk ends where tabix reading the file would find its end:
  // at the next block.
  ok = ok && locus == kGenotypeLoci && bgzf_flush(file) == 0 &&
       hts_idx_finish(index.get(), static_cast<std::uint64_t>(bgzf_tell(file))) == 0 && SetTabixMeta(index.get());
  if (!ok && errorNumber == 0) errorNumber = errno;
  if (bgzf_close(file) != 0 && ok) {
    ok = false;
    errorNumber = errno;
  }
  if (!ok) fail(errorNumber != 0 ? std::strerror(errorNumber) : "cannot be written");
  if (hts_idx_save_as(index.get(), path.c_str(), indexPath.c_str(), HTS_FMT_TBI) != 0) fail("cannot be indexed");
}

// The end of a line's first `fields` tab-separated fields, or the line's end.
std::size_t FieldsEnd(std::string_view line, int fields) {
  std::size_t at = std::string_view::npos;
  for (int f = 0; f < fields; ++f) {
    at = line.find('\t', at == std::string_view::npos ? 0 : at + 1);
    if (at == std::string_view::npos) return line.size();
  }
  return at;
}

constexpr std::size_t kInMemory = std::size_t{1} << 20;

}  // namespace

void WriteGenotypeVcf(const std::string& path, long replicate, const std::vector<GenotypeSample>& samples,
                      const GenotypeSettings& settings) {
  const std::string partial = path + ".partial";
  const std::string partialIndex = partial + ".tbi";
  WriteIndexedVcf(partial, partialIndex, path,
                  [&](const Piece& write) { WriteGenotypeVcfText(replicate, samples, settings, write); });
  std::error_code error;
  std::filesystem::rename(partialIndex, path + ".tbi", error);
  if (!error) std::filesystem::rename(partial, path, error);
  if (error) {
    std::remove(partial.c_str());
    std::remove(partialIndex.c_str());
    throw FileError(path, error.message());
  }
}

GenotypeVcfStream::GenotypeVcfStream(std::string path, long replicate, std::string file,
                                     const GenotypeSettings& settings, std::vector<std::string> spillFolders,
                                     std::uint64_t maxSamples, bool lists)
    : path_(std::move(path)),
      replicate_(replicate),
      file_(std::move(file)),
      settings_(settings),
      spillFolders_(std::move(spillFolders)),
      maxSamples_(maxSamples),
      lists_(lists) {}

GenotypeVcfStream::~GenotypeVcfStream() = default;

void GenotypeVcfStream::Keep(std::string_view bytes) {
  pending_.append(bytes);
  if (pending_.size() < kInMemory) return;
  if (!spill_) spill_ = std::make_unique<SpillFile>(spillFolders_);
  spill_->Append(pending_);
  spilled_ += pending_.size();
  pending_.clear();
}

void GenotypeVcfStream::Read(std::uint64_t at, char* to, std::size_t size) const {
  // A chunk is kept whole, either spilled or still in memory.
  if (at >= spilled_) {
    std::memcpy(to, pending_.data() + (at - spilled_), size);
  } else {
    spill_->Read(at, to, size);
  }
}

// The generation's text, as WriteGenotypeVcfText gives it for this
// generation alone, taken apart: the samples' columns of each line are
// what the generation adds to the file of every generation, and its
// alleles what it adds to the records' counts (INFO).
void GenotypeVcfStream::Add(GenotypeSample sample) {
  const std::uint64_t count = sample.adults.size();
  if (samples_ + count > maxSamples_) {
    throw FileError(path_, "generation " + std::to_string(sample.generation) + " would make it name " +
                               std::to_string(samples_ + count) + " samples, more than the " +
                               std::to_string(maxSamples_) +
                               " that htslib's readers (bcftools, pysam) take; sample fewer generations "
                               "(--sample-every) or run fewer");
  }
  std::vector<GenotypeSample> one;
  one.push_back(std::move(sample));
  CountGenotypeAlleles(one[0], counts_);
  text_.clear();
  WriteGenotypeVcfText(replicate_, one, settings_, [this](std::string_view piece) { text_.append(piece); });

  const std::string_view text = text_;
  std::size_t at = text.find("\n#CHROM");
  if (at == std::string_view::npos) throw std::logic_error("a VCF text without its #CHROM line");
  ++at;
  const bool first = blocks_.empty();
  if (first) {
    meta_ = std::string(text.substr(0, at));
  } else if (text.substr(0, at) != meta_) {
    throw std::logic_error("the VCF header of one generation differs from another's");
  }
  Block block;
  block.start = spilled_ + pending_.size();
  for (int line = 0; line < kLines; ++line) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) throw std::logic_error("a VCF text cut short");
    const std::string_view whole = text.substr(at, end - at);
    at = end + 1;
    // Eight fixed columns, then FORMAT and a column per sample when there
    // are samples. A record's INFO counts this generation's alleles; the
    // file's is made from the counts of all of them.
    const std::size_t fixedEnd = FieldsEnd(whole, 8);
    const std::string_view fixed = whole.substr(0, line == 0 ? fixedEnd : FieldsEnd(whole, 7));
    if (first) {
      fixed_[static_cast<std::size_t>(line)] = std::string(fixed);
    } else if (fixed != fixed_[static_cast<std::size_t>(line)]) {
      throw std::logic_error("a VCF record of one generation differs from another's outside the samples");
    }
    std::string_view columns;
    if (fixedEnd < whole.size()) {
      const std::size_t formatEnd = FieldsEnd(whole, 9);
      if (!formatKnown_) format_[static_cast<std::size_t>(line)] = std::string(whole.substr(fixedEnd, formatEnd - fixedEnd));
      columns = whole.substr(formatEnd);
    }
    Keep(columns);
    block.lengths[static_cast<std::size_t>(line)] = static_cast<std::uint32_t>(columns.size());
  }
  if (count > 0) formatKnown_ = true;
  const std::string table = GenotypeTableLines(replicate_, one, file_);
  Keep(table);
  block.lengths[kTableChunk] = static_cast<std::uint32_t>(table.size());
  if (lists_) {
    const std::string lists[] = {GenotypeHabitatLines(replicate_, one, 0), GenotypeHabitatLines(replicate_, one, 1),
                                 GenotypeSexLines(replicate_, one)};
    for (std::size_t list = 0; list < std::size(lists); ++list) {
      Keep(lists[list]);
      block.lengths[kTableChunk + 1 + list] = static_cast<std::uint32_t>(lists[list].size());
    }
  }
  blocks_.push_back(block);
  samples_ += count;
}

void GenotypeVcfStream::WriteVcf(const std::string& vcfPath, const std::string& indexPath) const {
  WriteIndexedVcf(vcfPath, indexPath, path_, [this](const Piece& write) {
    if (blocks_.empty()) {  // nothing sampled: the file of no generation
      WriteGenotypeVcfText(replicate_, {}, settings_, write);
      return;
    }
    for (int line = 0; line < kLines; ++line) {
      const std::size_t l = static_cast<std::size_t>(line);
      std::string head = line == 0 ? meta_ + fixed_[0] : GenotypeRecordColumns(line - 1, counts_[l - 1], samples_);
      if (formatKnown_) head += format_[l];
      write(head);
      for (std::size_t g = 0; g < blocks_.size(); ++g) ReadChunk(g, line, write);
      write("\n");
    }
  });
}

}  // namespace talveron
