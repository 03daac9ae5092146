// Settings files: everything that defines a series (seed, replicates,
// generations, what is recorded, the model parameters) as TOML, and with a
// [vary] table a study over every combination of listed values. The batch
// command, the MPI command and the desktop program read and write the same
// files.
//
//   seed = 42              # optional: from the clock when absent
//   replicates = 20
//   generations = 5000
//   record = "timed"       # or total, preference, specialization, mating, none
//   span = 10
//   trace = false
//   stats = false          # true: the trace gains F_ST, gene diversity, association
//   genotypes = false      # true: the adults of sampled generations as VCF files
//   sample-every = 100     # with genotypes: every 100th generation and the last
//   [set]                  # parameters, named as for --set
//   density = 4
//   [[change]]             # from generation 2001 on (see parameter_schedule.h)
//   generation = 2001
//   set = { natalDispersalRate = 10 }
//   [vary]                 # a study: every combination of these lists
//   selectionFactor = [0.2, 0.5, 0.8]
//   "change.1.generation" = [1001, 2001]   # a change's generation or values vary too
#pragma once

#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "model/parameter_schedule.h"
#include "model/parameters.h"
#include "record/recorder.h"

namespace talveron {

// Largest count of replicates, generations or span generations accepted.
inline constexpr long kMaxCount = 1000000000;

// Limits of a settings file, checked before it is parsed: its size, and the
// dotted parts of one key or table name ([a.b.c] has three).
inline constexpr std::size_t kMaxSettingsBytes = 4 << 20;
inline constexpr long kMaxKeyParts = 32;

// The whole numbers of a series as every shell reads them from text: the
// number and nothing else, within its range. Nothing when the text is not
// allowed; the words say what is.
// A whole number written alone (no sign, space or other text) within
// least..most; nothing otherwise.
template <typename Number>
std::optional<Number> ReadWholeNumber(std::string_view text, Number least,
                                      Number most = std::numeric_limits<Number>::max()) {
  Number number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (number < least || number > most) return std::nullopt;
  return number;
}
std::optional<std::uint64_t> ReadSeed(std::string_view text);
std::optional<long> ReadCount(std::string_view text);  // replicates, generations, span
inline constexpr const char* kSeedAllowed = "allowed is a whole number from 0 to 18446744073709551615";
inline constexpr const char* kCountAllowed = "allowed is a whole number from 1 to 1000000000";

// A series as the user defines it, without its output files.
struct SeriesSettings {
  std::optional<std::uint64_t> seed;  // none: taken from the clock
  long replicates = 2;
  long generations = 5000;
  RecordingChoices recording;
  bool trace = false;
  bool stats = false;  // the trace carries the population-genetic statistics
  bool genotypes = false;  // genotype samples are written
  long sampleEvery = 0;    // 0: the last generation only
  Parameters params;
  // The [[change]] tables in the file's order, one per generation.
  ParameterSchedule changes;
};

// One varied parameter of a study and its values, each as --set reads it.
// A change's generation or value is varied as "change.N.generation" or
// "change.N.NAME", N counting the [[change]] tables from 1.
struct StudyAxis {
  std::string name;
  std::vector<std::string> values;
};

struct SettingsFile {
  SeriesSettings settings;
  std::vector<StudyAxis> vary;  // empty: a plain series
  std::string text;             // the file's own text
};

// "FILE:LINE: what is wrong and what is allowed".
class SettingsFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads and checks a settings file; throws SettingsFileError.
SettingsFile ReadSettingsFile(const std::string& path);
// The same from text; `name` is used in messages.
SettingsFile ParseSettingsText(const std::string& text, const std::string& name);

// The TOML text of a series' settings (with the study's lists when given).
// Every parameter is written, so the file stays meaningful if defaults change.
std::string SettingsFileText(const SeriesSettings& settings, const std::vector<StudyAxis>& vary = {});

// timed, total, preference, specialization, mating or none.
std::string RecordName(const RecordingChoices& choices);
// Sets the recorded variable by its name, keeping the span; false for an
// unknown name.
bool ApplyRecordName(std::string_view name, RecordingChoices& choices);
inline constexpr const char* kRecordNames = "timed, total, preference, specialization, mating or none";

// The talveron-batch command line that runs these settings into `outPath`,
// quoted for a POSIX shell. Parameters at their defaults are left out.
std::string BatchCommandLine(const SeriesSettings& settings, const std::string& outPath);

// A word quoted for a POSIX shell when it needs it.
std::string ShellQuote(std::string_view word);

}  // namespace talveron
