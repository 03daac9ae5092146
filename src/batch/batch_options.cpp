#include "batch/batch_options.h"

#include <charconv>
#include <limits>
#include <sstream>

namespace talveron::batch {
namespace {

constexpr long kMaxCount = 1000000000;

// A whole number from `low` to `high`, the whole text and nothing else.
template <typename T>
std::optional<T> ParseWhole(const std::string& text, T low, T high) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < low || value > high) return std::nullopt;
  return value;
}

bool ApplyRecord(const std::string& what, RecordingChoices& choices) {
  RecordingChoices chosen;
  chosen.gAveragingSpan = choices.gAveragingSpan;
  if (what == "timed") {
    chosen.gGetTimedCriteria = true;
  } else if (what == "none") {
    chosen.gGetTimedCriteria = false;
  } else if (what == "total") {
    chosen.gGetTimedCriteria = false;
    chosen.gGetAverageLeftHabitatTotal = true;
  } else if (what == "preference") {
    chosen.gGetTimedCriteria = false;
    chosen.gGetAveragedLeftHabitatPreference = true;
  } else if (what == "specialization") {
    chosen.gGetTimedCriteria = false;
    chosen.gGetAverageLeftHabitatSpecialization = true;
  } else if (what == "mating") {
    chosen.gGetTimedCriteria = false;
    chosen.gGetAverageLeftHabitatMatingPreference = true;
  } else {
    return false;
  }
  choices = chosen;
  return true;
}

}  // namespace

ParseResult ParseBatchOptions(const std::vector<std::string>& args) {
  ParseResult result;
  BatchOptions& options = result.options;
  auto refuse = [&result](const std::string& message) {
    result.error = message;
    return result;
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (const auto equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
      inlineValue = name.substr(equals + 1);
      name = name.substr(0, equals);
    }
    if (name == "--help" || name == "-h") {
      options.help = true;
      continue;
    }
    if (name == "--version") {
      options.version = true;
      continue;
    }
    if (name == "--quiet" || name == "-q") {
      options.quiet = true;
      continue;
    }
    const bool known = name == "--seed" || name == "--replicates" || name == "--generations" ||
                       name == "--span" || name == "--record" || name == "--set" || name == "--out" ||
                       name == "--trace";
    if (!known) return refuse("unknown option '" + name + "' (see --help)");
    std::string value;
    if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
      value = args[++i];
    } else {
      return refuse(name + " needs a value (see --help)");
    }

    if (name == "--seed") {
      const auto seed = ParseWhole<std::uint64_t>(value, 0, std::numeric_limits<std::uint64_t>::max());
      if (!seed) return refuse("--seed '" + value + "': allowed is a whole number from 0 to 18446744073709551615");
      options.seed = *seed;
    } else if (name == "--replicates") {
      const auto count = ParseWhole<long>(value, 1, kMaxCount);
      if (!count) return refuse("--replicates '" + value + "': allowed is a whole number from 1 to 1000000000");
      options.series.replicates = *count;
    } else if (name == "--generations") {
      const auto count = ParseWhole<long>(value, 1, kMaxCount);
      if (!count) return refuse("--generations '" + value + "': allowed is a whole number from 1 to 1000000000");
      options.series.generations = *count;
    } else if (name == "--span") {
      const auto span = ParseWhole<long>(value, 1, kMaxCount);
      if (!span) return refuse("--span '" + value + "': allowed is a whole number from 1 to 1000000000");
      options.recording.gAveragingSpan = *span;
    } else if (name == "--record") {
      if (!ApplyRecord(value, options.recording)) {
        return refuse("--record '" + value +
                      "': allowed are timed, total, preference, specialization, mating or none");
      }
    } else if (name == "--set") {
      const auto equals = value.find('=');
      if (equals == std::string::npos) return refuse("--set '" + value + "': expected NAME=VALUE");
      if (auto error = SetParameter(options.params, value.substr(0, equals), value.substr(equals + 1))) {
        return refuse("--set " + *error);
      }
    } else if (name == "--out") {
      if (value.empty()) return refuse("--out '': a file name is needed");
      options.outPath = value;
    } else if (name == "--trace") {
      if (value.empty()) return refuse("--trace '': a file name is needed");
      options.tracePath = value;
    }
  }
  if (!options.help && !options.version && options.outPath.empty()) {
    return refuse("--out is required: the data file to write (see --help)");
  }
  return result;
}

std::string BatchHelpText() {
  std::ostringstream out;
  out << "Usage: talveron-batch --out FILE [options]\n"
         "\n"
         "Runs one series of replicates of the speciation model without a window and\n"
         "writes its data file. The same seed and settings give the same bytes.\n"
         "\n"
         "Options:\n"
         "  --out FILE          the data file to write (required; replaced if it exists).\n"
         "                      Text with carriage-return line ends and tab-separated fields.\n"
         "  --seed B            base seed, 0 to 18446744073709551615 (default: from the clock,\n"
         "                      reported). Replicate k is seeded with B + k - 1.\n"
         "  --replicates R      replicates in the series, 1 to 1000000000 (default 2)\n"
         "  --generations G     generations per replicate, 1 to 1000000000 (default 5000)\n"
         "  --span N            averaging span in generations, 1 to 1000000000 (default 10)\n"
         "  --record WHAT       timed: the generations at which the criteria are first met\n"
         "                      (default); or the one averaged variable of the left habitat:\n"
         "                      total, preference, specialization, mating; none averages nothing\n"
         "  --set NAME=VALUE    a model parameter (repeatable); booleans take 0, 1, true or\n"
         "                      false; decimals are read as single precision\n"
         "  --trace FILE        also write the census of every generation (tab-separated)\n"
         "  --quiet             no progress lines on standard error\n"
         "  --help              this text\n"
         "  --version           the program's version\n"
         "\n"
         "Parameters (--set NAME=VALUE), with their ranges and defaults:\n";
  const Parameters defaults;
  for (const ParameterInfo& info : ParameterTable()) {
    std::string head = "  " + std::string(info.name);
    head.resize(37, ' ');
    out << head << AllowedValues(info) << "; default " << FormatParameter(defaults, info) << "\n"
        << "      " << info.meaning << "\n";
  }
  out << "\n"
         "Exit status: 0 on success, 1 when a file cannot be written or on a fatal error,\n"
         "2 for bad options.\n";
  return out.str();
}

}  // namespace talveron::batch
