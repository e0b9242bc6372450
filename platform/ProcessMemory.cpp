#include "platform/ProcessMemory.h"

// Any C library header tells which C library this is.
#include <cstdlib>

#if defined(__linux__) && defined(__GLIBC__)
#include <fcntl.h>
#include <malloc.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#endif

namespace quillon::platform {

#if defined(__linux__) && defined(__GLIBC__)
namespace {

constexpr const char* kTunables = "GLIBC_TUNABLES";
constexpr const char* kHugePageTunable = "glibc.malloc.hugetlb=1";
// Set for the restarted program only. GLIBC_TUNABLES's value before the restart is kept in
// kSavedTunables, which is missing when it had none.
constexpr const char* kRestarted = "QUILLON_ALLOCATOR_RESTARTED";
constexpr const char* kSavedTunables = "QUILLON_SAVED_GLIBC_TUNABLES";
// The process name before the restart: the restart names the process after the file it runs,
// and `ps`, `top` and `pgrep` should show the name the program was started as.
constexpr const char* kSavedName = "QUILLON_SAVED_PROCESS_NAME";

// The C library's heaps are at most 64 MiB each; with this much room taken at once a new heap
// is usable in full from its start, and the main heap grows in steps of the same size.
constexpr int kTopPad = 64 << 20;

// Whether the kernel gives huge pages to memory that asks for them, and only to such memory.
bool HugePagesOnRequest() {
  const int fd = open("/sys/kernel/mm/transparent_hugepage/enabled", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[128] = {};
  const ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  return got > 0 && std::strstr(text, "[madvise]") != nullptr;
}

void RestoreEnvironment() {
  if (const char* saved = std::getenv(kSavedTunables)) setenv(kTunables, saved, 1);
  else unsetenv(kTunables);
  if (const char* name = std::getenv(kSavedName)) prctl(PR_SET_NAME, name, 0, 0, 0);
  unsetenv(kSavedTunables);
  unsetenv(kSavedName);
  unsetenv(kRestarted);
}

void RestartWithHugePages(char** argv) {
  if (argv == nullptr || argv[0] == nullptr) return;
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload != nullptr && *preload != '\0') return;
  const char* tunables = std::getenv(kTunables);
  if (tunables != nullptr && std::strstr(tunables, "glibc.malloc.hugetlb") != nullptr) return;
  if (!HugePagesOnRequest()) return;

  std::string value = kHugePageTunable;
  if (tunables != nullptr && *tunables != '\0') value = std::string(tunables) + ":" + value;
  if (tunables != nullptr) setenv(kSavedTunables, tunables, 1);
  char name[17] = {};
  if (prctl(PR_GET_NAME, name, 0, 0, 0) == 0) setenv(kSavedName, name, 1);
  setenv(kRestarted, "1", 1);
  setenv(kTunables, value.c_str(), 1);
  // The program's own file as the kernel knows it (argv[0] need not name it, and the file at
  // that path may have been replaced since this program started).
  execv("/proc/self/exe", argv);
  // Still here: the restart failed; go on as we are.
  RestoreEnvironment();
}

}  // namespace

void TuneAllocatorForLargeLogs(char** argv) {
  // Once per process: after the restart the environment no longer shows that it happened, and
  // a second call would restart again.
  static bool done = false;
  if (done) return;
  done = true;
  if (std::getenv(kRestarted) != nullptr) RestoreEnvironment();
  else RestartWithHugePages(argv);
  mallopt(M_TOP_PAD, kTopPad);
}

#else

void TuneAllocatorForLargeLogs(char**) {}

#endif

}  // namespace quillon::platform
