#include "run/output_set.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
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

// Whether another process holds the lock of a working file (an output
// being written, OutputFile).
bool WorkingFileBusy(const std::string& working) {
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
  return (quote_ ? quote_(output.path) : "'" + output.path + "'") + (output.role.empty() ? "" : " (" + output.role + ")");
}

namespace {

// What the refusals need to know of one output, found once: a series of
// many replicates plans hundreds of thousands of files.
struct Probe {
  bool direct = false;  // a device, pipe or descriptor: written as it is
  bool linked = false;  // a symbolic link
  std::string normal;   // NormalPath
  std::string working;  // WorkingPath
  std::string workingNormal;
  bool exists = false;
  struct stat info {};
  int statError = 0;
  bool workingExists = false;
  struct stat workingInfo {};
};

// NormalPath, with the normal form of each folder found once: the same
// text for a name that is no symbolic link itself.
class Normals {
 public:
  std::string Of(const std::string& path) {
    struct stat link {};
    const fs::path name(path);
    const std::string file = name.filename().string();
    if ((::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) || file.empty() || file == "." ||
        file == "..") {
      return NormalPath(path);
    }
    const std::string parent = name.parent_path().string();
    auto found = folders_.find(parent);
    if (found == folders_.end()) {
      found = folders_.emplace(parent, NormalPath(parent.empty() ? "." : parent)).first;
    }
    return (fs::path(found->second) / file).lexically_normal().string();
  }

 private:
  std::map<std::string, std::string> folders_;
};

bool UnderDevOrProc(const std::string& absolute) {
  return absolute.rfind("/dev/", 0) == 0 || absolute.rfind("/proc/", 0) == 0;
}

}  // namespace

int OutputSet::Claim(std::string& why) {
  Normals normals;
  std::vector<Probe> probes(outputs_.size());
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    const std::string& path = outputs_[i].path;
    Probe& probe = probes[i];
    struct stat link {};
    probe.linked = ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    probe.exists = ::stat(path.c_str(), &probe.info) == 0;
    probe.statError = probe.exists ? 0 : errno;
    std::error_code error;
    const std::string absolute = fs::absolute(path, error).lexically_normal().string();
    probe.direct = (!error && UnderDevOrProc(absolute)) ||
                   (probe.exists && !S_ISREG(probe.info.st_mode) && !S_ISDIR(probe.info.st_mode));
    if (probe.direct) continue;
    probe.normal = normals.Of(path);
    if (probe.linked && SeriesLockPath(path).empty()) {  // a link to a device
      probe.direct = true;
      continue;
    }
    probe.working = probe.linked ? WorkingPath(path) : PartialPath(path);
    probe.workingNormal = probe.linked ? NormalPath(probe.working) : probe.normal + ".partial";
    probe.workingExists = ::stat(probe.working.c_str(), &probe.workingInfo) == 0;
  }

  // One file under two names, by the names' normal forms (files not made
  // yet count too) and, for files that exist, by device and inode. Devices
  // and pipes may take several streams.
  std::map<std::string, Taken> taken;
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    const PlannedOutput& output = outputs_[i];
    const Probe& probe = probes[i];
    const bool direct = probe.direct;
    auto inode = [](const struct stat& info) {
      return "i" + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    };
    std::vector<std::pair<Form, std::vector<std::string>>> forms;
    std::vector<std::string> itself;
    if (!direct) itself.push_back("p" + probe.normal);
    if (probe.exists && S_ISREG(probe.info.st_mode)) itself.push_back(inode(probe.info));
    forms.emplace_back(kItself, itself);
    if (!direct) {
      std::vector<std::string> working = {"p" + probe.workingNormal};
      if (probe.workingExists && S_ISREG(probe.workingInfo.st_mode)) working.push_back(inode(probe.workingInfo));
      forms.emplace_back(kWorking, working);
      if (output.locked) forms.emplace_back(kLock, std::vector<std::string>{"p" + probe.normal + ".lock"});
    }
    for (const auto& [form, keys] : forms) {
      for (const std::string& key : keys) {
        const auto [found, inserted] = taken.emplace(key, Taken{i, form, direct});
        const Taken& before = found->second;
        if (inserted || before.output == i || (direct && before.direct)) continue;
        const PlannedOutput& other = outputs_[before.output];
        const std::string options =
            other.option == output.option ? other.option : other.option + " and " + output.option;
        // Both names whole: they may differ only at their ends.
        auto named = [](const PlannedOutput& o, Form f) {
          if (f == kWorking) return "'" + PartialPath(o.path) + "' (written while " + o.path + " runs)";
          return "'" + o.path + "'" + (o.role.empty() ? "" : " (" + o.role + ")");
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
  // Another output's working or lock file. The names made from a name
  // given end as they are made to, unless they are links.
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    const PlannedOutput& output = outputs_[i];
    if (probes[i].direct || (!output.role.empty() && !probes[i].linked)) continue;
    if (const std::string reason = WorkingFileName(output.path); !reason.empty()) {
      why = output.option + " " + Shown(output) + ": " + reason;
      return 2;
    }
  }
  try {
    std::map<std::string, bool> foldersChecked;
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      const PlannedOutput& output = outputs_[i];
      const Probe& probe = probes[i];
      if (!output.written || probe.direct) continue;
      if (!probe.exists && probe.statError != ENOENT) throw FileError(output.path, Reason(probe.statError));
      if (probe.exists && S_ISDIR(probe.info.st_mode)) throw FileError(output.path, "Is a directory");
      if (probe.workingExists && S_ISDIR(probe.workingInfo.st_mode)) throw FileError(probe.working, "Is a directory");
      const std::string folder = fs::path(probe.linked ? LinkTarget(output.path) : output.path).parent_path().string();
      if (foldersChecked.emplace(folder, true).second || probe.linked) CheckFolder(output.path);
      if (probe.exists) CheckReplaceable(output.path);
    }
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      const PlannedOutput& output = outputs_[i];
      if (!output.locked || probes[i].direct) continue;
      try {
        locks_.push_back(std::make_unique<OutputLock>(probes[i].normal + ".lock", output.path, program_));
        locks_.back()->ClaimFile(output.path);
      } catch (const OutputBusy& busy) {
        why = output.option + " " + Shown(output) + " is being written by " + busy.holder() +
              "; wait for it to end, or choose another file";
        locks_.clear();
        return 2;
      }
    }
    // A file another run writes under a name of its own (the samples
    // table of its --genotypes): its working file is locked.
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      const PlannedOutput& output = outputs_[i];
      if (!output.written || probes[i].direct || !probes[i].workingExists) continue;
      if (!WorkingFileBusy(probes[i].working)) continue;
      why = output.option + " " + Shown(output) + " is being written by another process (its working file " +
            probes[i].working + " is locked); wait for it to end, or choose another file";
      locks_.clear();
      return 2;
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
  const std::size_t vcfFiles = 2 * static_cast<std::size_t>(replicates);
  for (std::size_t f = 0; f < vcfFiles; ++f) {
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
  set.Add({"--genotypes", files[vcfFiles], "the samples table", false, true});
  const char* lists[] = {"the list of habitat 0's samples", "the list of habitat 1's samples", "the sex list"};
  for (std::size_t l = 0; l < std::size(lists); ++l) {
    set.Add({"--genotypes", files[vcfFiles + 1 + l], lists[l], false, true});
  }
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
