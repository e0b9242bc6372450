// How the executables set up the process's memory allocator before they load a log.
#pragma once

namespace quillon::platform {

// A loaded log is a tree of millions of small nodes, built by several threads at once, and most
// of a load's time goes into the first touch of the fresh memory those nodes take: every 4 KiB
// page costs the kernel a fault. Two settings make that cheaper:
//
// - The C library grows each thread's heap in small steps by default, and every step changes
//   the process's memory map, during which the other threads' first touches of fresh memory
//   wait. Growing in large steps keeps the loader's threads from waiting on each other.
// - Where the kernel gives 2 MiB pages only to memory that asks for them, the C library asks
//   for them for its heaps only when its start-up settings say so. One fault then maps 2 MiB.
//   Those settings are read when the program starts, so when they are missing this function
//   starts the same program again in the same process (same arguments, same process id) with
//   them added. The program and anything it starts see the original environment.
//
// Call first thing in main, before any thread starts and before anything is printed; later
// calls do nothing. `argv` is main's argument vector. Returns normally when there is nothing to
// restart for, when the program runs under a tool that injects itself with LD_PRELOAD (a memory
// checker or profiler would lose track of the restarted program), and when the restart fails.
void TuneAllocatorForLargeLogs(char** argv);

}  // namespace quillon::platform
