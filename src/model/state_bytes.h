// The bytes of a saved state, whatever it holds: fields written and read in
// fixed widths, little-endian, never as a struct's memory, and the seal
// around them.
//
// A sealed state is a mark, the format version, what kind of state it holds
// ("world", "replicate", "Simulation", ...), the length of its body, the
// body, and a checksum of all before it. Reading refuses, with a StateError
// that names the source and what was expected, bytes that are not a sealed
// state, one of another format version or kind, one cut short or damaged;
// it never reads past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace talveron {

// The first bytes of every sealed state.
inline constexpr std::string_view kStateMark{"TALVERON STATE\n\x1a", 16};
// The format version this program writes and reads. Version 1 was the
// Python package's saved Simulation as a JSON recipe, run again on loading.
inline constexpr std::uint32_t kStateFormatVersion = 2;

class StateError : public std::runtime_error {
 public:
  explicit StateError(const std::string& message) : std::runtime_error(message) {}
};

// Fields appended in fixed widths, little-endian.
class StateWriter {
 public:
  void U8(std::uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
  void Bool(bool value) { U8(value ? 1 : 0); }
  void U16(std::uint16_t value) { Unsigned(value, 2); }
  void I16(std::int16_t value) { U16(static_cast<std::uint16_t>(value)); }
  void U32(std::uint32_t value) { Unsigned(value, 4); }
  void I32(std::int32_t value) { U32(static_cast<std::uint32_t>(value)); }
  void U64(std::uint64_t value) { Unsigned(value, 8); }
  void I64(std::int64_t value) { U64(static_cast<std::uint64_t>(value)); }
  void F32(float value);   // its bits
  void F64(double value);  // its bits
  // Its length (U64), then its bytes.
  void Text(std::string_view text);
  // Bytes as they are, without their length (the mark).
  void Raw(std::string_view bytes) { bytes_.append(bytes); }

  const std::string& bytes() const { return bytes_; }
  std::string Take() { return std::move(bytes_); }

 private:
  void Unsigned(std::uint64_t value, int width);
  std::string bytes_;
};

// Fields read back in the order they were written. Every read checks what
// is left first; reading past the end, or a value out of its range, throws
// a StateError that names the source and the field.
class StateReader {
 public:
  StateReader(std::string_view bytes, std::string source) : bytes_(bytes), source_(std::move(source)) {}

  std::uint8_t U8(std::string_view field) { return static_cast<std::uint8_t>(Unsigned(field, 1)); }
  bool Bool(std::string_view field) { return Small(field, 1) != 0; }
  std::uint16_t U16(std::string_view field) { return static_cast<std::uint16_t>(Unsigned(field, 2)); }
  std::int16_t I16(std::string_view field) { return static_cast<std::int16_t>(U16(field)); }
  std::uint32_t U32(std::string_view field) { return static_cast<std::uint32_t>(Unsigned(field, 4)); }
  std::int32_t I32(std::string_view field) { return static_cast<std::int32_t>(U32(field)); }
  std::uint64_t U64(std::string_view field) { return Unsigned(field, 8); }
  std::int64_t I64(std::string_view field) { return static_cast<std::int64_t>(U64(field)); }
  float F32(std::string_view field);
  double F64(std::string_view field);
  std::string Text(std::string_view field);
  // The next `size` bytes as they are, without copying them.
  std::string_view Raw(std::string_view field, std::size_t size);
  // The U64 that comes next, left to be read.
  std::uint64_t PeekU64(std::string_view field) const;
  // A byte that must lie in 0..most.
  std::uint8_t Small(std::string_view field, std::uint8_t most);
  // A whole number (I64) that must lie in least..most.
  std::int64_t Within(std::string_view field, std::int64_t least, std::int64_t most);
  // The count of a list whose items take at least `itemBytes` each: refused
  // when the bytes left cannot hold that many.
  std::size_t Count(std::string_view field, std::size_t itemBytes);

  std::size_t left() const { return bytes_.size() - at_; }
  // Refused when bytes are left over.
  void ExpectEnd();
  // "<source>: a saved talveron state that is damaged (<reason>)"
  [[noreturn]] void Damaged(const std::string& reason) const;
  const std::string& source() const { return source_; }

 private:
  std::uint64_t Unsigned(std::string_view field, int width);
  // Refused unless `size` bytes are left.
  void Need(std::string_view field, std::size_t size) const;
  std::string_view bytes_;
  std::size_t at_ = 0;
  std::string source_;
};

// The body in its seal: mark, version, kind, length, body, checksum.
std::string SealState(std::string_view kind, std::string_view body);
// The body of a sealed state of `kind`; `source` (a file's path) names it
// in a refusal.
std::string_view OpenState(std::string_view sealed, std::string_view kind, std::string_view source);

}  // namespace talveron
