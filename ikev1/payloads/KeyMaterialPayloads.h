// The daemon dumps every payload of a packet as a labelled debug block, for example
//
//   debugNoncePayload:
//   	NextPld: 0d
//   	Reserved: 00
//   	Length: 00 18 (24)
//   	NonceData: 6b 1f 09 ...
//
// Every block opens with the generic payload header of ISAKMP: the next-payload type, the
// reserved octet and the payload length. The first half of this file is what all payload
// classes share for that header: reading labelled fields without running into the next
// block, the three written header lines and the first four lines of the detail text.
//
// The second half holds the five key-material payloads, which are that header plus one dump
// of data: key exchange, nonce, hash, signature and NAT discovery.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ikev1/payloads/ByteList.h"
#include "ikev1/payloads/IsakmpPayload.h"
#include "model/LogNode.h"

namespace quillon {

class DebugLogReader;

// ---- labelled fields of one block -------------------------------------------------------------

// Looks for `label` among the next tokens of the current block. The search does not run into
// what follows the block: it stops, leaving that token to be read again, at the next
// payload-block keyword or "#####" marker, and at the start of the next packet (which also
// abandons the current packet, so that the packet scan finds the next one). It gives up after
// 100 tokens, at a daemon restart and at the end of the input. Returns whether the label was
// found; the value follows it. `endsBlock` tells which tokens end the block (nested blocks
// such as proposals and attributes stop at more keywords than a payload does).
using BlockEndTest = bool (*)(std::string_view token);
bool EndsPayloadBlock(std::string_view token);
bool SeekBlockLabel(DebugLogReader& reader, std::string_view label, BlockEndTest endsBlock = EndsPayloadBlock);

// The hexadecimal number after `label`; 0xFFFFFFFF when the label is missing or the value is
// not a hex token (such a token is left for the next search: it may open the next block).
std::uint32_t ReadLabelledNumber(DebugLogReader& reader, std::string_view label,
                                 BlockEndTest endsBlock = EndsPayloadBlock);

// The dump after `label`, read by ReadByteList (a "Length" line in front of the dump goes to
// `lengthNote` when given); empty when the label is missing.
ByteList ReadLabelledBytes(DebugLogReader& reader, std::string_view label, BlockEndTest endsBlock = EndsPayloadBlock,
                           std::string* lengthNote = nullptr);

// ---- the generic payload header -----------------------------------------------------------------

struct PayloadFields {
  std::uint32_t nextPld = 0;   // next payload type; 0xFFFFFFFF when no hex value was read
  std::uint32_t reserved = 0;  // the reserved octet
  ByteList length;             // the payload length as dumped, normally two bytes

  // Reads "NextPld:", "Reserved:" and "Length:" of the block at the reader.
  void Read(DebugLogReader& reader);
  // The three field lines of a written block: "\tNextPld: 0d\n\tReserved: 00\n\tLength: 00 18 (24)\n".
  void WriteLines(std::string& out) const;
  // The first four lines of a payload's detail text, up to the closing parenthesis of the
  // length: the title, an empty line, the next payload's name, the reserved octet (decimal,
  // or hexadecimal where the payload shows it so) and the length in hex and decimal.
  std::string DetailHead(std::string_view title, unsigned reservedBase = 10) const;
  void AppendDetailHead(std::string& out, std::string_view title, unsigned reservedBase = 10) const;
};

// The opening of a notification or delete block as read: the common fields, then DOI,
// protocol and SPI size.
void ReadInformationalHead(DebugLogReader& reader, PayloadFields& fields, ByteList& doi,
                           std::int32_t& protId, std::int32_t& spiSize);
// The opening of a written notification or delete block: the keyword line, the common fields,
// then DOI, protocol and SPI size, which both informational payloads carry in this order.
void WriteInformationalHead(std::string& out, std::string_view keyword, const PayloadFields& fields,
                            const ByteList& doi, std::int32_t protId, std::int32_t spiSize);

// ---- key-material payloads ----------------------------------------------------------------------

enum class KeyMaterialKind { kKey, kNonce, kHash, kSig, kNatD };

// The block of one key-material payload: keyword, the common fields and the data dump.
void WriteKeyMaterialBlock(std::string& out, KeyMaterialKind kind, const PayloadFields& fields, const ByteList& data);
// The "debugHashData:" block the daemon logs after a created packet's payloads, with the final
// hash.
void WriteHashDataBlock(std::string& out, const ByteList& hash);

// How one key-material payload appears in the log and in the text pane.
struct KeyMaterialLayout {
  std::string_view nodeName;     // the tree caption
  std::string_view keyword;      // the block keyword
  std::string_view dataLabel;    // the label of the data dump in the block
  std::string_view dataLine;     // the written data line up to the dump
  bool wrappedDump;              // the written dump is wrapped (long data) rather than on one line
  std::string_view title;        // the detail text's title
  std::string_view detailLabel;  // the detail text's lines between the length and the dump
};

// The generic payload header plus one dump of data.
class KeyMaterialPayload : public IsakmpPayload {
 public:
  void AppendDetailText(std::string& out) const override;
  void WriteDebug(std::string& out) const override;

  const PayloadFields& Fields() const { return fields_; }
  const ByteList& Data() const { return data_; }

 protected:
  KeyMaterialPayload(BlockCode code, const KeyMaterialLayout& layout, LogNode* parent);
  // Reads the block; `keepData` false reads the dump and drops it.
  void Read(DebugLogReader& reader, bool keepData = true);
  void SetData(ByteList data) { data_ = std::move(data); }
  const KeyMaterialLayout& Layout() const { return layout_; }

 private:
  const KeyMaterialLayout& layout_;
  PayloadFields fields_;
  ByteList data_;
};

// Key exchange data ("debugKeyPayload:").
class KeyPayload final : public KeyMaterialPayload {
 public:
  KeyPayload(DebugLogReader& reader, LogNode* parent);
};

// Nonce ("debugNoncePayload:").
class NoncePayload final : public KeyMaterialPayload {
 public:
  NoncePayload(DebugLogReader& reader, LogNode* parent);
};

// Hash ("debugHashPayload:"). When the local daemon creates a packet it logs the hash payload
// before the hash is computed and logs the final value afterwards in a "debugHashData:" block;
// so for a created packet the early dump is dropped and ReadHashData fills the data later.
class HashPayload final : public KeyMaterialPayload {
 public:
  HashPayload(DebugLogReader& reader, bool created, LogNode* parent);

  // Reads a "debugHashData:" block (the reader stands after the keyword): the dump after
  // "HashData:" replaces the hash data. A block without that label changes nothing.
  void ReadHashData(DebugLogReader& reader);
  // The "debugHashData:" block, written after the payload's own block whatever the packet's
  // direction, so that a created packet reads back with its hash.
  void WriteDebugLength(std::string& out) const override;
};

// Signature ("debugSigPayload:").
class SigPayload final : public KeyMaterialPayload {
 public:
  SigPayload(DebugLogReader& reader, LogNode* parent);
};

// NAT discovery hash ("debugNatDPayload:").
class NatDPayload final : public KeyMaterialPayload {
 public:
  NatDPayload(DebugLogReader& reader, LogNode* parent);
};

}  // namespace quillon
