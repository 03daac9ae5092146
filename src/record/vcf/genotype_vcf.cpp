#include "record/vcf/genotype_vcf.h"

#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <htslib/tbx.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "record/output_file.h"

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

}  // namespace

void WriteGenotypeVcf(const std::string& path, long replicate, const std::vector<GenotypeSample>& samples,
                      const GenotypeSettings& settings) {
  const std::string partial = path + ".partial";
  const std::string partialIndex = partial + ".tbi";
  auto fail = [&](const std::string& what) {
    std::remove(partial.c_str());
    std::remove(partialIndex.c_str());
    throw FileError(path, what);
  };
  errno = 0;
  BGZF* file = bgzf_open(partial.c_str(), "w1");
  if (file == nullptr) fail(errno != 0 ? std::strerror(errno) : "cannot be created");

  // The index is built while the text is written, as tabix would build it
  // from the file: the header and every record end a piece of the text,
  // and record L lies at position 1 of contig L.
  std::unique_ptr<hts_idx_t, IndexFree> index;
  int locus = -1;  // -1 while the header is written
  bool ok = true;
  int errorNumber = 0;
  auto write = [&](std::string_view piece) {
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
    WriteGenotypeVcfText(replicate, samples, settings, write);
  } catch (...) {  // out of memory: nothing left behind
    bgzf_close(file);
    std::remove(partial.c_str());
    std::remove(partialIndex.c_str());
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
  if (hts_idx_save_as(index.get(), partial.c_str(), partialIndex.c_str(), HTS_FMT_TBI) != 0) fail("cannot be indexed");
  std::error_code error;
  std::filesystem::rename(partialIndex, path + ".tbi", error);
  if (!error) std::filesystem::rename(partial, path, error);
  if (error) fail(error.message());
}

}  // namespace talveron
