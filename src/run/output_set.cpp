#include "run/output_set.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "record/vcf/genotype_output.h"
#include "record/vcf/genotype_vcf.h"

namespace talveron {
namespace {

namespace fs = std::filesystem;

// The forms of an output's name that another output may not take.
enum Form { kItself, kWorking, kLock };

struct Taken {
  std::size_t output;
  Form form;
  bool direct;
};

std::string Reason(int error) { return std::strerror(error != 0 ? error : EIO); }

// The folder a file is made in must be there and take new files: a file
// made only at the end of the run (a replicate's VCF file) is checked now.
void CheckFolder(const std::string& path) {
  fs::path folder = fs::path(LinkTarget(path)).parent_path();
  if (folder.empty()) folder = ".";
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) throw FileError(path, Reason(errno));
  if (!S_ISDIR(info.st_mode)) throw FileError(path, Reason(ENOTDIR));
  if (::access(folder.c_str(), W_OK | X_OK) != 0) throw FileError(path, Reason(errno));
}

// Whether another process holds the lock of the file's working name (an
// output being written, OutputFile).
bool WorkingFileBusy(const std::string& path) {
  const std::string working = WorkingPath(path);
  struct stat info {};
  if (::lstat(working.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const int fd = ::open(working.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return busy;
}

}  // namespace

std::string OutputSet::Shown(const PlannedOutput& output) const {
  return "'" + output.path + "'" + (output.role.empty() ? "" : " (" + output.role + ")");
}

int OutputSet::Claim(std::string& why) {
  // One file under two names, by the names' normal forms (files not made
  // yet count too) and, for files that exist, by device and inode. Devices
  // and pipes may take several streams.
  std::map<std::string, Taken> taken;
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    const PlannedOutput& output = outputs_[i];
    const std::string lock = SeriesLockPath(output.path);
    const bool direct = lock.empty();
    std::vector<std::pair<Form, std::string>> forms = {{kItself, output.path}};
    if (!direct) forms.emplace_back(kWorking, WorkingPath(output.path));
    if (!direct && output.locked) forms.emplace_back(kLock, lock);
    for (const auto& [form, path] : forms) {
      std::vector<std::string> keys;
      if (!direct) keys.push_back("p" + NormalPath(path));
      struct stat info {};
      if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        keys.push_back("i" + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino));
      }
      for (const std::string& key : keys) {
        const auto [found, inserted] = taken.emplace(key, Taken{i, form, direct});
        const Taken& before = found->second;
        if (inserted || before.output == i || (direct && before.direct)) continue;
        const PlannedOutput& other = outputs_[before.output];
        const std::string options =
            other.option == output.option ? other.option : other.option + " and " + output.option;
        auto named = [this](const PlannedOutput& o, Form f) {
          if (f == kWorking) return "'" + PartialPath(o.path) + "' (written while " + o.path + " runs)";
          return Shown(o);
        };
        std::string text;
        if (before.form == kLock || form == kLock) {
          const bool otherLocks = before.form == kLock;
          const PlannedOutput& locking = otherLocks ? other : output;
          text = named(otherLocks ? output : other, otherLocks ? form : before.form) +
                 " is the same file as the lock file " + locking.path + ".lock";
        } else {
          text = named(other, before.form) + " and " + named(output, form) + " are the same file";
        }
        why = options + ": " + text + "; give each its own file";
        return 2;
      }
    }
  }
  // Another output's working or lock file.
  for (const PlannedOutput& output : outputs_) {
    if (SeriesLockPath(output.path).empty()) continue;
    if (const std::string reason = WorkingFileName(output.path); !reason.empty()) {
      why = output.option + " " + Shown(output) + ": " + reason;
      return 2;
    }
  }
  try {
    for (const PlannedOutput& output : outputs_) {
      if (!output.written || SeriesLockPath(output.path).empty()) continue;
      CheckPathUsable(output.path);
      std::error_code unknown;
      if (fs::is_directory(output.path, unknown)) throw FileError(output.path, "Is a directory");
      const std::string working = WorkingPath(output.path);
      if (fs::is_directory(working, unknown)) throw FileError(working, "Is a directory");
      CheckFolder(output.path);
      CheckReplaceable(output.path);
    }
    for (const PlannedOutput& output : outputs_) {
      if (!output.written || SeriesLockPath(output.path).empty() || !WorkingFileBusy(output.path)) continue;
      why = output.option + " " + Shown(output) + " is being written by another process (its working file " +
            WorkingPath(output.path) + " is locked); wait for it to end, or choose another file";
      return 2;
    }
    for (const PlannedOutput& output : outputs_) {
      const std::string lockPath = SeriesLockPath(output.path);
      if (!output.locked || lockPath.empty()) continue;
      try {
        locks_.push_back(std::make_unique<OutputLock>(lockPath, output.path, program_));
        locks_.back()->ClaimFile(output.path);
      } catch (const OutputBusy& busy) {
        why = output.option + " " + Shown(output) + " is being written by " + busy.holder() +
              "; wait for it to end, or choose another file";
        locks_.clear();
        return 2;
      }
    }
  } catch (const FileError& error) {
    why = error.what();
    locks_.clear();
    return 1;
  }
  return 0;
}

void PlanGenotypeOutputs(OutputSet& set, const std::string& vcfPath, long replicates) {
  const std::vector<std::string> files = GenotypeFiles(vcfPath, replicates);
  // The name given locks the whole set, also where no file has it.
  if (replicates > 1) set.Add({"--genotypes", vcfPath, "", true, false});
  for (std::size_t f = 0; f + 1 < files.size(); ++f) {
    const long replicate = static_cast<long>(f / 2) + 1;
    const bool index = f % 2 == 1;
    if (replicates == 1 && !index) {
      set.Add({"--genotypes", files[f], "", true, true});
      continue;
    }
    std::string role = replicates == 1 ? "the genotype file's index"
                                       : "replicate " + std::to_string(replicate) + "'s genotype file";
    if (replicates > 1 && index) role += "'s index";
    set.Add({"--genotypes", files[f], role, false, true});
  }
  set.Add({"--genotypes", files.back(), "the samples table", false, true});
}

std::string SampleCountWarning(const SeriesPlan& plan) {
  if (!plan.genotypes) return "";
  const long every = plan.sampleEvery;
  const long long sampled =
      every <= 0 ? 1 : plan.generations / every + (plan.generations % every != 0 ? 1 : 0);
  constexpr long long kMostAdults = 2LL * kCellsPerHabitat;
  if (static_cast<unsigned long long>(sampled) * kMostAdults <= kMaxVcfSamples) return "";
  return "genotype samples: " + std::to_string(sampled) + " sampled generations of up to " +
         std::to_string(kMostAdults) + " adults may name more than the " + std::to_string(kMaxVcfSamples) +
         " samples a VCF file may hold for htslib's readers (bcftools, pysam); a replicate whose samples pass "
         "that ends the run (status 1) at the generation that would";
}

}  // namespace talveron
