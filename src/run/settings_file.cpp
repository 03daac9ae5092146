#include "run/settings_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include <toml++/toml.h>

#include "run/scheduled_changes.h"

namespace talveron {
namespace {

using Position = toml::source_position;

[[noreturn]] void Refuse(const std::string& name, long line, const std::string& message) {
  throw SettingsFileError(name + ":" + std::to_string(line) + ": " + message);
}

long LineOf(const toml::node& node) { return static_cast<long>(node.source().begin.line); }
long LineOf(const toml::key& key) { return static_cast<long>(key.source().begin.line); }

// Lines of the text, so a value's own spelling can be read back.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// toml++ builds a table per part of a dotted key and takes them down
// recursively: tens of thousands of parts exhaust the stack. Keys are
// counted before the text is parsed; a key of this file has two parts at
// most ([set], [vary]).
void CheckKeyDepth(std::string_view text, const std::string& name) {
  long line = 1;
  std::vector<char> open;  // the brackets and braces of values open here
  bool inKey = true;       // where a key may stand: a line's start, after '{' or ','
  long parts = 1;
  std::size_t i = 0;
  auto skipString = [&](char quote) {
    const bool multiline = text.compare(i, 3, std::string(3, quote)) == 0;
    i += multiline ? 3 : 1;
    while (i < text.size()) {
      if (quote == '"' && text[i] == '\\') {
        i += 2;
        continue;
      }
      if (text[i] == '\n') {
        if (!multiline) return;  // a malformed string: the parser says so
        ++line;
      }
      if (text[i] == quote && (!multiline || text.compare(i, 3, std::string(3, quote)) == 0)) {
        i += multiline ? 3 : 1;
        return;
      }
      ++i;
    }
  };
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"' || c == '\'') {
      skipString(c);
      continue;
    }
    if (c == '#') {
      while (i < text.size() && text[i] != '\n') ++i;
      continue;
    }
    if (c == '\n') {
      ++line;
      if (open.empty()) {
        inKey = true;
        parts = 1;
      }
    } else if (c == '=' && inKey) {
      inKey = false;
    } else if (c == '.' && inKey) {
      if (++parts > kMaxKeyParts) {
        Refuse(name, line, "a key or table name of more than " + std::to_string(kMaxKeyParts) +
                               " dotted parts; allowed are at most " + std::to_string(kMaxKeyParts));
      }
    } else if (!inKey && (c == '[' || c == '{')) {
      open.push_back(c);
      if (c == '{') {
        inKey = true;
        parts = 1;
      }
    } else if (!inKey && (c == ']' || c == '}') && !open.empty()) {
      open.pop_back();
    } else if (c == ',' && !open.empty() && open.back() == '{') {
      inKey = true;
      parts = 1;
    } else if (c == '}' && inKey && !open.empty()) {
      open.pop_back();  // an empty inline table
      inKey = false;
    }
    ++i;
  }
}

class Reader {
 public:
  Reader(const std::string& text, std::string name) : text_(text), name_(std::move(name)), lines_(SplitLines(text_)) {}

  SettingsFile Read() {
    toml::table root;
    try {
      root = toml::parse(text_, name_);
    } catch (const toml::parse_error& error) {
      Refuse(name_, static_cast<long>(error.source().begin.line), std::string(error.description()));
    }
    SettingsFile file;
    file.text = text_;
    SeriesSettings& settings = file.settings;
    const toml::node* vary = nullptr;
    const toml::node* sampleEvery = nullptr;

    for (const auto& [key, node] : Ordered(root)) {
      const std::string_view name = key->str();
      if (name == "seed") {
        settings.seed = Seed(*node);
      } else if (name == "replicates") {
        settings.replicates = Count(*node, "replicates");
      } else if (name == "generations") {
        settings.generations = Count(*node, "generations");
      } else if (name == "span") {
        settings.recording.gAveragingSpan = Count(*node, "span");
      } else if (name == "record") {
        const auto* value = node->as_string();
        if (value == nullptr || !ApplyRecordName(value->get(), settings.recording)) {
          Refuse(name_, LineOf(*node), "record: allowed are \"timed\", \"total\", \"preference\", "
                                       "\"specialization\", \"mating\" or \"none\"");
        }
      } else if (name == "trace") {
        const auto* value = node->as_boolean();
        if (value == nullptr) Refuse(name_, LineOf(*node), "trace: allowed are true or false");
        settings.trace = value->get();
      } else if (name == "stats") {
        const auto* value = node->as_boolean();
        if (value == nullptr) Refuse(name_, LineOf(*node), "stats: allowed are true or false");
        settings.stats = value->get();
      } else if (name == "genotypes") {
        const auto* value = node->as_boolean();
        if (value == nullptr) Refuse(name_, LineOf(*node), "genotypes: allowed are true or false");
        settings.genotypes = value->get();
      } else if (name == "sample-every") {
        settings.sampleEvery = Count(*node, "sample-every");
        sampleEvery = node;
      } else if (name == "set") {
        ReadSet(*node, settings.params);
      } else if (name == "vary") {
        vary = node;
      } else if (name == "change") {
        ReadChanges(*node, settings.changes);
      } else {
        Refuse(name_, LineOf(*key), "unknown key '" + std::string(name) +
                                        "': allowed are seed, replicates, generations, record, span, trace, "
                                        "stats, genotypes, sample-every, [set], [[change]] and [vary]");
      }
    }
    if (sampleEvery != nullptr && !settings.genotypes) {
      Refuse(name_, LineOf(*sampleEvery),
             "sample-every goes with genotypes = true: it says which generations are sampled");
    }
    // The lists may name the changes, wherever they stand.
    if (vary != nullptr) file.vary = ReadVary(*vary, settings);
    return file;
  }

 private:
  // A table's entries in the order they stand in the file (toml++ keeps
  // them sorted by name).
  static std::vector<std::pair<const toml::key*, const toml::node*>> Ordered(const toml::table& table) {
    std::vector<std::pair<const toml::key*, const toml::node*>> entries;
    for (const auto& [key, node] : table) entries.emplace_back(&key, &node);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
      const Position& pa = a.first->source().begin;
      const Position& pb = b.first->source().begin;
      return pa.line != pb.line ? pa.line < pb.line : pa.column < pb.column;
    });
    return entries;
  }

  std::uint64_t Seed(const toml::node& node) {
    const std::string allowed = "seed: allowed is a whole number from 0 to 18446744073709551615";
    if (const auto* value = node.as_integer()) {
      if (value->get() < 0) Refuse(name_, LineOf(node), allowed);
      return static_cast<std::uint64_t>(value->get());
    }
    // Seeds past 2^63 - 1 do not fit a TOML integer; they may be quoted.
    if (const auto* value = node.as_string()) {
      if (const auto seed = ReadSeed(value->get())) return *seed;
    }
    Refuse(name_, LineOf(node), allowed);
  }

  long Count(const toml::node& node, const std::string& what) {
    const auto* value = node.as_integer();
    if (value == nullptr || value->get() < 1 || value->get() > kMaxCount) {
      Refuse(name_, LineOf(node), what + ": allowed is a whole number from 1 to " + std::to_string(kMaxCount));
    }
    return static_cast<long>(value->get());
  }

  // A scalar as --set reads it. Decimals keep their spelling in the file,
  // so they round to single precision exactly as on the command line.
  std::string ValueText(const toml::node& node, std::string_view parameter) {
    if (const auto* value = node.as_boolean()) return value->get() ? "true" : "false";
    if (const auto* value = node.as_integer()) return std::to_string(value->get());
    if (const auto* value = node.as_floating_point()) {
      const toml::source_region& where = node.source();
      if (where.begin.line == where.end.line && where.begin.line >= 1 && where.begin.line <= lines_.size()) {
        const std::string_view line = lines_[where.begin.line - 1];
        if (where.end.column <= line.size() + 1 && where.begin.column < where.end.column) {
          std::string spelled(line.substr(where.begin.column - 1, where.end.column - where.begin.column));
          spelled.erase(std::remove(spelled.begin(), spelled.end(), '_'), spelled.end());
          double reread = 0;
          const auto [end, error] = std::from_chars(spelled.data(), spelled.data() + spelled.size(), reread);
          if (error == std::errc() && end == spelled.data() + spelled.size() && reread == value->get()) {
            return spelled;
          }
        }
      }
      char buffer[64];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, value->get());
      return std::string(buffer, result.ptr);
    }
    Refuse(name_, LineOf(node), std::string(parameter) + " takes a number, or true or false");
  }

  void SetOne(Parameters& params, std::string_view parameter, const toml::node& node) {
    if (auto error = SetParameter(params, parameter, ValueText(node, parameter))) {
      Refuse(name_, LineOf(node), *error);
    }
  }

  void ReadSet(const toml::node& node, Parameters& params) {
    const auto* table = node.as_table();
    if (table == nullptr) Refuse(name_, LineOf(node), "set must be a table: [set]");
    for (const auto& [key, value] : Ordered(*table)) {
      const std::string parameter(key->str());
      if (FindParameter(parameter) == nullptr) {
        Refuse(name_, LineOf(*key), "unknown parameter '" + parameter + "' (see talveron-batch --help)");
      }
      named_.insert(parameter);
      SetOne(params, parameter, *value);
    }
  }

  // [[change]]: a list of tables, each a generation and the parameters it sets.
  void ReadChanges(const toml::node& node, ParameterSchedule& schedule) {
    const auto* list = node.as_array();
    const std::string form = "change must be a list of tables: [[change]] with generation = G and set = { NAME = VALUE }";
    if (list == nullptr) Refuse(name_, LineOf(node), form);
    for (const toml::node& element : *list) {
      const auto* table = element.as_table();
      if (table == nullptr) Refuse(name_, LineOf(element), form);
      const toml::node* generationNode = table->get("generation");
      const toml::node* setNode = table->get("set");
      for (const auto& [key, value] : *table) {
        if (key.str() != "generation" && key.str() != "set") {
          Refuse(name_, LineOf(key), "unknown key '" + std::string(key.str()) +
                                          "' in [[change]]: allowed are generation and set");
        }
      }
      if (generationNode == nullptr) Refuse(name_, LineOf(element), "a [[change]] needs generation = G");
      const auto* generation = generationNode->as_integer();
      if (generation == nullptr || generation->get() < 1 || generation->get() > kMaxCount) {
        Refuse(name_, LineOf(*generationNode),
               "generation of a [[change]]: allowed is a whole number from 1 to the last generation");
      }
      const long long at = generation->get();
      if (schedule.At(at) != nullptr) {
        Refuse(name_, LineOf(*generationNode), "two [[change]] tables at generation " + std::to_string(at) +
                                                   "; put its parameters in one");
      }
      const auto* set = setNode != nullptr ? setNode->as_table() : nullptr;
      if (set == nullptr || set->empty()) {
        Refuse(name_, LineOf(setNode != nullptr ? *setNode : element),
               "change at generation " + std::to_string(at) + ": needs set = { NAME = VALUE, ... }");
      }
      for (const auto& [key, value] : Ordered(*set)) {
        if (auto error = schedule.Add(at, key->str(), ValueText(*value, key->str()))) {
          Refuse(name_, LineOf(*value), *error);
        }
      }
    }
  }

  // The lists of [vary], dotted names (change.1.generation) flattened.
  void VaryEntries(const toml::table& table, const std::string& prefix,
                   std::vector<std::pair<std::string, const toml::node*>>& entries) {
    for (const auto& [key, value] : Ordered(table)) {
      const std::string name = prefix + std::string(key->str());
      if (const auto* inner = value->as_table()) {
        VaryEntries(*inner, name + ".", entries);
      } else {
        entries.emplace_back(name, value);
      }
    }
  }

  std::vector<StudyAxis> ReadVary(const toml::node& node, const SeriesSettings& settings) {
    const Parameters& params = settings.params;
    const auto* table = node.as_table();
    if (table == nullptr) Refuse(name_, LineOf(node), "vary must be a table: [vary]");
    std::vector<StudyAxis> axes;
    std::vector<std::pair<std::string, const toml::node*>> entries;
    VaryEntries(*table, "", entries);
    for (const auto& [parameter, value] : entries) {
      if (IsChangeAxis(parameter)) {
        axes.push_back(ReadChangeAxis(parameter, *value, settings.changes));
        continue;
      }
      if (FindParameter(parameter) == nullptr) {
        Refuse(name_, LineOf(*value), "unknown parameter '" + parameter + "' (see talveron-batch --help)");
      }
      if (named_.count(parameter) != 0) {
        Refuse(name_, LineOf(*value), "parameter '" + parameter + "' is named twice, in [set] and [vary]");
      }
      const auto* list = value->as_array();
      if (list == nullptr) Refuse(name_, LineOf(*value), parameter + " in [vary] takes a list: [a, b, ...]");
      if (list->empty()) Refuse(name_, LineOf(*value), parameter + " in [vary] has an empty list");
      StudyAxis axis{parameter, {}};
      for (const toml::node& element : *list) {
        Parameters check = params;
        const std::string text = ValueText(element, parameter);
        if (auto error = SetParameter(check, parameter, text)) Refuse(name_, LineOf(element), *error);
        axis.values.push_back(text);
      }
      axes.push_back(std::move(axis));
    }
    return axes;
  }

  // change.N.generation or change.N.NAME: each value checked as the
  // [[change]] table itself would be.
  StudyAxis ReadChangeAxis(const std::string& axisName, const toml::node& node, const ParameterSchedule& changes) {
    const ChangeAxis axis = ParseChangeAxis(axisName, changes.size());
    if (!axis.error.empty()) Refuse(name_, LineOf(node), axisName + " in [vary]: " + axis.error);
    const auto* list = node.as_array();
    if (list == nullptr) Refuse(name_, LineOf(node), axisName + " in [vary] takes a list: [a, b, ...]");
    if (list->empty()) Refuse(name_, LineOf(node), axisName + " in [vary] has an empty list");
    StudyAxis result{axisName, {}};
    const ParameterChange& change = changes.changes()[axis.change];
    for (const toml::node& element : *list) {
      std::string text;
      if (axis.parameter.empty()) {
        const auto* generation = element.as_integer();
        if (generation == nullptr || generation->get() < 1 || generation->get() > kMaxCount) {
          Refuse(name_, LineOf(element), axisName + ": allowed is a whole number from 1 to the last generation");
        }
        text = std::to_string(generation->get());
      } else {
        text = ValueText(element, axis.parameter);
        ParameterSchedule check;
        if (auto error = check.Add(change.generation, axis.parameter, text)) Refuse(name_, LineOf(element), *error);
      }
      result.values.push_back(text);
    }
    return result;
  }

  std::string text_;
  std::string name_;
  std::vector<std::string_view> lines_;
  std::set<std::string> named_;
};

// A parameter's value as TOML: booleans as true/false, numbers as written
// by FormatParameter (which round-trips).
std::string TomlValue(const Parameters& params, const ParameterInfo& info) {
  const std::string text = FormatParameter(params, info);
  if (info.kind == ParameterKind::Boolean) return text == "1" ? "true" : "false";
  return text;
}

}  // namespace

SettingsFile ParseSettingsText(const std::string& text, const std::string& name) {
  if (text.size() > kMaxSettingsBytes) {
    throw SettingsFileError(name + ": the file has more than " + std::to_string(kMaxSettingsBytes) +
                            " bytes; allowed are at most that");
  }
  CheckKeyDepth(text, name);
  return Reader(text, name).Read();
}

SettingsFile ReadSettingsFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    throw SettingsFileError(path + ": is a folder; a settings file is needed");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SettingsFileError(path + ": cannot be read");
  // No more than the limit and a byte, whatever the file (a pipe too).
  std::string text(kMaxSettingsBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) throw SettingsFileError(path + ": cannot be read");
  text.resize(static_cast<std::size_t>(in.gcount()));
  return ParseSettingsText(text, path);
}

std::string SettingsFileText(const SeriesSettings& settings, const std::vector<StudyAxis>& vary) {
  std::ostringstream out;
  if (settings.seed) {
    if (*settings.seed <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      out << "seed = " << *settings.seed << "\n";
    } else {
      out << "seed = \"" << *settings.seed << "\"\n";
    }
  }
  out << "replicates = " << settings.replicates << "\n"
      << "generations = " << settings.generations << "\n"
      << "record = \"" << RecordName(settings.recording) << "\"\n"
      << "span = " << settings.recording.gAveragingSpan << "\n"
      << "trace = " << (settings.trace ? "true" : "false") << "\n"
      << (settings.stats ? "stats = true\n" : "")
      << (settings.genotypes ? "genotypes = true\n" : "")
      << (settings.genotypes && settings.sampleEvery > 0 ? "sample-every = " + std::to_string(settings.sampleEvery) + "\n"
                                                          : std::string())
      << "\n[set]\n";
  for (const ParameterInfo& info : ParameterTable()) {
    const bool varied = std::any_of(vary.begin(), vary.end(), [&](const StudyAxis& a) { return a.name == info.name; });
    if (!varied) out << info.name << " = " << TomlValue(settings.params, info) << "\n";
  }
  for (const ParameterChange& change : settings.changes.changes()) {
    out << "\n[[change]]\ngeneration = " << change.generation << "\nset = { ";
    bool first = true;
    for (const ParameterInfo& info : ParameterTable()) {
      const auto index = static_cast<std::size_t>(&info - ParameterTable().data());
      if (!change.Sets(index)) continue;
      out << (first ? "" : ", ") << info.name << " = " << TomlValue(change.values, info);
      first = false;
    }
    out << " }\n";
  }
  if (!vary.empty()) {
    out << "\n[vary]\n";
    for (const StudyAxis& axis : vary) {
      out << (IsChangeAxis(axis.name) ? "\"" + axis.name + "\"" : axis.name) << " = [";
      for (std::size_t i = 0; i < axis.values.size(); ++i) out << (i ? ", " : "") << axis.values[i];
      out << "]\n";
    }
  }
  return out.str();
}

std::string RecordName(const RecordingChoices& choices) {
  if (choices.gGetTimedCriteria) return "timed";
  if (choices.gGetAverageLeftHabitatTotal) return "total";
  if (choices.gGetAveragedLeftHabitatPreference) return "preference";
  if (choices.gGetAverageLeftHabitatSpecialization) return "specialization";
  if (choices.gGetAverageLeftHabitatMatingPreference) return "mating";
  return "none";
}

bool ApplyRecordName(std::string_view name, RecordingChoices& choices) {
  RecordingChoices chosen;
  chosen.gAveragingSpan = choices.gAveragingSpan;
  chosen.gGetTimedCriteria = name == "timed";
  if (name == "total") {
    chosen.gGetAverageLeftHabitatTotal = true;
  } else if (name == "preference") {
    chosen.gGetAveragedLeftHabitatPreference = true;
  } else if (name == "specialization") {
    chosen.gGetAverageLeftHabitatSpecialization = true;
  } else if (name == "mating") {
    chosen.gGetAverageLeftHabitatMatingPreference = true;
  } else if (name != "timed" && name != "none") {
    return false;
  }
  choices = chosen;
  return true;
}

std::string ShellQuote(std::string_view word) {
  const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("-_./=:,+@%").find(c) != std::string_view::npos;
  });
  if (plain) return std::string(word);
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string BatchCommandLine(const SeriesSettings& settings, const std::string& outPath) {
  std::string line = "talveron-batch";
  if (settings.seed) line += " --seed " + std::to_string(*settings.seed);
  line += " --replicates " + std::to_string(settings.replicates);
  line += " --generations " + std::to_string(settings.generations);
  line += " --record " + RecordName(settings.recording);
  line += " --span " + std::to_string(settings.recording.gAveragingSpan);
  const Parameters defaults;
  for (const ParameterInfo& info : ParameterTable()) {
    const std::string value = FormatParameter(settings.params, info);
    if (value != FormatParameter(defaults, info)) {
      line += " --set " + ShellQuote(std::string(info.name) + "=" + value);
    }
  }
  for (const std::string& word : ChangeWords(settings.changes)) line += " --change " + ShellQuote(word);
  line += " --out " + ShellQuote(outPath);
  return line;
}

std::optional<std::uint64_t> ReadSeed(std::string_view text) {
  return ReadWholeNumber<std::uint64_t>(text, 0);
}

std::optional<long> ReadCount(std::string_view text) { return ReadWholeNumber<long>(text, 1, kMaxCount); }

}  // namespace talveron
