// The base of the IKEv1 payload nodes (the ones a packet holds after its header).
//
// Each node keeps the code of the payload block it was read from (BlockCode of
// PayloadFactory.h), stored when it is created: code that holds a packet's children as
// LogNodes asks AsIsakmpPayload and switches on the code, and may then static_cast to the
// class that reads that block (PayloadFactory.cpp's table pairs each code with one class).
#pragma once

#include <cstdint>

#include "ikev1/payloads/PayloadFactory.h"
#include "model/LogNode.h"

namespace quillon {

class IsakmpPayload : public LogNode {
 public:
  NodeKind Kind() const override { return NodeKind::kPayload; }
  BlockCode PayloadCode() const { return static_cast<BlockCode>(code_); }

 protected:
  IsakmpPayload(BlockCode code, FixedName name, LogNode* parent)
      : LogNode(name, parent), code_(static_cast<std::uint8_t>(code)) {}

 private:
  std::uint8_t code_;  // a BlockCode; one byte keeps the node's size
};

// A child of an IKEv1 packet as its payload; null for the header. (IKEv2 payloads answer
// kPayload too, but never stand in an IKEv1 packet.)
inline const IsakmpPayload* AsIsakmpPayload(const LogNode& node) {
  return node.Is(NodeKind::kPayload) ? static_cast<const IsakmpPayload*>(&node) : nullptr;
}

}  // namespace quillon
