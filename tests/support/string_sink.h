// Recorded text kept in memory.
#pragma once

#include <string>
#include <string_view>

#include "record/data_file.h"

namespace talveron::testing {

struct StringSink : TextSink {
  std::string text;
  void Append(std::string_view more) override { text.append(more); }
  void Flush() override {}
};

}  // namespace talveron::testing
