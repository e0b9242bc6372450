// What a node of the log tree is and what state it is in, as typed values. Every question the
// view, the narrowing, the timeline and the diagnosis ask about meaning goes through these:
// captions are texts for the reader and may hold anything the log wrote (an IKEv2 serial
// number "Failed", a type " <=> "), so nothing is ever decided by searching them.
#pragma once

#include <cstdint>

namespace quillon {

enum class NodeKind : std::uint8_t {
  kOther,           // a node no question below is asked of
  kLogRoot,
  kPeer,
  kTunnel,
  // IKEv1 negotiations.
  kMainMode,
  kAggressiveMode,
  kQuickMode,
  kConfigMode,
  kInformational,   // IKEv1 or IKEv2: notifications, deletes, dead-peer detection
  kRestart,         // the mark a daemon restart leaves among the negotiations
  // IKEv2 exchanges (an IKEv2 informational exchange is kInformational).
  kInitial,         // IKE_SA_INIT
  kAuthentication,  // IKE_AUTH
  kChildSa,         // CREATE_CHILD_SA for IPsec SAs
  kIkeRekey,        // CREATE_CHILD_SA rekeying the IKE SA
  kOtherExchange,   // an IKEv2 exchange of a type the viewer does not know
  // Below a negotiation.
  kPacket,
  kHeader,
  kPayload,
  kAttributeValue,  // a data attribute of a transform: never shown as a row
};

// A negotiation of either log format (a restart marker included).
constexpr bool IsNegotiation(NodeKind kind) { return kind >= NodeKind::kMainMode && kind <= NodeKind::kOtherExchange; }

// State bits of a node; a node answers the ones that apply to it.
enum NodeState : std::uint16_t {
  kStateNone = 0,
  // Complete: every packet of the negotiation was seen (informational exchanges, tunnels and
  // the complete configuration messages are complete too).
  kStateComplete = 1u << 0,
  // Failed: a negotiation that did not complete (shown with " Failed!"); a restart marker is
  // neither complete nor failed.
  kStateFailed = 1u << 1,
  kStateDpd = 1u << 2,
  // An informational exchange that is neither a delete nor dead-peer detection: the error and
  // status notifications Verify's "Error informational" keeps.
  kStateErrorInformational = 1u << 3,
  kStateDelete = 1u << 4,
  kStateRestart = 1u << 5,
  // The negotiation's row shows its direction (==> or <==).
  kStateDirected = 1u << 6,
  // Marks of the diagnosis.
  kStateImmediateDelete = 1u << 7,
  kStateSuccessiveIdentical = 1u << 8,
  kStateDeleteRepeated = 1u << 9,
  kStateFirstRepeatedDelete = 1u << 10,
};

}  // namespace quillon
