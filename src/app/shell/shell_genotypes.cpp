// File > Save Genotypes: the adults on the map as a VCF file, their
// samples named with the replicate and generation as the batch command
// names them.
#include <string>

#include "app/shell/shell.h"
#include "model/fatal_error.h"
#include "record/genotype_vcf_text.h"
#include "record/output_file.h"

namespace talveron::app {

// Plain VCF text: what the page writes, where htslib is not.
void Platform::WriteGenotypes(const std::string& path, long replicate, const std::vector<GenotypeSample>& samples,
                              const GenotypeSettings& settings) {
  OutputFile file(path);
  WriteGenotypeVcfText(replicate, samples, settings, [&file](std::string_view text) { file.Write(text); });
  file.Commit();
}

std::optional<std::pair<long, GenotypeSample>> Shell::GenotypesOnMap() const {
  if (midGeneration_ || mapReplicate_ < 1) return std::nullopt;
  return std::pair{mapReplicate_, GenotypeSample{mapGeneration_, world.adults}};
}

void Shell::SaveGenotypes() {
  std::optional<std::pair<long, GenotypeSample>> onMap = GenotypesOnMap();
  if (!onMap) {
    platform_.ShowNotice(
        "The genotypes are saved between generations: press the space bar to end this generation first.");
    return;
  }
  // The map shows the generation that is saved.
  if (DrawingPending()) ShowFrame();
  const auto& [replicate, sample] = *onMap;
  // The settings as the batch command takes them: their values before any
  // scheduled change, and the changes.
  const SeriesSettings settings = CurrentSettings();
  while (const std::optional<std::string> path = platform_.AskGenotypesPath()) {
    try {
      platform_.WriteGenotypes(*path, replicate, {sample}, GenotypeSettings{settings.params, settings.changes});
      platform_.ShowNote("Saved the genotypes of " + std::to_string(sample.adults.size()) + " adults of generation " +
                         std::to_string(sample.generation) + " to " + *path);
      noteShown_ = true;
      return;
    } catch (const FileError& error) {
      platform_.ShowNotice(std::string("The genotypes cannot be written: ") + error.what() +
                           ". Choose another place or name.");
    }
  }
}

}  // namespace talveron::app
