// Runs a shell command line the way a script would run quillon-cli, capturing its standard
// output, its standard error and its exit status.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace quillon::testing_support {

struct ShellRun {
  int status = -1;
  std::string out, err;
};

inline ShellRun RunShell(const std::string& command) {
  // One stderr file per process: ctest runs the tests side by side.
  const std::string errFile =
      testing::TempDir() + "quillon-shell-stderr-" + std::to_string(getpid()) + ".txt";
  const std::string full = "{ " + command + "; } 2>" + errFile;
  ShellRun run;
  FILE* pipe = popen(full.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(errFile);
  std::stringstream text;
  text << err.rdbuf();
  run.err = text.str();
  std::remove(errFile.c_str());
  return run;
}

}  // namespace quillon::testing_support
