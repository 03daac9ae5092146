// Before any test makes a QApplication: Qt's offscreen platform unless the
// caller chose another, and Qt's runtime folder in the build tree rather than
// a new one left behind in the temporary folder.
#include <cstdlib>

namespace {

const bool kEnvironmentSet = [] {
  ::setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
  ::setenv("XDG_RUNTIME_DIR", TALVERON_TEST_RUNTIME_DIR, /*overwrite=*/0);
  return true;
}();

}  // namespace
