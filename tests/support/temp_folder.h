// A new, empty folder in the temporary folder ($TMPDIR, else /tmp) that is
// removed with everything in it when the owner goes, also when a test fails.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace test_support {

class TempFolder {
 public:
  // `tag` names the folder for whoever finds it while the test runs.
  explicit TempFolder(std::string_view tag = "test") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("talveron-" + std::string(tag) + "-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
      throw std::runtime_error("cannot make a temporary folder " + pattern + ": " + std::strerror(errno));
    }
    path_ = name.data();
  }
  ~TempFolder() {
    std::error_code ignored;
    // A test may have taken the permissions away; give them back to remove.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
      }
    }
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace test_support
