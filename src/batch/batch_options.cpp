#include "batch/batch_options.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

namespace talveron::batch {
namespace {

const std::set<std::string> kFlags = {"--help", "-h", "--version", "--quiet", "-q", "--verbose", "--resume",
                                      "--stats"};
const std::set<std::string> kValued = {"--seed", "--replicates", "--generations", "--span", "--record",
                                       "--set", "--change", "--genotypes", "--sample-every", "--out", "--trace", "--jobs", "--settings",
                                       "--study", "--out-dir"};
// What defines a series; a study takes all of it from its file.
const std::set<std::string> kSeriesOptions = {"--seed", "--replicates", "--generations", "--span",
                                              "--record", "--set", "--change", "--stats", "--genotypes",
                                              "--sample-every", "--out", "--trace", "--settings"};

// A study's genotype samples are asked for where its other outputs are.
constexpr const char* kStudyGenotypes =
    "--genotypes cannot be given with --study: the study file asks for genotype samples "
    "(genotypes = true, and sample-every = N); they go into --out-dir";

}  // namespace

namespace {

// Control characters written out as escapes; at most `limit` characters.
std::string Escaped(const std::string& text, std::size_t limit) {
  std::string shown;
  std::size_t characters = 0;
  for (const char c : text) {
    if (characters == limit) {
      shown += "...";
      break;
    }
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (byte < 0x20 || byte == 0x7f) {
      static const char* const kHex = "0123456789abcdef";
      shown += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
    } else {
      shown += c;
    }
    ++characters;
  }
  return shown;
}

// --change GEN:NAME=VALUE: replaces a settings file's change of NAME at
// GEN; given twice for one parameter and generation, it is refused.
std::optional<std::string> AddCommandLineChange(ParameterSchedule& changes, const std::string& value,
                                                std::set<std::string>& given) {
  const std::string shown = "--change " + Quoted(value);
  const auto colon = value.find(':');
  const auto equals = value.find('=');
  if (colon == std::string::npos || equals == std::string::npos || equals < colon) {
    return shown + ": expected GEN:NAME=VALUE, as 2001:natalDispersalRate=10";
  }
  const auto generation = ReadWholeNumber<long long>(value.substr(0, colon), 1, kMaxCount);
  if (!generation) return shown + ": the generation is allowed to be a whole number from 1 to the last generation";
  const std::string name = value.substr(colon + 1, equals - colon - 1);
  if (!given.insert(std::to_string(*generation) + ":" + name).second) {
    return shown + ": " + name + " is changed twice at generation " + std::to_string(*generation) +
           "; give each parameter once per generation";
  }
  changes.Remove(*generation, name);
  if (auto error = changes.Add(*generation, name, value.substr(equals + 1))) {
    return "--change " + (value.size() > 80 ? Quoted(value) + ": not allowed (see --help)" : *error);
  }
  return std::nullopt;
}

}  // namespace

std::string Quoted(const std::string& value) { return "'" + Escaped(value, 80) + "'"; }

std::string GenotypesPathFor(const std::string& outPath) {
  std::filesystem::path path(outPath);
  if (path.has_extension()) return path.replace_extension(".vcf.gz").string();
  return outPath + ".vcf.gz";
}

std::string TracePathFor(const std::string& outPath) {
  std::filesystem::path path(outPath);
  if (path.has_extension()) return path.replace_extension(".trace").string();
  return outPath + ".trace";
}

ParseResult ParseBatchOptions(const std::vector<std::string>& args) {
  ParseResult result;
  BatchOptions& options = result.options;
  // Messages of parameters and settings files show values as they are:
  // the line stays one line of text whatever they hold.
  auto refuse = [&result](const std::string& message) {
    result.error = Escaped(message, std::string::npos);
    return result;
  };

  // First the words, then their meaning: a settings file is read before the
  // options that override it, wherever it stands.
  std::vector<std::pair<std::string, std::string>> given;
  std::set<std::string> seen;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (const auto equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
      inlineValue = name.substr(equals + 1);
      name = name.substr(0, equals);
    }
    if (kFlags.count(name) != 0) {
      if (inlineValue) return refuse(name + " takes no value, but was given " + Quoted(*inlineValue));
      given.emplace_back(name, "");
      continue;
    }
    if (kValued.count(name) == 0) return refuse("unknown option " + Quoted(name) + " (see --help)");
    std::string value;
    if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
      value = args[++i];
    } else {
      const bool study = std::any_of(args.begin(), args.end(),
                                     [](const std::string& arg) { return arg.rfind("--study", 0) == 0; });
      if (study && name == "--genotypes") return refuse(kStudyGenotypes);
      return refuse(name + " needs a value (see --help)");
    }
    if (name != "--set" && name != "--change" && !seen.insert(name).second) {
      return refuse(name + " is given twice (" + Quoted(value) + " the second time); give it once");
    }
    given.emplace_back(name, value);
  }

  for (const auto& [name, value] : given) {
    if (name == "--help" || name == "-h") options.help = true;
    if (name == "--version") options.version = true;
    if (name == "--quiet" || name == "-q") options.quiet = true;
    if (name == "--verbose") options.verbose = true;
    if (name == "--resume") options.resume = true;
    if (name == "--stats") options.stats = true;
  }
  if (options.help || options.version) return result;
  if (options.quiet && options.verbose) return refuse("--verbose and --quiet cannot be given together");

  if (seen.count("--study") != 0) {
    for (const auto& [name, value] : given) {
      if (name == "--genotypes" || name == "--sample-every") {
        return refuse(name == "--genotypes" ? std::string(kStudyGenotypes)
                                            : name + " cannot be given with --study: the study file says how often "
                                                     "genotypes are sampled (sample-every = N)");
      }
      if (kSeriesOptions.count(name) != 0) {
        return refuse(name + " cannot be given with --study: the study file defines its series");
      }
    }
    if (seen.count("--out-dir") == 0) return refuse("--study needs --out-dir DIR: the folder of the study's files");
  } else {
    if (seen.count("--out-dir") != 0) return refuse("--out-dir goes with --study (for one series, use --out FILE)");
    if (options.resume) return refuse("--resume goes with --study: it continues a stopped study");
  }

  bool traceFromSettings = false;
  bool genotypesFromSettings = false;
  std::set<std::string> setNames;
  std::set<std::string> changeNames;  // GEN:NAME given by --change
  for (const auto& [name, value] : given) {
    if (name != "--settings" && name != "--study") continue;
    try {
      SettingsFile file = ReadSettingsFile(value);
      if (name == "--study") {
        options.studyPath = value;
        options.study = std::move(file);
        break;
      }
      if (!file.vary.empty()) {
        return refuse("--settings " + Quoted(value) + ": the file lists [vary]; run it with --study FILE --out-dir DIR");
      }
      options.settingsPath = value;
      options.seed = file.settings.seed;
      options.series.replicates = file.settings.replicates;
      options.series.generations = file.settings.generations;
      options.recording = file.settings.recording;
      options.params = file.settings.params;
      options.changes = file.settings.changes;
      traceFromSettings = file.settings.trace;
      genotypesFromSettings = file.settings.genotypes;
      options.sampleEvery = file.settings.sampleEvery;
      options.stats = options.stats || file.settings.stats;
    } catch (const SettingsFileError& error) {
      return refuse(name + " " + error.what());
    }
  }

  for (const auto& [name, value] : given) {
    const std::string shown = name + " " + Quoted(value);
    if (name == "--seed") {
      const auto seed = ReadSeed(value);
      if (!seed) return refuse(shown + ": " + kSeedAllowed);
      options.seed = *seed;
    } else if (name == "--replicates") {
      const auto count = ReadCount(value);
      if (!count) return refuse(shown + ": " + kCountAllowed);
      options.series.replicates = *count;
    } else if (name == "--generations") {
      const auto count = ReadCount(value);
      if (!count) return refuse(shown + ": " + kCountAllowed);
      options.series.generations = *count;
    } else if (name == "--span") {
      const auto span = ReadCount(value);
      if (!span) return refuse(shown + ": " + kCountAllowed);
      options.recording.gAveragingSpan = *span;
    } else if (name == "--record") {
      if (!ApplyRecordName(value, options.recording)) {
        return refuse(shown + ": allowed are " + kRecordNames);
      }
    } else if (name == "--set") {
      const auto equals = value.find('=');
      if (equals == std::string::npos) return refuse("--set " + Quoted(value) + ": expected NAME=VALUE");
      if (!setNames.insert(value.substr(0, equals)).second) {
        return refuse("--set " + Quoted(value.substr(0, equals)) + " is given twice; give each parameter once");
      }
      if (auto error = SetParameter(options.params, value.substr(0, equals), value.substr(equals + 1))) {
        // The parameter's own message quotes the whole value: a long one is
        // shown cut, as everywhere.
        return refuse("--set " + (value.size() > 80 ? Quoted(value) + ": not allowed (see --help)" : *error));
      }
    } else if (name == "--genotypes") {
      const std::string suffix = ".vcf.gz";
      if (value.size() <= suffix.size() || value.compare(value.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return refuse(shown + ": the genotype file's name ends in .vcf.gz (bgzip-compressed VCF)");
      }
      options.genotypesPath = value;
    } else if (name == "--sample-every") {
      const auto every = ReadCount(value);
      if (!every) return refuse(shown + ": " + kCountAllowed);
      options.sampleEvery = *every;
    } else if (name == "--change") {
      if (auto error = AddCommandLineChange(options.changes, value, changeNames)) return refuse(*error);
    } else if (name == "--out") {
      if (value.empty()) return refuse("--out '': a file name is needed");
      options.outPath = value;
    } else if (name == "--trace") {
      if (value.empty()) return refuse("--trace '': a file name is needed");
      options.tracePath = value;
    } else if (name == "--out-dir") {
      if (value.empty()) return refuse("--out-dir '': a folder name is needed");
      options.outDir = value;
    } else if (name == "--jobs") {
      const auto jobs = ReadJobs(value);
      if (!jobs) return refuse(shown + ": " + JobsAllowed());
      options.jobs = *jobs;
    }
  }
  if (options.study) return result;
  if (auto error = options.changes.CheckWithin(options.series.generations)) {
    return refuse((changeNames.empty() ? "--settings " + Quoted(options.settingsPath) : std::string("--change")) +
                  ": " + *error);
  }
  if (options.outPath.empty()) return refuse("--out is required: the data file to write (see --help)");
  if (traceFromSettings && options.tracePath.empty()) options.tracePath = TracePathFor(options.outPath);
  if (genotypesFromSettings && options.genotypesPath.empty()) {
    options.genotypesPath = GenotypesPathFor(options.outPath);
  }
  if (seen.count("--sample-every") != 0 && options.genotypesPath.empty()) {
    return refuse("--sample-every goes with --genotypes FILE.vcf.gz: it says which generations are sampled");
  }
  if (options.stats && options.tracePath.empty()) {
    return refuse("--stats adds columns to the trace: give --trace FILE too (or trace = true in the settings)");
  }
  return result;
}

std::string BatchHelpText(const std::string& program) {
  std::ostringstream out;
  out << "Usage: " << program << " --out FILE [options]\n"
      << "       " << program << " --settings SETTINGS --out FILE [options]\n"
      << "       " << program << " --study STUDY --out-dir DIR [--resume] [--jobs N]\n"
         "\n"
         "Runs series of replicates of the speciation model without a window and writes\n"
         "their data files. The same seed and settings give the same bytes, however many\n"
         "replicates run at once.\n"
         "\n"
         "A series:\n"
         "  --out FILE          the data file to write (required). Written as FILE.partial\n"
         "                      and put in place of FILE when the series is complete; a\n"
         "                      stopped or failed series leaves FILE as it was.\n"
         "                      A read-only FILE is not replaced. While the series\n"
         "                      runs, FILE.lock beside it keeps other runs out.\n"
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
         "  --change GEN:NAME=VALUE\n"
         "                      sets a parameter from generation GEN on (repeatable): applied\n"
         "                      before the Reproduction of generation GEN, in every replicate;\n"
         "                      replaces a settings file's change of NAME at GEN\n"
         "  --trace FILE        also write the census of every generation (tab-separated)\n"
         "  --stats             the trace also gives, per generation, Hudson's F_ST between\n"
         "                      the habitats, each habitat's gene diversity and Cramer's V\n"
         "                      of mating-preference type with specialization and signal\n"
         "  --genotypes FILE.vcf.gz\n"
         "                      writes the adults of sampled generations as VCF 4.2 (bgzip,\n"
         "                      with a tabix index FILE.vcf.gz.tbi): a record per locus, a\n"
         "                      haploid sample per individual named r<replicate>_g<generation>\n"
         "                      _h<habitat>_x<column>_y<row>_<f|m>, and FILE.samples.tsv,\n"
         "                      FILE.habitat0.txt, FILE.habitat1.txt and FILE.sex.txt. With\n"
         "                      several replicates, replicate k goes to FILE-rK.vcf.gz.\n"
         "                      Written as .partial files and put in place with --out;\n"
         "                      a replicate's file may name at most 16777215 samples\n"
         "                      (htslib's limit): a run that passes it ends with status 1\n"
         "  --sample-every N    samples every N-th generation and the last (default: the\n"
         "                      last generation only)\n"
         "  --settings FILE     a settings file (TOML: seed, replicates, generations, record,\n"
         "                      span, trace, parameters under [set], changes as [[change]]\n"
         "                      tables of generation and set); options given on\n"
         "                      the command line override it. With trace = true the trace is\n"
         "                      written beside FILE with the extension .trace; with\n"
         "                      genotypes = true (and sample-every = N) the genotype samples\n"
         "                      beside it with the extension .vcf.gz\n"
         "\n"
         "A study (the settings file with a [vary] table of lists):\n"
         "  --study FILE        runs a series for every combination of the [vary] lists, the\n"
         "                      first key changing slowest; cell c has base seed\n"
         "                      seed + (c - 1) x replicates\n"
         "  --out-dir DIR       where cell-NN.txt (and cell-NN.trace), summary.tsv and\n"
         "                      manifest.json go; created when missing, else empty or\n"
         "                      this study's. One process at a time (DIR/study.lock).\n"
         "                      With genotypes = true in the study file, replicate k of\n"
         "                      cell NN goes to cell-NN-rK.vcf.gz (+ .tbi; cell-NN.vcf.gz\n"
         "                      for one replicate) and the cell's table to\n"
         "                      cell-NN.samples.tsv, all in place once the cell is complete\n"
         "  --resume            continues a stopped study in DIR: complete cells whose\n"
         "                      files are unchanged are kept, the others run again\n"
         "\n"
         "Running:\n"
         "  --jobs N            replicates run at once, 1 to 1024 (default: one per core);\n"
         "                      under mpirun each rank runs one, rank 0 too: start as\n"
         "                      many ranks as cores\n"
         "  --quiet             only errors on standard error: no progress, no messages\n"
         "  --verbose           a line per replicate: its seed, generations, draws and time\n"
         "  --help              this text\n"
         "  --version           the program's version and build (the commit built from)\n"
         "\n"
         "Ctrl+C (or SIGTERM, SIGHUP) stops at the end of the running generation and keeps\n"
         "every complete record; a second Ctrl+C stops at once, with complete records only.\n"
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
         "2 for bad options or an output another run is writing, 130 when stopped by\n"
         "Ctrl+C, 143 by SIGTERM or SIGHUP.\n";
  return out.str();
}

}  // namespace talveron::batch
