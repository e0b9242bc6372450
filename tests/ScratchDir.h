// Files a test writes go into a directory of the test process's own: ctest runs the tests as
// parallel processes, and two checkouts may be tested on one machine at once, so a file written
// under a fixed name in the shared temporary directory can be rewritten by another test while
// this one reads it. The directory goes when the process ends. Also the reading and writing of
// whole files, and the sample logs of examples/, which many tests share.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
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

// A file's bytes as they are ("" when it cannot be read).
inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes,
                           std::ios::openmode mode = std::ios::trunc) {
  std::ofstream(path, std::ios::binary | mode).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::filesystem::path ExamplePath(const std::string& name) {
  return std::filesystem::path(QUILLON_SOURCE_DIR) / "examples" / name;
}
inline std::string ExampleText(const std::string& name) { return ReadFileBytes(ExamplePath(name)); }

}  // namespace quillon::testing
