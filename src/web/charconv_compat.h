// Emscripten's C++ library (LLVM 14's libc++) has std::from_chars and
// std::to_chars for integers only. The model and the settings files read
// and write decimals with them; this header, included before every source
// of the web build, adds the overloads for float and double with the
// standard's results: reading in the "C" locale, and writing the shortest
// text that reads back as the same value, in fixed or scientific notation,
// whichever is shorter (fixed on a tie), as printf would write it.
#pragma once

#ifdef __cplusplus
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace std {

namespace talveron_compat {

template <typename T>
from_chars_result Read(const char* first, const char* last, T& value) {
  const std::string text(first, last);
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) || text[0] == '+') {
    return {first, errc::invalid_argument};
  }
  errno = 0;
  char* end = nullptr;
  const T read = sizeof(T) == sizeof(float) ? static_cast<T>(std::strtof(text.c_str(), &end))
                                            : static_cast<T>(std::strtod(text.c_str(), &end));
  if (end == text.c_str()) return {first, errc::invalid_argument};
  const char* ptr = first + (end - text.c_str());
  if (errno == ERANGE) return {ptr, errc::result_out_of_range};
  value = read;
  return {ptr, errc()};
}

template <typename T>
to_chars_result Write(char* first, char* last, T value, int maxDigits) {
  char text[64];
  if (std::isnan(value) || std::isinf(value) || value == 0) {
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
  } else {
    // The fewest significant digits that read back as the value.
    char scientific[48];
    for (int digits = 1; digits <= maxDigits; ++digits) {
      std::snprintf(scientific, sizeof scientific, "%.*e", digits - 1, static_cast<double>(value));
      const T back = sizeof(T) == sizeof(float) ? static_cast<T>(std::strtof(scientific, nullptr))
                                                : static_cast<T>(std::strtod(scientific, nullptr));
      if (back == value) break;
    }
    // scientific is [-]d[.ddd]e±XX: its digits and exponent, written
    // out in fixed notation as well.
    const char* p = scientific;
    std::string sign;
    if (*p == '-') {
      sign = "-";
      ++p;
    }
    std::string digits;
    for (; *p != 'e'; ++p) {
      if (*p != '.') digits += *p;
    }
    const int exponent = std::atoi(p + 1);
    std::string fixed;
    const int count = static_cast<int>(digits.size());
    if (exponent >= 0) {
      if (count <= exponent + 1) {
        // A whole number: printf's exact digits, as long as the shortest
        // digits padded with zeros.
        char whole[400];
        std::snprintf(whole, sizeof whole, "%.0f", std::fabs(static_cast<double>(value)));
        fixed = whole;
      } else {
        fixed = digits.substr(0, static_cast<std::size_t>(exponent + 1)) + "." +
                digits.substr(static_cast<std::size_t>(exponent + 1));
      }
    } else {
      fixed = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    const std::string shortest = fixed.size() <= std::strlen(scientific) - sign.size() ? sign + fixed
                                                                                        : std::string(scientific);
    std::snprintf(text, sizeof text, "%s", shortest.c_str());
  }
  const std::size_t length = std::strlen(text);
  if (length > static_cast<std::size_t>(last - first)) return {last, errc::value_too_large};
  std::memcpy(first, text, length);
  return {first + length, errc()};
}

}  // namespace talveron_compat

inline from_chars_result from_chars(const char* first, const char* last, float& value,
                                    chars_format = chars_format::general) {
  return talveron_compat::Read(first, last, value);
}
inline from_chars_result from_chars(const char* first, const char* last, double& value,
                                    chars_format = chars_format::general) {
  return talveron_compat::Read(first, last, value);
}
inline to_chars_result to_chars(char* first, char* last, float value) {
  return talveron_compat::Write(first, last, value, 9);
}
inline to_chars_result to_chars(char* first, char* last, double value) {
  return talveron_compat::Write(first, last, value, 17);
}

}  // namespace std
#endif
