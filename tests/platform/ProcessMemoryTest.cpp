// The executables' allocator set-up may start the program again with the C library's huge-page
// setting; the restarted program must get its arguments unchanged and see (and pass on to what
// it starts) the environment it was given, not the one used for the restart.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

std::string RunProbe(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  pclose(pipe);
  return output;
}

bool HugePagesOnRequest() {
  std::ifstream file("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string text;
  std::getline(file, text);
  return text.find("[madvise]") != std::string::npos;
}

const std::string kProbe = ALLOCATOR_PROBE;

TEST(ProcessMemoryTest, RestartKeepsArgumentsAndTheGivenEnvironment) {
  const bool restarts = HugePagesOnRequest();
  const std::string args = " 'two words' '' last";
  const std::string expectedArgs = "args: [two words] [] [last]\n";

  std::string out = RunProbe("env -u GLIBC_TUNABLES -u LD_PRELOAD " + kProbe + args);
  EXPECT_EQ(out, "now: (unset)\nstartup: " + std::string(restarts ? "glibc.malloc.hugetlb=1" : "(unset)") +
                     "\nleftovers: no\nname: allocator_probe\n" + expectedArgs);

  // Settings of the user's own are kept. (The C library may cut up its copy of the start-up
  // setting while it reads it, so only the setting seen afterwards is compared here.)
  out = RunProbe("env -u LD_PRELOAD GLIBC_TUNABLES=glibc.malloc.tcache_count=7 " + kProbe + args);
  EXPECT_EQ(out.substr(0, out.find('\n') + 1), "now: glibc.malloc.tcache_count=7\n");
  EXPECT_NE(out.find("\nleftovers: no\nname: allocator_probe\n" + expectedArgs), std::string::npos) << out;

  // A huge-page setting of the user's own wins: no restart.
  out = RunProbe("env -u LD_PRELOAD GLIBC_TUNABLES=glibc.malloc.hugetlb=0 " + kProbe + args);
  EXPECT_EQ(out, "now: glibc.malloc.hugetlb=0\nstartup: glibc.malloc.hugetlb=0\nleftovers: no\nname: allocator_probe\n" +
                     expectedArgs);
}

}  // namespace
