// How the executables set up the process's memory allocator before they load a log.
#pragma once

namespace quillon::platform {

// A loaded log is a tree of millions of small nodes, built by several threads at once. The C
// library grows each thread's heap in small steps by default, and every step changes the
// process's memory map, during which the other threads' first touches of fresh memory wait.
// Growing in steps of several megabytes keeps the loader's threads from waiting on each other.
// Call once, at the start of main. Does nothing where the C library offers no such setting.
void TuneAllocatorForLargeLogs();

}  // namespace quillon::platform
