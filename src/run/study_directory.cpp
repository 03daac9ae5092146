#include "run/study_directory.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "record/data_file.h"
#include "record/output_file.h"

namespace talveron {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
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

StudyDirectory::StudyDirectory(std::string dir, const SettingsFile& file, std::uint64_t clockSeed, bool resume,
                               StudyIdentity identity)
    : dir_(std::move(dir)), identity_(std::move(identity)), started_(TimeNow()) {
  std::uint64_t seed = file.settings.seed ? *file.settings.seed : clockSeed;
  Json manifest;
  const std::string manifestPath = PathOf("manifest.json");
  const bool hasManifest = fs::exists(manifestPath);
  if (hasManifest) {
    bool same = false;
    try {
      manifest = Json::parse(ReadText(manifestPath));
      same = manifest.is_object() && manifest.contains("study") && manifest["study"].value("text", "") == file.text;
      if (same && resume) {
        if (!file.settings.seed) seed = std::stoull(manifest.at("seed").get<std::string>());
        started_ = manifest.value("started", started_);
      }
    } catch (const std::exception&) {  // not JSON, or not what this program writes there
      throw StudyError("--out-dir '" + dir_ + "': manifest.json is not a study manifest; choose another folder");
    }
    if (!same) {
      throw StudyError("--out-dir '" + dir_ + "' holds another study (its manifest.json differs); choose another folder");
    }
    if (!resume) {
      throw StudyError("--out-dir '" + dir_ + "' holds this study already: add --resume to continue it");
    }
  } else if (resume) {
    throw StudyError("--resume: '" + dir_ + "' holds no study to resume (no manifest.json)");
  }

  try {
    plan_ = PlanStudy(file, seed);
  } catch (const SettingsFileError& refusal) {
    throw StudyError(identity_.studyPath + ": " + refusal.what());
  }
  // Only now: a refused study leaves no folder behind.
  std::error_code error;
  fs::create_directories(dir_, error);
  if (error || !fs::is_directory(dir_)) {
    throw StudyError("--out-dir '" + dir_ + "': cannot be created: " + error.message());
  }
  const std::size_t cells = plan_.cells.size();
  complete_.assign(cells, false);
  seconds_.assign(cells, 0.0);
  summaryRows_.assign(cells, "");

  if (hasManifest && manifest.contains("cells")) {
    for (const Json& cell : manifest["cells"]) {
      long number = 0;
      double seconds = 0;
      try {
        if (cell.value("complete", false)) {
          number = cell.value("cell", 0L);
          seconds = cell.value("seconds", 0.0);
        }
      } catch (const Json::exception&) {
        continue;  // unreadable: run the cell again
      }
      if (number < 1 || static_cast<std::size_t>(number) > cells) continue;
      const StudyCell& planned = plan_.cells[static_cast<std::size_t>(number - 1)];
      if (!fs::exists(PathOf(planned.dataName))) continue;
      if (!planned.traceName.empty() && !fs::exists(PathOf(planned.traceName))) continue;
      try {
        const CellResults results = ReadCellResults(ReadText(PathOf(planned.dataName)), planned.plan.recording);
        if (results.replicates != planned.plan.replicates) continue;
        summaryRows_[static_cast<std::size_t>(number - 1)] = SummaryRow(plan_, planned, results);
      } catch (const std::exception&) {
        continue;  // not what the manifest says: run it again
      }
      complete_[static_cast<std::size_t>(number - 1)] = true;
      seconds_[static_cast<std::size_t>(number - 1)] = seconds;
    }
  }

  // Every file of a cell still to run must be possible to create.
  for (const StudyCell& cell : plan_.cells) {
    if (CellComplete(cell.number)) continue;
    for (const std::string& name : {cell.dataName, cell.traceName}) {
      if (name.empty()) continue;
      const std::string probe = PartialPath(PathOf(name));
      std::FILE* created = std::fopen(probe.c_str(), "ab");
      if (created == nullptr) {
        throw StudyError("--out-dir '" + dir_ + "': cannot create " + name + ": " + std::strerror(errno));
      }
      std::fclose(created);
      std::remove(probe.c_str());
    }
  }
  std::lock_guard lock(mutex_);
  SaveLocked();
}

std::string StudyDirectory::PathOf(const std::string& name) const { return (fs::path(dir_) / name).string(); }

long StudyDirectory::CellsComplete() const {
  std::lock_guard lock(mutex_);
  long count = 0;
  for (bool done : complete_) count += done ? 1 : 0;
  return count;
}

void StudyDirectory::CellFinished(long cell, double seconds) {
  const StudyCell& planned = plan_.cells[static_cast<std::size_t>(cell - 1)];
  const std::string dataPath = PathOf(planned.dataName);
  std::string row;
  try {
    row = SummaryRow(plan_, planned, ReadCellResults(ReadText(dataPath), planned.plan.recording));
  } catch (const std::exception& error) {
    throw FileError(dataPath, std::string("reads back wrong: ") + error.what());
  }
  std::lock_guard lock(mutex_);
  complete_[static_cast<std::size_t>(cell - 1)] = true;
  seconds_[static_cast<std::size_t>(cell - 1)] = seconds;
  summaryRows_[static_cast<std::size_t>(cell - 1)] = row;
  SaveLocked();
}

void StudyDirectory::Finish(const std::string& status) {
  std::lock_guard lock(mutex_);
  status_ = status;
  ended_ = TimeNow();
  SaveLocked();
}

void StudyDirectory::WriteWhole(const std::string& name, const std::string& text) const {
  OutputFile file(PathOf(name));
  file.Write(text);
  file.Commit();
}

void StudyDirectory::SaveLocked() {
  std::string summary = SummaryHeader(plan_);
  for (const std::string& row : summaryRows_) summary += row;
  WriteWhole("summary.tsv", summary);

  Json manifest;
  manifest["program"] = identity_.program;
  manifest["version"] = identity_.version;
  manifest["command"] = identity_.commandLine;
  manifest["study"] = {{"file", identity_.studyPath}, {"text", plan_.file.text}};
  // A string: JSON readers lose digits of whole numbers past 2^53.
  manifest["seed"] = std::to_string(plan_.seed);
  manifest["host"] = HostName();
  manifest["started"] = started_;
  manifest["ended"] = ended_.empty() ? Json() : Json(ended_);
  manifest["status"] = status_;
  Json cells = Json::array();
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
    Json files = Json::array({cell.dataName});
    if (!cell.traceName.empty()) files.push_back(cell.traceName);
    cells.push_back({{"cell", cell.number},
                     {"parameters", parameters},
                     {"seed", std::to_string(cell.plan.baseSeed)},
                     {"replicates", cell.plan.replicates},
                     {"generations", cell.plan.generations},
                     {"record", RecordName(cell.plan.recording)},
                     {"span", cell.plan.recording.gAveragingSpan},
                     {"files", files},
                     {"complete", static_cast<bool>(complete_[i])},
                     {"seconds", seconds_[i]}});
  }
  manifest["cells"] = cells;
  WriteWhole("manifest.json", manifest.dump(2) + "\n");
}

}  // namespace talveron
