// Files a test writes go into a directory of the test process's own: ctest runs the tests as
// parallel processes, and two checkouts may be tested on one machine at once, so a file written
// under a fixed name in the shared temporary directory can be rewritten by another test while
// this one reads it. The directory goes when the process ends.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace quillon::testing {

inline const std::filesystem::path& ScratchDir() {
  struct Dir {
    std::filesystem::path path;
    Dir() : path(std::filesystem::path(::testing::TempDir()) / ("quillon-test-" + std::to_string(::getpid()))) {
      std::filesystem::create_directories(path);
    }
    ~Dir() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  static const Dir dir;
  return dir.path;
}

inline std::filesystem::path ScratchPath(const std::string& name) { return ScratchDir() / name; }

}  // namespace quillon::testing
