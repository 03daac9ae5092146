#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "record/data_file.h"
#include "record/trace.h"
#include "temp_folder.h"

namespace talveron {
namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The old file stays as it was until the new one is complete; until then
// the text goes to FILE.partial, which a stop leaves with complete records.
TEST(DataFile, ReplacesAnExistingFileOnlyWhenComplete) {
  const test_support::TempFolder folder("data-file");
  const auto path = folder / "replace";
  const std::string partial = path.string() + ".partial";
  { std::ofstream(path) << "old contents"; }
  {
    DataFile file(path.string());
    file.Append("header\r");
    file.Flush();
    file.Append("1\t2\r");
    EXPECT_EQ(ReadAll(path), "old contents");
    file.Close();
  }
  EXPECT_EQ(ReadAll(path), "header\r1\t2\r");
  EXPECT_FALSE(std::filesystem::exists(partial));
  {
    DataFile file(path.string());
    file.Append("header\r");
    file.Flush();
    file.Append("half a rec");
  }  // abandoned
  EXPECT_EQ(ReadAll(path), "header\r1\t2\r");
  EXPECT_EQ(ReadAll(partial), "header\r");
}

TEST(DataFile, AFileThatCannotBeCreatedNamesPathAndReason) {
  try {
    DataFile file("/nonexistent-directory/data.txt");
    FAIL() << "created a file in a missing directory";
  } catch (const FileError& error) {
    EXPECT_EQ(error.path(), "/nonexistent-directory/data.txt");
    EXPECT_NE(std::string(error.what()).find("No such file or directory"), std::string::npos);
  }
}

// A full disk is reported by the write or the flush of the record, never
// taken as success.
TEST(DataFile, AFullDeviceFails) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  DataFile file("/dev/full");
  try {
    file.Append(std::string(10000, 'x'));
    file.Flush();
    FAIL() << "a write to a full device was reported as written";
  } catch (const FileError& error) {
    EXPECT_EQ(error.reason(), "No space left on device");
  }
}

TEST(TraceFile, WritesTheHeadAndTwoLinesPerGeneration) {
  const test_support::TempFolder folder("data-file");
  const auto path = folder / "trace";
  GeneFrequencies frequencies;
  frequencies.count[0][0][1][2] = 3;
  frequencies.count[1][2][2][1] = 4;
  {
    TraceFile trace(path.string());
    trace.WriteGeneration(2, 17, frequencies);
    trace.Close();
  }
  EXPECT_EQ(ReadAll(path), std::string(kTraceHeader) +
                               "2\t17\t0\t3\t3\t0\t0\t0\t3\t0\t0\t0\t3\n"
                               "2\t17\t1\t4\t0\t0\t4\t0\t0\t4\t0\t4\t0\n");
}

}  // namespace
}  // namespace talveron
