// An IKEv2 message of the XML log as a packet.
//
// The XML log names the header's fields (SPIs, exchange type, message ID, response flag) and
// each payload with the values the daemon chose to print: proposals with their transforms by
// name, the key-exchange group, notify types by name with their SPI, delete SPIs, identities,
// traffic selectors, certificate request hashes, the authentication method, EAP codes and
// configuration attributes. It holds none of the key material (key-exchange data, nonces,
// authentication data, notification data) and prints certificates as text. So the message is
// rebuilt with every payload and every value the log holds, in the log's order, and the parts
// the log lacks are left out (certificate and authentication data) or filled with zeros to the
// logged length (key exchange, nonce); the packet's notes name each such part.
//
// The log shows the payloads an Encrypted payload carried after decryption: they are written
// in the clear in place of the Encrypted payload, and a note says so.
#pragma once

#include "export/IsakmpPacket.h"

namespace quillon {

class LogNode;
class v2Message;

namespace hand_over {

// Whether `node` stands in the tree of an IKEv2 log (its log root was read from one); false
// for a node without a log root.
bool InIKEv2Log(const LogNode& node);

// Rebuilds `message`: the IKE header and the payloads the log names.
void RebuildIKEv2Message(const v2Message& message, RebuiltPacket& out);

}  // namespace hand_over
}  // namespace quillon
