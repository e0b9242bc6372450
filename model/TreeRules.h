// How the log tree is shown, shared by the desktop viewer and the command-line tool:
// which nodes form the visible levels and which state icon each one carries.
#pragma once

#include <vector>

#include "model/LogNode.h"

namespace quillon {

// The state icons, by index. 0 is "no icon".
enum StateIcon : int {
  kIconNone = 0,
  kIconPhaseOneFailed = 1,     // "P1" on red: main or aggressive mode, not complete
  kIconPhaseOneDone = 2,       // "P1" on blue
  kIconQuickModeFailed = 3,    // "P2" on red
  kIconQuickModeDone = 4,      // "P2" on green
  kIconDelete = 5,             // white cross on grey: a delete with a direction
  kIconChildSaFailed = 6,      // "SA" on red
  kIconIpsecChildSaDone = 7,   // "SA" on green
  kIconInitialFailed = 8,      // "I" on red: IKEv2 initial exchange
  kIconInitialDone = 9,        // "I" on blue
  kIconIkeChildSaDone = 10,    // "SA" on blue
  kIconAuthFailed = 11,        // "A" on red: IKEv2 authentication exchange
  kIconAuthDone = 12,          // "A" on green
  kIconInfo = 13,              // grey "i": informational
  kIconDpd = 14,               // grey "D": dead-peer detection
  kIconConfigDone = 15,        // "C" on teal
  kIconConfigFailed = 16,      // "C" on red
  kIconPeerInTrouble = 17,     // "!" on red: a peer that holds a failed negotiation
  kStateIconCount = 18,
};

// The state icon of a node, from its kind and state; a peer's from its negotiations.
int StateIconIndex(const LogNode& node);

// The peer (a child of the log root) holds a failed negotiation, as the tree shows it: a row
// below it, or below one of its tunnel rows, is a negotiation that did not complete. The
// "Peers containing failed negotiations" filter keeps these.
bool HoldsFailedNegotiation(const LogNode& peer);

// A tunnel without both addresses is not a level of the visible tree: its children stand in
// its place. Data-attribute nodes are never shown.
bool IsShownAsLevel(const LogNode& node);

// The nodes shown directly below `node`: its children, without data attributes, with the
// children of address-less tunnels in the tunnel's place (recursively).
std::vector<LogNode*> VisibleChildren(const LogNode& node);

}  // namespace quillon
