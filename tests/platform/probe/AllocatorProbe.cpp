// Runs the executables' allocator set-up, then reports what the program sees afterwards and
// what environment it was started with, for ProcessMemoryTest.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/ProcessMemory.h"

int main(int argc, char** argv) {
  quillon::platform::TuneAllocatorForLargeLogs(argv);
  // A second call changes nothing (and must not restart the program again).
  quillon::platform::TuneAllocatorForLargeLogs(argv);
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  std::printf("now: %s\n", tunables != nullptr ? tunables : "(unset)");
  // The environment this program image was started with: after a restart, what the C library
  // read its settings from.
  std::ifstream file("/proc/self/environ", std::ios::binary);
  const std::string environ((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::string startup = "(unset)";
  bool leftovers = false;
  for (std::size_t at = 0; at < environ.size();) {
    std::size_t end = environ.find('\0', at);
    if (end == std::string::npos) end = environ.size();
    const std::string entry = environ.substr(at, end - at);
    if (entry.rfind("GLIBC_TUNABLES=", 0) == 0) startup = entry.substr(15);
    at = end + 1;
  }
  for (const char* name : {"QUILLON_ALLOCATOR_RESTARTED", "QUILLON_SAVED_GLIBC_TUNABLES", "QUILLON_SAVED_PROCESS_NAME"}) {
    if (std::getenv(name) != nullptr) leftovers = true;
  }
  std::ifstream commFile("/proc/self/comm");
  std::string comm;
  std::getline(commFile, comm);
  std::printf("startup: %s\nleftovers: %s\nname: %s\nargs:", startup.c_str(), leftovers ? "yes" : "no",
              comm.c_str());
  for (int i = 1; i < argc; ++i) std::printf(" [%s]", argv[i]);
  std::printf("\n");
  return 0;
}
