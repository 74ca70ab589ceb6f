// A scratch directory for unit tests: unique, made current, removed after.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

/// Creates a fresh directory below the system's temporary directory, named
/// after `label` and the running test, and makes it current. The destructor
/// returns to the previous directory and removes the scratch directory with
/// everything in it, read-only entries included.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& label) : previous_(std::filesystem::current_path()) {
    path_ = std::filesystem::temp_directory_path() /
            ("zelm-" + label + "-" + std::to_string(std::random_device{}()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    std::filesystem::current_path(path_);
  }
  ~ScratchDir() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
      if (!it->is_symlink()) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
      }
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};
