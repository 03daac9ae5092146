// One individual: its place and its small genome.
#pragma once

#include <array>
#include <cstdint>

namespace talveron {

inline constexpr int kHabitats = 2;
inline constexpr int kColumns = 32;          // x, 0..31
inline constexpr int kRows = 40;             // y, 0..39
inline constexpr int kCellsPerHabitat = kColumns * kRows;  // 1280
inline constexpr int kHabitatCap = 640;      // adults a habitat may hold after dispersal
inline constexpr int kNeutralGenes = 10;

// Loci habitatPref, habitatSpec, matingPrefType, signalType and
// generalViability: 0 and 1 are the alleles tied to habitat (or environment
// state) 0 and 1; 2 is the neutral allele every founder carries.
inline constexpr std::uint8_t kNeutralAllele = 2;

struct Individ {
  std::uint8_t habitat = 0;        // 0 left, 1 right; natal habitat before dispersal
  std::uint8_t x = 0;              // column 0..31
  std::uint8_t y = 0;              // row 0..39
  bool sex = false;                // false female, true male
  std::uint8_t habitatPref = kNeutralAllele;
  std::uint8_t habitatSpec = kNeutralAllele;
  std::uint8_t matingPrefType = kNeutralAllele;
  std::uint8_t matingPrefValue = 0;   // 0..9, a female's threshold
  std::uint8_t signalType = kNeutralAllele;
  std::uint8_t signalValue = 0;       // 0..9, a male's signal strength
  std::int8_t generalViability = kNeutralAllele;
  std::array<std::uint8_t, kNeutralGenes> neutralGenes{};  // 0 or 1 each
};

// Top-left pixel of an individual's cell in the map view.
inline int CellLeft(int habitat, int x) { return 320 * habitat + 10 * x; }
inline int CellTop(int y) { return 10 * y; }

}  // namespace talveron
