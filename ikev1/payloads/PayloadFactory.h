// The payload blocks of an IKEv1 debug log, as one table.
//
// After a packet's header block the daemon logs one block per payload, each opened by its
// keyword ("debugSAPayload:", "debugNoncePayload:", ...). Each row of the block table below
// names a keyword, its code (the row's index, which the chain readers switch on), the ISAKMP
// payload type the block stands for on the wire, and the constructor of the payload class that
// reads it. The reader's keyword test, the chain reader and the payload construction all look
// here: a payload class plugs in by filling the constructor of its row in PayloadFactory.cpp.
// A row without a constructor creates no node, and the chain skips its block.
//
// Some blocks are not payloads but data for the packet's other nodes (the final hash, the
// header's final length, the transform-match lines); the chain reader handles those itself.
//
// The chain reader also asks some payloads for what its message needs from them. Those
// payload classes implement the small interfaces below next to LogNode.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "model/LogNode.h"

namespace quillon {

class DebugLogReader;

// The codes of the payload-block keywords: the row of each in the block table (kBlocks in
// PayloadFactory.cpp, which names each code's keyword).
enum BlockCode : int {
  kSaBlock, kKeyBlock, kNonceBlock, kIdBlock, kHashBlock, kCertReqBlock, kCertBlock, kSigBlock,
  kHashDataBlock, kNotifyBlock, kDeleteBlock, kHeaderLengthBlock, kVendorIdBlock, kAttributeBlock,
  kTransMatchFailure, kTransMatchSuccess, kChreBlock, kNatDBlock, kNatOaBlock,
  kBlockCodeCount,
};

// What a payload constructor may need besides the reader.
struct PayloadContext {
  // The local daemon created (sent) the packet: its payloads' lengths and hash are logged
  // again, final, after the payload blocks.
  bool created = false;
  // The SA attribute set of the packet: 32 for phase one (main and aggressive mode), 64 for
  // phase two and the rest, 0 when the packet kind is unknown.
  int attributeSpace = 0;
  // The message the payload belongs to.
  LogNode* parent = nullptr;
};

using PayloadConstructor = std::unique_ptr<LogNode> (*)(DebugLogReader& reader, const PayloadContext& context);

// One row of the block table.
struct PayloadBlock {
  BlockCode code;
  std::string_view keyword;
  // The ISAKMP payload type the block stands for in the packet (its next-payload number);
  // 0 for the blocks that are no payload of their own.
  std::uint32_t payloadType;
  // Reads the block into its payload node; null for the data blocks.
  PayloadConstructor construct;
};

// The block table, indexed by code.
const std::array<PayloadBlock, kBlockCodeCount>& PayloadBlocks();

// The code of a payload-block keyword; -1 for any other token. Called on every token of the
// daemon output between blocks: no allocation, a cheap filter before the table.
int BlockCodeOf(std::string_view keyword);

// The row of `code`; null outside the table.
const PayloadBlock* PayloadBlockFor(int code);

// The constructor of the payload class that reads blocks of `code`; null for the data blocks
// and for payload kinds without a class.
PayloadConstructor PayloadConstructorFor(int code);

// Reads the block of `code` (the reader stands just after its keyword) into a new payload
// node; null when the code has no payload class.
std::unique_ptr<LogNode> CreatePayload(int code, DebugLogReader& reader, const PayloadContext& context);

// Reads the run of payload blocks that follows a packet's header block and packet line, calling
// `readBlock` with each block's keyword code (the reader stands just after the keyword). Only
// the first token decides whether the packet has payloads at all; daemon output between blocks
// is skipped; the chain ends at the next packet, a "#####" marker, a daemon restart or the end
// of the input, and the token that ends it is left for the packet scan.
void ReadPayloadChain(DebugLogReader& reader, const std::function<void(int code)>& readBlock);

// The transform-match lines that the daemon logs after choosing among the proposals of an SA
// payload. Called with the keyword ("TransMatchFailure:" or "TransMatchSuccess:") just read;
// `saPayload` is the message's SA payload or null. A reader of the run pushes the keyword back,
// reads the run and leaves the token after it pushed back; until the SA payload marks its
// transforms this reads nothing and the chain skips the lines one by one.
void ReadTransformMatchRun(DebugLogReader& reader, LogNode* saPayload);

// ---- what the chain reader asks of particular payloads ------------------------------------------

// The configuration-mode attribute payload: its message (a configuration packet) is named by
// the message type and, for set and acknowledge messages, complete only with a good status.
class ConfigAttributeSource {
 public:
  // 1 request, 2 reply, 3 set, 4 acknowledge.
  virtual std::uint32_t ConfigMessageType() const = 0;
  // The value of the last status attribute; 1 when there is none.
  virtual std::uint32_t ConfigStatus() const = 0;

 protected:
  ~ConfigAttributeSource() = default;
};

// The identification payload: a quick-mode packet shows the identities it carries.
class IdentitySource {
 public:
  virtual std::string IdentityText() const = 0;

 protected:
  ~IdentitySource() = default;
};

}  // namespace quillon
