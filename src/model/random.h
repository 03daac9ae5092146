// The model's only source of random numbers.
//
// xoshiro256** seeded through SplitMix64 from a 64-bit seed. Random() gives
// the signed 16-bit draws the model is written against (-32767..32767), and
// Randomize(range) scales one draw to 0..range-1 exactly as the model's
// probability tests expect. No std:: distribution is used: their output
// differs between standard libraries.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

namespace talveron {

// Randomize's scaling of one Random() draw: the magnitude times the range in
// 32 bits, divided by 32768 and truncated, kept as a signed 16-bit value.
inline int ScaleDraw(int draw, int range) {
  const std::int32_t magnitude = draw < 0 ? -draw : draw;
  const std::int32_t quotient = (static_cast<std::int32_t>(range) * magnitude) / 32768;
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(quotient & 0xFFFF));
}

// A range of 1 to 32767 can never give a result outside 0..range-1: the
// magnitude is below 32768, so range x magnitude / 32768 is below the range
// and fits in 16 bits. Only other ranges need their results checked.
inline bool RangeNeedsCheck(int range) { return range < 1 || range > 32767; }

// A test "Randomize(range) < value" that a walk makes many times over, with
// its range and value fixed, worked out once before the walk. For a range
// of 1 to 32767 the scaled draw, range x magnitude / 32768 truncated, is
// below the value exactly when the magnitude is below
// limit = ceil(value x 32768 / range) (none is, for a value of 0 or less;
// all are, from a limit of 32768). The magnitude |top - 32767| of a draw
// whose top 16 bits are `top` is below the limit exactly when
// top - (32768 - limit), wrapping below 0, is below 2 limit - 1. So a test
// needs one subtraction and one comparison, neither the magnitude nor the
// product. Other ranges are left to Randomize and its report.
class DrawBelow {
 public:
  DrawBelow() : DrawBelow(1, 0) {}  // never holds
  DrawBelow(int range, int value) : value_(value), range_(range) {
    if (!exact() || value <= 0) return;
    const std::int64_t scaled = static_cast<std::int64_t>(value) * 32768;
    const std::int64_t limit = std::min<std::int64_t>((scaled + range - 1) / range, 32768);
    low_ = static_cast<std::uint32_t>(32768 - limit);
    span_ = static_cast<std::uint32_t>(2 * limit - 1);
  }

  int range() const { return range_; }
  int value() const { return value_; }
  // False for a range Randomize has to check.
  bool exact() const { return !RangeNeedsCheck(range_); }
  // The test for a draw whose top 16 bits are `top` (0..65534).
  bool HoldsFor(std::uint64_t top) const { return top - low_ < span_; }

 private:
  std::uint32_t low_ = 0;
  std::uint32_t span_ = 0;  // 0: the test never holds
  int value_;
  int range_;
};

// Randomize(2) for a draw whose top 16 bits are `top`: 1 when
// |top - 32767| is 16384 or more, that is when top is at most 16383 or at
// least 49151: exactly when top - 16384, wrapping below 0, exceeds 32766.
inline bool CoinFor(std::uint64_t top) { return top - 16384 > 32766; }

// Everything one draw changes: the four words of xoshiro256**, the count of
// draws and how many scripted draws (test support) are still to come.
// Nothing here calls out of line, so that a run of draws can keep it in
// registers.
struct RngState {
  std::uint64_t s[4] = {0, 0, 0, 0};
  std::uint64_t draws = 0;
  std::size_t scriptLeft = 0;

  // Next 64-bit output of xoshiro256**.
  std::uint64_t Next() {
    const std::uint64_t result = Rotl(s[1] * 5, 7) * 9;
    const std::uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = Rotl(s[3], 45);
    return result;
  }

  // Uniform on -32767..32767: the top 16 bits of an output, 65535 redrawn.
  // `script` holds the scripted draws, the last scriptLeft of them to come.
  int Random(const std::vector<int>& script) {
    ++draws;
    if (scriptLeft != 0) [[unlikely]] return script[script.size() - scriptLeft--];
    return static_cast<int>(NextTop16()) - 32767;
  }

  // One draw, not scripted: test.HoldsFor its top 16 bits, or Randomize(2).
  bool Below(const DrawBelow& test) {
    ++draws;
    return test.HoldsFor(NextTop16());
  }
  int Coin() {
    ++draws;
    return CoinFor(NextTop16()) ? 1 : 0;
  }

  // N draws of Randomize(2), each as a byte of all ones for 1 and of zeros
  // for 0: the same draws as N calls, in the same order, with the count
  // and the script looked at once for the run instead of once per draw.
  template <std::size_t N>
  void Coins(std::array<std::uint8_t, N>& coins, const std::vector<int>& script) {
    if (scriptLeft != 0) [[unlikely]] {
      for (std::uint8_t& coin : coins) coin = static_cast<std::uint8_t>(-ScaleDraw(Random(script), 2));
      return;
    }
    // Written out draw by draw (runs are short): a loop's own counting and
    // test would be a tenth of the work.
#pragma GCC unroll 32
    for (std::uint8_t& coin : coins) coin = CoinFor(NextTop16()) ? 0xFF : 0;
    draws += N;
  }

 private:
  // The top 16 bits of the next output other than 65535.
  std::uint64_t NextTop16() {
    std::uint64_t top = Next() >> 48;
    while (top == 65535) top = Next() >> 48;
    return top;
  }
  static std::uint64_t Rotl(std::uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
  }
};

class Rng {
 public:
  explicit Rng(std::uint64_t seed = 0) { Seed(seed); }

  // Restarts the generator from a 64-bit seed.
  void Seed(std::uint64_t seed);

  // Next 64-bit output of xoshiro256**.
  std::uint64_t Next() { return state_.Next(); }

  // Uniform on -32767..32767.
  int Random() { return state_.Random(script_); }

  // 0..range-1 for a positive range. Out-of-range results (range 0 or
  // negative) are reported through the handler and returned all the same.
  // The range is tested before it scales the draw, so that the usual
  // scaling knows its product is not negative.
  int Randomize(int range) {
    const int draw = Random();
    if (RangeNeedsCheck(range)) [[unlikely]] return ScaleChecked(draw, range);
    return ScaleDraw(draw, range);
  }

  // Called with "Bad scaledRandomNumber" when Randomize leaves its range.
  void SetBadRangeHandler(std::function<void()> handler) { badRange_ = std::move(handler); }

  // Test support: the given values are returned by Random() before any
  // generated ones, in order.
  void Script(std::initializer_list<int> draws);
  bool ScriptEmpty() const { return state_.scriptLeft == 0; }

  // Counts Random() calls since the last Seed(), so tests can check how many
  // draws a phase made.
  std::uint64_t DrawCount() const { return state_.draws; }

  // The generator where it stands, to be saved: its words, its count of
  // draws, and the scripted draws still to come (PendingScript). Restore
  // puts a saved generator back; it goes on exactly as the saved one would.
  const RngState& state() const { return state_; }
  std::vector<int> PendingScript() const {
    return {script_.end() - static_cast<std::ptrdiff_t>(state_.scriptLeft), script_.end()};
  }
  void Restore(const RngState& state, std::vector<int> pendingScript) {
    state_ = state;
    script_ = std::move(pendingScript);
    state_.scriptLeft = script_.size();
  }

 private:
  friend class LocalRng;
  // ScaleDraw, with a result outside 0..range-1 reported.
  int ScaleChecked(int draw, int range);

  RngState state_;
  std::vector<int> script_;  // scripted draws, the last state_.scriptLeft still to come
  std::function<void()> badRange_;
};

// An Rng's state taken into a local variable for a walk of many draws, and
// given back when the walk ends. The model's records are bytes, and as far
// as the compiler knows a store to a byte may change any memory, the Rng
// too: drawing from the Rng itself, it writes the state out before every
// such store and reads it back after. A local copy whose address is never
// taken cannot be reached so and stays in registers; only its owner is
// called on the rare report of a bad range. The draws are the Rng's own, in
// the same order; while a LocalRng lives, its Rng is not used.
class LocalRng {
 public:
  explicit LocalRng(Rng& owner) : owner_(owner), state_(owner.state_) {}
  ~LocalRng() { owner_.state_ = state_; }
  LocalRng(const LocalRng&) = delete;
  LocalRng& operator=(const LocalRng&) = delete;

  int Random() { return state_.Random(owner_.script_); }
  // As RngState::Coins.
  template <std::size_t N>
  void Coins(std::array<std::uint8_t, N>& coins) { state_.Coins(coins, owner_.script_); }
  // Randomize(test.range()) < test.value(), as one draw.
  bool Below(const DrawBelow& test) {
    if (state_.scriptLeft != 0 || !test.exact()) [[unlikely]] return Randomize(test.range()) < test.value();
    return state_.Below(test);
  }
  // Randomize(2), as one draw.
  int Coin() {
    if (state_.scriptLeft != 0) [[unlikely]] return Randomize(2);
    return state_.Coin();
  }
  // As Rng::Randomize.
  int Randomize(int range) {
    const int draw = Random();
    if (RangeNeedsCheck(range)) [[unlikely]] return owner_.ScaleChecked(draw, range);
    return ScaleDraw(draw, range);
  }

 private:
  Rng& owner_;
  RngState state_;
};

}  // namespace talveron
