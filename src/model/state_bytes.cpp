#include "model/state_bytes.h"

#include <cstring>

namespace talveron {
namespace {

// FNV-1a, 64 bits: enough to tell a damaged or cut file from a whole one.
std::uint64_t Checksum(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char byte : bytes) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

// The bits of a number as another type of its size (std::bit_cast, which
// not every standard library of the web build has).
template <typename To, typename From>
To BitsAs(From value) {
  static_assert(sizeof(To) == sizeof(From));
  To bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

}  // namespace

void StateWriter::Unsigned(std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) {
    bytes_.push_back(static_cast<char>(value & 0xFF));
    value >>= 8;
  }
}

void StateWriter::F32(float value) { U32(BitsAs<std::uint32_t>(value)); }
void StateWriter::F64(double value) { U64(BitsAs<std::uint64_t>(value)); }

void StateWriter::Text(std::string_view text) {
  U64(text.size());
  Raw(text);
}

void StateReader::Damaged(const std::string& reason) const {
  throw StateError(source_ + ": a saved talveron state that is damaged (" + reason + ")");
}

void StateReader::Need(std::string_view field, std::size_t size) const {
  if (left() < size) Damaged("it ends before " + std::string(field));
}

std::uint64_t StateReader::PeekU64(std::string_view field) const {
  Need(field, 8);
  std::uint64_t value = 0;
  for (std::size_t i = 8; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes_[at_ + i]);
  return value;
}

std::uint64_t StateReader::Unsigned(std::string_view field, int width) {
  const std::size_t size = static_cast<std::size_t>(width);
  Need(field, size);
  std::uint64_t value = 0;
  for (std::size_t i = size; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes_[at_ + i]);
  at_ += size;
  return value;
}

std::uint8_t StateReader::Small(std::string_view field, std::uint8_t most) {
  const std::uint8_t value = U8(field);
  if (value > most) {
    Damaged(std::string(field) + " is " + std::to_string(value) + "; allowed is 0 to " + std::to_string(most));
  }
  return value;
}

float StateReader::F32(std::string_view field) { return BitsAs<float>(U32(field)); }
double StateReader::F64(std::string_view field) { return BitsAs<double>(U64(field)); }

std::string_view StateReader::Raw(std::string_view field, std::size_t size) {
  Need(field, size);
  const std::string_view raw = bytes_.substr(at_, size);
  at_ += size;
  return raw;
}

std::string StateReader::Text(std::string_view field) {
  const std::size_t size = Count(field, 1);
  return std::string(Raw(field, size));
}

std::int64_t StateReader::Within(std::string_view field, std::int64_t least, std::int64_t most) {
  const std::int64_t value = I64(field);
  if (value < least || value > most) {
    Damaged(std::string(field) + " is " + std::to_string(value) + "; allowed is " + std::to_string(least) +
            " to " + std::to_string(most));
  }
  return value;
}

std::size_t StateReader::Count(std::string_view field, std::size_t itemBytes) {
  const std::uint64_t count = U64(field);
  if (itemBytes != 0 && count > left() / itemBytes) {
    Damaged(std::string(field) + " is " + std::to_string(count) + ", more than the " + std::to_string(left()) +
            " bytes left can hold");
  }
  return static_cast<std::size_t>(count);
}

void StateReader::ExpectEnd() {
  if (left() != 0) Damaged(std::to_string(left()) + " bytes left over after its last field");
}

std::string SealState(std::string_view kind, std::string_view body) {
  StateWriter out;
  out.Raw(kStateMark);
  out.U32(kStateFormatVersion);
  out.Text(kind);
  out.Text(body);
  out.U64(Checksum(out.bytes()));
  return out.Take();
}

std::string_view OpenState(std::string_view sealed, std::string_view kind, std::string_view source) {
  const std::string name(source);
  const std::string expected = "a saved talveron " + std::string(kind);
  if (!sealed.empty() && sealed.size() < kStateMark.size() && kStateMark.starts_with(sealed)) {
    throw StateError(name + ": " + expected + " that is cut short (it ends in its mark)");
  }
  if (!sealed.starts_with(kStateMark)) {
    throw StateError(name + ": not " + expected + " (it does not begin with the mark \"TALVERON STATE\")");
  }
  StateReader in(sealed.substr(kStateMark.size()), name);
  if (in.left() < 4) throw StateError(name + ": " + expected + " that is cut short (it ends in its header)");
  const std::uint32_t version = in.U32("the format version");
  if (version != kStateFormatVersion) {
    throw StateError(name + ": " + expected + " of format version " + std::to_string(version) +
                     "; this talveron reads version " + std::to_string(kStateFormatVersion));
  }
  // A length that runs past the end is a file cut short; one that ends
  // early, or a checksum that differs, a damaged one. The kind and the body
  // each leave 8 bytes after them: the body's length, the checksum.
  auto cutShortUnlessFits = [&] {
    if (in.left() >= 16 && in.PeekU64("a length") <= in.left() - 16) return;
    throw StateError(name + ": " + expected + " that is cut short (" + std::to_string(sealed.size()) + " bytes)");
  };
  cutShortUnlessFits();
  const std::string found = in.Text("the kind of state");
  cutShortUnlessFits();
  const std::string_view body = in.Raw("the body", static_cast<std::size_t>(in.U64("the body's length")));
  if (in.left() != 8) {
    throw StateError(name + ": " + expected + " that is damaged (" + std::to_string(in.left() - 8) +
                     " bytes after its checksum)");
  }
  if (in.U64("the checksum") != Checksum(sealed.substr(0, sealed.size() - 8))) {
    throw StateError(name + ": " + expected + " that is damaged (its checksum does not match its bytes)");
  }
  if (found != kind) throw StateError(name + ": a saved talveron " + found + ", where " + expected + " was expected");
  return body;
}

}  // namespace talveron
