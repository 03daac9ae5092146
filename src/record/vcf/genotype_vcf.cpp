#include "record/vcf/genotype_vcf.h"

#include <htslib/bgzf.h>
#include <htslib/tbx.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "record/output_file.h"

namespace talveron {

void WriteGenotypeVcf(const std::string& path, long replicate, const std::vector<GenotypeSample>& samples) {
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
  bool ok = true;
  int errorNumber = 0;
  WriteGenotypeVcfText(replicate, samples, [&](std::string_view piece) {
    if (ok && bgzf_write(file, piece.data(), piece.size()) != static_cast<ssize_t>(piece.size())) {
      ok = false;
      errorNumber = errno;
    }
  });
  if (bgzf_close(file) != 0 && ok) {
    ok = false;
    errorNumber = errno;
  }
  if (!ok) fail(errorNumber != 0 ? std::strerror(errorNumber) : "cannot be written");
  if (tbx_index_build2(partial.c_str(), partialIndex.c_str(), 0, &tbx_conf_vcf) != 0) fail("cannot be indexed");
  std::error_code error;
  std::filesystem::rename(partialIndex, path + ".tbi", error);
  if (!error) std::filesystem::rename(partial, path, error);
  if (error) fail(error.message());
}

}  // namespace talveron
