#include "run/study_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string_view>

#include <nlohmann/json.hpp>

#include "record/data_file.h"
#include "record/output_file.h"
#include "run/settings_file.h"

namespace talveron {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr const char* kJournalName = "journal.jsonl";
constexpr const char* kManifestName = "manifest.json";

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// FNV-1a, 64 bits: enough to tell a file cut short or changed from the one
// that was written.
struct Fnv1a64 {
  std::uint64_t hash = 14695981039346656037ull;
  void Add(std::string_view bytes) {
    for (const char c : bytes) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 1099511628211ull;
    }
  }
  std::string Hex() const {
    char buffer[20];
    std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(hash));
    return buffer;
  }
};

StudyDirectory::FileCheck CheckOfText(const std::string& name, std::string_view text) {
  Fnv1a64 fnv;
  fnv.Add(text);
  return {name, static_cast<long long>(text.size()), fnv.Hex()};
}

// The check of a file read in pieces (a trace may be large); nullopt when
// it cannot be read.
std::optional<StudyDirectory::FileCheck> CheckOfFile(const std::string& name, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Fnv1a64 fnv;
  long long bytes = 0;
  std::string buffer(1 << 20, '\0');
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    fnv.Add(std::string_view(buffer.data(), got));
    bytes += static_cast<long long>(got);
  }
  if (in.bad()) return std::nullopt;
  return StudyDirectory::FileCheck{name, bytes, fnv.Hex()};
}

Json ChecksJson(const std::vector<StudyDirectory::FileCheck>& checks) {
  Json list = Json::array();
  for (const auto& check : checks) {
    list.push_back({{"file", check.name}, {"bytes", check.bytes}, {"fnv1a64", check.fnv1a64}});
  }
  return list;
}

// The checks a manifest or journal entry lists; empty when it lists none
// or they cannot be read.
std::vector<StudyDirectory::FileCheck> ChecksOf(const Json& entry) {
  std::vector<StudyDirectory::FileCheck> checks;
  try {
    for (const Json& check : entry.at("checks")) {
      checks.push_back({check.at("file").get<std::string>(), check.at("bytes").get<long long>(),
                        check.at("fnv1a64").get<std::string>()});
    }
  } catch (const Json::exception&) {
    return {};
  }
  return checks;
}

// Text as JSON can hold it: bytes that are not UTF-8 (a folder named in
// another encoding) written as \xNN, the rest as it is.
std::string JsonSafe(const std::string& text) {
  std::string safe;
  std::size_t i = 0;
  const auto byte = [&text](std::size_t at) { return static_cast<unsigned char>(text[at]); };
  while (i < text.size()) {
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    std::uint32_t low = 0;
    if (lead < 0x80) {
      length = 1;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
      length = 2;
      low = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      length = 3;
      low = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      length = 4;
      low = 0x10000;
    }
    bool valid = length > 0 && i + length <= text.size();
    std::uint32_t point = length == 1 ? lead : lead & (0x7f >> length);
    for (std::size_t k = 1; valid && k < length; ++k) {
      valid = (byte(i + k) & 0xc0) == 0x80;
      point = (point << 6) | (byte(i + k) & 0x3f);
    }
    valid = valid && point >= low && point <= 0x10ffff && !(point >= 0xd800 && point <= 0xdfff);
    if (valid) {
      safe.append(text, i, length);
      i += length;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", lead);
      safe += escaped;
      ++i;
    }
  }
  return safe;
}

std::string Dump(const Json& json, int indent) {
  return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

std::string TimeNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm parts{};
  gmtime_r(&now, &parts);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return buffer;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace

namespace {

// What a manifest says of the study as a whole, read without its cells.
struct ManifestHead {
  std::string studyText;
  std::string seed;
  std::string check;  // empty in manifests written before it was kept
  std::string started;
};

// Reads what a manifest says of the study as a whole and calls `cell` for
// each entry of its "cells", one at a time: a manifest of many cells is
// never whole in memory. Without `cell` it stops at the cells when what
// comes before them is known (as this program writes it). Throws
// std::runtime_error, or what the JSON parser throws, for text that is not
// a study's manifest.
ManifestHead ReadManifest(const std::string& path, const std::function<void(const Json&)>& cell) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw FileError(path, std::strerror(errno != 0 ? errno : EIO));
  struct HeadRead {};
  ManifestHead head;
  bool study = false;
  bool seed = false;
  std::string topKey;
  const Json::parser_callback_t take = [&](int depth, Json::parse_event_t event, Json& parsed) {
    if (depth == 1 && event == Json::parse_event_t::key) {
      topKey = parsed.is_string() ? parsed.get<std::string>() : "";
      if (topKey == "cells" && !cell && study && seed) throw HeadRead{};
      return true;
    }
    if (depth == 1 && event == Json::parse_event_t::value && parsed.is_string()) {
      if (topKey == "seed") {
        head.seed = parsed.get<std::string>();
        seed = true;
      }
      if (topKey == "check") head.check = parsed.get<std::string>();
      if (topKey == "started") head.started = parsed.get<std::string>();
      return true;
    }
    if (depth == 1 && event == Json::parse_event_t::object_end && topKey == "study") {
      head.studyText = parsed.value("text", "");
      study = true;
      return true;
    }
    if (depth == 2 && topKey == "cells" &&
        (event == Json::parse_event_t::object_end || event == Json::parse_event_t::array_end ||
         event == Json::parse_event_t::value)) {
      if (cell) cell(parsed);
      return false;  // taken: not kept
    }
    return true;
  };
  try {
    // Read for its callback, which keeps what it needs: what is left of
    // the document is nothing worth keeping.
    [[maybe_unused]] const Json rest = Json::parse(in, take);
  } catch (const HeadRead&) {
  }
  if (!study || !seed) throw std::runtime_error("not a study manifest");
  return head;
}

// The check of what makes a study's results: its seed and its text.
std::string StudyCheck(const std::string& seed, const std::string& studyText) {
  Fnv1a64 fnv;
  fnv.Add(seed);
  fnv.Add("\n");
  fnv.Add(studyText);
  return fnv.Hex();
}

// A file a start of the study leaves in its folder before the first
// manifest: a cell's working file (cell-NN.txt.partial, its width that of
// the number of cells), or the manifest's or the summary's.
bool LeftBeforeManifest(const std::string& name, std::size_t cells) {
  if (name == kStudyLockName || name == "manifest.json.partial" || name == "summary.tsv.partial") return true;
  const std::string partial = ".partial";
  if (name.rfind("cell-", 0) != 0 || name.size() <= partial.size() ||
      name.compare(name.size() - partial.size(), partial.size(), partial) != 0) {
    return false;
  }
  std::size_t digits = 0;
  while (5 + digits < name.size() && name[5 + digits] >= '0' && name[5 + digits] <= '9') ++digits;
  if (digits != std::to_string(cells).size() || name[5 + digits] != '.') return false;
  const unsigned long number = std::stoul(name.substr(5, digits));
  return number >= 1 && number <= cells;
}

}  // namespace

StudyDirectory::StudyDirectory(std::string dir, const SettingsFile& file, std::uint64_t clockSeed, bool resume,
                               StudyIdentity identity, std::chrono::milliseconds saveEvery)
    : dir_(std::move(dir)), identity_(std::move(identity)), started_(TimeNow()), saveEvery_(saveEvery) {
  std::uint64_t seed = file.settings.seed ? *file.settings.seed : clockSeed;
  auto plan = [&] {
    try {
      plan_ = PlanStudy(file, seed);
    } catch (const SettingsFileError& refusal) {
      throw StudyError(identity_.studyPath + ": " + refusal.what());
    }
  };
  const std::string refused = "--out-dir '" + dir_ + "': ";

  CheckPathUsable(dir_);
  struct stat info {};
  const bool existed = ::stat(dir_.c_str(), &info) == 0;
  if (existed && !S_ISDIR(info.st_mode)) {
    throw StudyError("--out-dir '" + dir_ + "' is a file, not a folder; choose a folder");
  }
  bool planned = false;
  if (!existed) {
    if (resume) throw StudyError("--resume: '" + dir_ + "' holds no study to resume (no manifest.json)");
    // Only now: a refused study leaves no folder behind.
    plan();
    planned = true;
    std::error_code error;
    fs::create_directories(dir_, error);
    if (error) throw FileError(dir_, error.message());
  }
  // From here on the folder is this process's: whatever it holds stays as
  // it is read.
  lock_ = std::make_unique<OutputLock>(PathOf(kStudyLockName), dir_, identity_.program);

  const std::string manifestPath = PathOf(kManifestName);
  struct stat manifestInfo {};
  const bool hasManifest = ::stat(manifestPath.c_str(), &manifestInfo) == 0;
  if (!hasManifest && errno != ENOENT) throw FileError(manifestPath, std::strerror(errno));
  if (hasManifest) {
    ManifestHead head;
    try {
      head = ReadManifest(manifestPath, {});
      if (head.started.empty()) head.started = started_;
    } catch (const FileError&) {
      throw;
    } catch (const std::exception&) {  // not JSON, or not what this program writes there
      throw StudyError(refused + "manifest.json is not a study manifest; choose another folder");
    }
    if (head.studyText != file.text) {
      throw StudyError("--out-dir '" + dir_ + "' holds another study (its manifest.json differs); choose another folder");
    }
    if (!resume) {
      throw StudyError("--out-dir '" + dir_ + "' holds this study already: add --resume to continue it");
    }
    // The seed decides every cell: a manifest whose seed is not the one it
    // was written with is not trusted.
    const std::optional<std::uint64_t> manifestSeed = ReadSeed(head.seed);
    if (!manifestSeed || (!head.check.empty() && head.check != StudyCheck(head.seed, JsonSafe(file.text)))) {
      throw StudyError(refused + "manifest.json has been changed: its seed '" + head.seed +
                       "' is not the one the study was run with; put the manifest back, or start again in a new folder");
    }
    if (!file.settings.seed) seed = *manifestSeed;
    started_ = head.started;
  } else {
    if (!planned) plan();
    planned = true;
    // Files this program did not make are not overwritten; what a start of
    // this study left before its first manifest (killed at once) is cleared.
    std::vector<fs::path> left;
    std::error_code error;
    for (fs::directory_iterator entry(dir_, error), end; !error && entry != end; entry.increment(error)) {
      const std::string name = entry->path().filename().string();
      if (name == kStudyLockName) continue;
      if (LeftBeforeManifest(name, plan_.cells.size()) && entry->is_regular_file(error) && !entry->is_symlink(error)) {
        left.push_back(entry->path());
        continue;
      }
      throw StudyError("--out-dir '" + dir_ + "' holds files but no manifest.json (" + name +
                       ", ...): it is not a study's folder; choose an empty or new folder");
    }
    if (error) throw FileError(dir_, error.message());
    // A folder that a start left before any cell ran is resumed by
    // starting again; one that never held a study is not resumed.
    if (resume && !existed) {
      throw StudyError("--resume: '" + dir_ + "' holds no study to resume (no manifest.json)");
    }
    for (const fs::path& path : left) fs::remove(path, error);
  }
  if (!planned || plan_.seed != seed) plan();

  const std::size_t cells = plan_.cells.size();
  complete_.assign(cells, false);
  seconds_.assign(cells, 0.0);
  summaryRows_.assign(cells, "");
  checks_.assign(cells, {});

  if (hasManifest) {
    // A cell the manifest or the journal lists under another seed than the
    // manifest's was run from another manifest.
    auto agrees = [this, &refused](const Json& entry) {
      if (!entry.is_object() || !entry.contains("seed") || !entry.contains("cell")) return;
      const Json& number = entry["cell"];
      const Json& cellSeed = entry["seed"];
      if (!number.is_number_integer() || !cellSeed.is_string()) return;
      const long c = number.get<long>();
      if (c < 1 || static_cast<std::size_t>(c) > plan_.cells.size()) return;
      const std::string expected = std::to_string(plan_.cells[static_cast<std::size_t>(c - 1)].plan.baseSeed);
      if (cellSeed.get<std::string>() != expected) {
        throw StudyError(refused + "manifest.json does not agree with its cells: cell " + std::to_string(c) +
                         " was run with seed " + cellSeed.get<std::string>() + ", the manifest's seed " +
                         std::to_string(plan_.seed) + " gives " + expected +
                         "; put the manifest back, or start again in a new folder");
      }
    };
    // What the manifest says is complete, then what the journal adds since.
    auto claim = [this, &agrees](const Json& entry) {
      agrees(entry);
      long number = 0;
      double seconds = 0;
      try {
        if (!entry.is_object()) return;
        if (entry.contains("complete") && !entry.value("complete", false)) return;
        number = entry.value("cell", 0L);
        seconds = entry.value("seconds", 0.0);
      } catch (const Json::exception&) {
        return;  // unreadable: run the cell again
      }
      Keep(number, seconds, ChecksOf(entry));
    };
    try {
      ReadManifest(manifestPath, claim);
    } catch (const Json::exception&) {
      throw StudyError(refused + "manifest.json is not a study manifest; choose another folder");
    }
    std::ifstream journal(PathOf(kJournalName), std::ios::binary);
    for (std::string line; std::getline(journal, line);) {
      // A line cut short by a power cut is no claim.
      const Json entry = Json::parse(line, nullptr, false);
      if (entry.is_object()) claim(entry);
    }
  }

  // The manifest first: a folder is a study's from its first manifest on,
  // and a kill from here on leaves a study that --resume takes.
  std::lock_guard lock(mutex_);
  SaveLocked();
  // The files of the cells still to run must be possible to create: their
  // names differ only in their numbers, so the first cell's stand for all.
  for (const StudyCell& cell : plan_.cells) {
    if (CellComplete(cell.number)) continue;
    for (const std::string& name : {cell.dataName, cell.traceName, cell.samplesName}) {
      if (name.empty()) continue;
      const std::string probe = PartialPath(PathOf(name));
      std::FILE* created = std::fopen(probe.c_str(), "ab");
      if (created == nullptr) {
        throw StudyError("--out-dir '" + dir_ + "': cannot create " + name + ": " + std::strerror(errno));
      }
      std::fclose(created);
      std::remove(probe.c_str());
    }
    break;
  }
  // What the journal held is in the manifest now: it starts empty.
  const std::string journalPath = PathOf(kJournalName);
  journal_ = ::open(journalPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (journal_ < 0) throw FileError(journalPath, std::strerror(errno));
}

StudyDirectory::~StudyDirectory() {
  if (journal_ >= 0) ::close(journal_);
}

void StudyDirectory::Keep(long cell, double seconds, const std::vector<FileCheck>& checks) {
  if (cell < 1 || static_cast<std::size_t>(cell) > plan_.cells.size() || CellComplete(cell)) return;
  const StudyCell& planned = plan_.cells[static_cast<std::size_t>(cell - 1)];
  const std::vector<std::string> names = CellFiles(planned);
  if (checks.size() != names.size()) return;
  std::string row;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (checks[i].name != names[i]) return;
    const std::string path = PathOf(names[i]);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || info.st_size != checks[i].bytes) return;
    if (i == 0) {
      const std::string text = ReadText(path);
      if (CheckOfText(names[i], text).fnv1a64 != checks[i].fnv1a64) return;
      try {
        const CellResults results = ReadCellResults(text, planned.plan.recording);
        if (results.replicates != planned.plan.replicates) return;
        row = SummaryRow(plan_, planned, results);
      } catch (const std::exception&) {
        return;  // not what the manifest says: run it again
      }
    } else {
      const auto found = CheckOfFile(names[i], path);
      if (!found || found->bytes != checks[i].bytes || found->fnv1a64 != checks[i].fnv1a64) return;
    }
  }
  const std::size_t i = static_cast<std::size_t>(cell - 1);
  complete_[i] = true;
  ++completeCount_;
  seconds_[i] = seconds;
  summaryRows_[i] = row;
  checks_[i] = checks;
}

std::string StudyDirectory::PathOf(const std::string& name) const { return (fs::path(dir_) / name).string(); }

long StudyDirectory::CellsComplete() const {
  std::lock_guard lock(mutex_);
  return completeCount_;
}

void StudyDirectory::CellFinished(long cell, double seconds) {
  const StudyCell& planned = plan_.cells[static_cast<std::size_t>(cell - 1)];
  const std::string dataPath = PathOf(planned.dataName);
  const std::string data = ReadText(dataPath);
  std::string row;
  try {
    row = SummaryRow(plan_, planned, ReadCellResults(data, planned.plan.recording));
  } catch (const std::exception& error) {
    throw FileError(dataPath, std::string("reads back wrong: ") + error.what());
  }
  std::vector<FileCheck> checks = {CheckOfText(planned.dataName, data)};
  const std::vector<std::string> names = CellFiles(planned);
  const std::size_t firstGenotypeFile = planned.traceName.empty() ? 1 : 2;
  for (std::size_t f = 1; f < names.size(); ++f) {
    const auto check = CheckOfFile(names[f], PathOf(names[f]));
    if (!check && f >= firstGenotypeFile && !fs::exists(PathOf(names[f]))) {
      throw FileError(PathOf(names[f]), "is missing: the cell's genotype samples were not written with its series");
    }
    if (!check) throw FileError(PathOf(names[f]), "cannot be read back");
    checks.push_back(*check);
  }
  std::lock_guard lock(mutex_);
  const std::size_t i = static_cast<std::size_t>(cell - 1);
  if (!complete_[i]) ++completeCount_;
  complete_[i] = true;
  seconds_[i] = seconds;
  summaryRows_[i] = row;
  checks_[i] = std::move(checks);
  AppendJournal(cell);
  if (std::chrono::steady_clock::now() >= nextSave_) SaveLocked();
}

void StudyDirectory::AppendJournal(long cell) {
  const std::size_t i = static_cast<std::size_t>(cell - 1);
  const Json entry = {{"cell", cell},
                      {"seed", std::to_string(plan_.cells[i].plan.baseSeed)},
                      {"seconds", seconds_[i]},
                      {"checks", ChecksJson(checks_[i])}};
  // One write of one line: a line is there whole or, after a power cut,
  // cut short and ignored.
  const std::string line = Dump(entry, -1) + "\n";
  if (::write(journal_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    throw FileError(PathOf(kJournalName), std::strerror(errno != 0 ? errno : EIO));
  }
}

void StudyDirectory::Finish(const std::string& status) {
  std::lock_guard lock(mutex_);
  status_ = status;
  ended_ = TimeNow();
  SaveLocked();
  // Everything it held is in the manifest now.
  if (journal_ >= 0) ::close(journal_);
  journal_ = -1;
  ::unlink(PathOf(kJournalName).c_str());
}

void StudyDirectory::SaveLocked() {
  const auto began = std::chrono::steady_clock::now();
  // The manifest first: a folder is a study's from its first manifest on.
  WriteManifest();
  WriteSummary();
  // The manifest holds every cell the journal lists.
  if (journal_ >= 0 && ::ftruncate(journal_, 0) != 0) throw FileError(PathOf(kJournalName), std::strerror(errno));
  // However large the manifest, writing it takes a small share of the time.
  const auto now = std::chrono::steady_clock::now();
  nextSave_ = now + std::max(saveEvery_, 10 * (now - began));
}

void StudyDirectory::WriteSummary() const {
  OutputFile file(PathOf("summary.tsv"));
  file.Write(SummaryHeader(plan_));
  for (const std::string& row : summaryRows_) file.Write(row);
  file.Commit();
}

void StudyDirectory::WriteManifest() const {
  Json manifest;
  manifest["program"] = identity_.program;
  manifest["version"] = identity_.version;
  manifest["command"] = JsonSafe(identity_.commandLine);
  manifest["study"] = {{"file", JsonSafe(identity_.studyPath)}, {"text", JsonSafe(plan_.file.text)}};
  // A string: JSON readers lose digits of whole numbers past 2^53.
  manifest["seed"] = std::to_string(plan_.seed);
  // The seed and the study's text checked: a changed seed is seen on --resume.
  manifest["check"] = StudyCheck(manifest["seed"].get<std::string>(), JsonSafe(plan_.file.text));
  manifest["host"] = JsonSafe(HostName());
  manifest["started"] = started_;
  manifest["ended"] = ended_.empty() ? Json() : Json(ended_);
  manifest["status"] = status_;
  if (plan_.file.settings.genotypes) {
    // The adults of every sample-every-th generation and of the last; null:
    // the last generation only.
    const long every = plan_.file.settings.sampleEvery;
    manifest["genotypes"] = {{"sampled", true}, {"sample-every", every > 0 ? Json(every) : Json()}};
  }
  // The cells a line each, written as they are made: the manifest of many
  // cells is never whole in memory as JSON.
  std::string head = Dump(manifest, 2);
  head.erase(head.size() - 2);  // "\n}"
  OutputFile file(PathOf(kManifestName));
  file.Write(head + ",\n  \"cells\": [\n");
  for (const StudyCell& cell : plan_.cells) {
    const std::size_t i = static_cast<std::size_t>(cell.number - 1);
    Json parameters = Json::object();
    for (const ParameterInfo& info : ParameterTable()) {
      const std::string value = FormatParameter(cell.plan.params, info);
      if (info.kind == ParameterKind::Boolean) {
        parameters[std::string(info.name)] = value == "1";
      } else {
        parameters[std::string(info.name)] = Json::parse(value);
      }
    }
    Json files = Json::array();
    for (const std::string& name : CellFiles(cell)) files.push_back(name);
    Json entry = {{"cell", cell.number},
                        {"parameters", parameters},
                        {"seed", std::to_string(cell.plan.baseSeed)},
                        {"replicates", cell.plan.replicates},
                        {"generations", cell.plan.generations},
                        {"record", RecordName(cell.plan.recording)},
                        {"span", cell.plan.recording.gAveragingSpan},
                        {"files", files},
                        {"complete", static_cast<bool>(complete_[i])},
                        {"seconds", seconds_[i]},
                        {"checks", ChecksJson(checks_[i])}};
    if (!cell.plan.changes.empty()) {
      // A change at generation G applies before the Reproduction of G.
      Json changes = Json::array();
      for (const ParameterChange& change : cell.plan.changes.changes()) {
        Json set = Json::object();
        for (const auto& [name, value] : ChangedValues(change)) {
          set[name] = FindParameter(name)->kind == ParameterKind::Boolean ? Json(value == "1") : Json::parse(value);
        }
        changes.push_back({{"generation", change.generation}, {"set", set}});
      }
      entry["changes"] = changes;
    }
    file.Write("    " + Dump(entry, -1) + (i + 1 < plan_.cells.size() ? ",\n" : "\n"));
  }
  file.Write("  ]\n}\n");
  file.Commit();
}

}  // namespace talveron
