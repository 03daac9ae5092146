// A saved state's bytes built in a test from the layout alone: fields in
// order, little-endian whole numbers of a given width, floats as their IEEE
// bits written out by hand, the seal's mark, version and FNV-1a checksum.
// The tests of the world's and the run's states compare what is saved with
// these, so that a state saved by one build reads in another.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace talveron::testing {

class Layout {
 public:
  Layout& Int(std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return *this;
  }
  Layout& Raw(std::string_view text) {
    bytes.append(text);
    return *this;
  }
  // Its length in eight bytes, then its bytes.
  Layout& Text(std::string_view text) { return Int(text.size(), 8).Raw(text); }
  std::string bytes;
};

// FNV-1a, 64 bits, from its definition.
inline std::uint64_t Fnv1a(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char byte : bytes) hash = (hash ^ static_cast<unsigned char>(byte)) * 1099511628211ULL;
  return hash;
}

// The seal around a body: the mark, version 2 in four bytes, the kind and
// the body each with its length, and the checksum of all of that.
inline std::string Sealed(std::string_view kind, std::string_view body) {
  Layout seal;
  seal.Raw(std::string_view("TALVERON STATE\n\x1a", 16)).Int(2, 4).Text(kind).Text(body);
  return seal.Int(Fnv1a(seal.bytes), 8).bytes;
}

}  // namespace talveron::testing
