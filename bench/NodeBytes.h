// A counting pass over a loaded tree for the load benchmark: how many nodes of each class the
// tree holds and how many arena bytes go with them.
//
// A node is placed before its constructor runs, and the constructor places the node's texts,
// byte lists and child list right after it in the same lane, so the bytes from one node up to
// the next node of its lane belong to that node: its own size (sizeof its class) and what it
// placed ("attached"). Growth that happens later (a child list extended when a child is added
// after other nodes were placed, the regrouping) is charged to the node placed just before it,
// and blocks of the lanes' free lists reused by a later node land in that node's figure: the
// figures are an estimate, good for finding where the bytes go, not an exact balance.
#pragma once

#include <cstdio>

#include "model/LogFile.h"

namespace quillon::bench {

// Prints one line per node class (count, own bytes, attached bytes, per node), then totals.
void PrintNodeBytes(const LogFile& root, std::FILE* out);

}  // namespace quillon::bench
