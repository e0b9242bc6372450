// An IKEv2 message of the XML log as a packet: the XML names the header's fields (SPIs,
// exchange type, message ID, response flag) and the payloads by their kind, but holds no
// payload's bytes (transforms, notify types and identities by name, key exchange and nonce by
// length only). So the message is rebuilt as its IKE header alone, with "no next payload" and
// the length of that header; the note lists the payloads the log names and the length it gives.
#pragma once

#include "export/IsakmpPacket.h"

namespace quillon {

class LogNode;

namespace hand_over {

// The node of an IKEv2 message; null for any other node.
bool IsIKEv2Message(const LogNode& node);

// Rebuilds the header of `message` (a node IsIKEv2Message accepts). False for another node.
bool RebuildIKEv2Message(const LogNode& message, RebuiltPacket& out);

}  // namespace hand_over
}  // namespace quillon
