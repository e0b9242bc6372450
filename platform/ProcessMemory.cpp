#include "platform/ProcessMemory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quillon::platform {

void TuneAllocatorForLargeLogs() {
#if defined(__GLIBC__)
  // The extra room taken each time a heap grows (the default is 128 KiB). Untouched room costs
  // address space only, and is given back when the heap shrinks.
  mallopt(M_TOP_PAD, 32 << 20);
#endif
}

}  // namespace quillon::platform
