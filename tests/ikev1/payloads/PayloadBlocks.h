// Shared pieces of the IKEv1 payload tests: payload blocks and packets as the daemon logs them,
// reading one block the way a message's payload chain does, the saving walk, and the round trip
// "write the payload, read the text back, compare".
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Header.h"
#include "ikev1/log/Message.h"
#include "ikev1/payloads/PayloadFactory.h"
#include "tests/ikev1/LoadedPackets.h"
#include "tests/ikev1/negotiation/NegotiationLog.h"

namespace quillon::payload_blocks {

// What a number field holds when its label or its hex token was missing.
inline constexpr std::uint32_t kUnread = 0xFFFFFFFFu;
using negtest::kPlus;

// ---- blocks ---------------------------------------------------------------------------------------

// The generic head every payload block opens with.
inline std::string Head(const std::string& length = "00 0c (12)") {
  return "\tNextPld: 00\n\tReserved: 00\n\tLength: " + length + "\n";
}

inline std::string Nonce(const std::string& data = "01") {
  return "debugNoncePayload:\n" + Head("00 08 (8)") + "\tNonceData: " + data + "\n";
}

// A basic (type/value) attribute.
inline std::string Basic(const std::string& attribute, const std::string& val) {
  return "debugIsakmpValue:\n\tAttribute: " + attribute + " \n\tFormat: 1\n\tVal: " + val + " \n";
}

// A variable-length (type/length/value) attribute whose "Length:" line says `length`, whatever
// the value holds; the daemon follows the value with its decimal in parentheses.
inline std::string Variable(const std::string& attribute, const std::string& length, const std::string& val,
                            const std::string& decimal = "0") {
  return "debugIsakmpValue:\n\tAttribute: " + attribute + " \n\tFormat: 0\n\tLength: " + length + " (0)\n\tVal: " +
         val + " (" + decimal + ")\n";
}

// `count` hex tokens counting up from `first`.
inline std::string Hex(std::size_t count, unsigned first = 0) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i)
    out += (i > 0 ? " " : "") + NumberText(static_cast<std::uint32_t>(first + i) & 0xFF, 16);
  return out;
}

// ---- packets --------------------------------------------------------------------------------------

// A packet of peer 10.0.0.1 at 12:34:56: a received packet logs its header block before the
// packet line, a created one after it (its keyword says which, "create_..." or "process_...").
inline std::string Received(const std::string& keyword, const std::string& payloads) {
  negtest::Packet packet;
  packet.keyword = keyword;
  packet.time = "12:34:56";
  packet.payloads = payloads;
  return negtest::Text(packet);
}
inline std::string Created(const std::string& keyword, const std::string& payloads) {
  return Received(keyword, payloads);
}

// A packet whose payloads were cut short, then the next packet (its header and one payload):
// the packet scan must find that next packet whole. Gives the cut packet.
template <class M>
const M* CutPacketThenWholeOne(LoadedPackets& packets, std::uint32_t nextKind) {
  const M* cut = packets.Next<M>();
  const M* next = packets.Next<M>();
  EXPECT_NE(cut, nullptr);
  EXPECT_NE(next, nullptr);
  if (next == nullptr) return cut;
  EXPECT_EQ(next->GetHeader()->PacketKind(), nextKind);
  EXPECT_EQ(next->ChildCount(), 2u);
  return cut;
}

// ---- single blocks --------------------------------------------------------------------------------

// Reads one block as the chain does: the keyword, then the class the factory names for it.
template <class P = LogNode>
std::unique_ptr<P> ReadBlock(DebugLogReader& reader, bool created = false, int space = 64) {
  const int code = DebugLogReader::BlockKeywordCode(reader.ReadToken());
  std::unique_ptr<LogNode> node = CreatePayload(code, reader, PayloadContext{created, space, nullptr});
  auto* payload = dynamic_cast<P*>(node.get());
  if (payload == nullptr) return nullptr;
  node.release();
  return std::unique_ptr<P>(payload);
}

template <class P = LogNode>
std::unique_ptr<P> ReadBlock(const std::string& text, bool created = false, int space = 64) {
  auto reader = DebugLogReader::FromText(text);
  return ReadBlock<P>(reader, created, space);
}

// The saving walk: a node's block, its children's, then its trailing block.
inline std::string Written(const LogNode& node) {
  std::string out;
  node.WriteDebug(out);
  for (const auto& child : node.Children()) out += Written(*child);
  node.WriteDebugLength(out);
  return out;
}

// Same captions, texts and shape, node by node.
inline void ExpectSameTree(const LogNode& a, const LogNode& b) {
  EXPECT_EQ(a.Caption(), b.Caption());
  EXPECT_EQ(a.DetailText(), b.DetailText());
  EXPECT_EQ(a.SpiText(), b.SpiText());
  EXPECT_EQ(a.UserName(), b.UserName());
  EXPECT_EQ(a.UserDetail(), b.UserDetail());
  ASSERT_EQ(a.ChildCount(), b.ChildCount()) << a.Caption();
  for (std::size_t i = 0; i < a.ChildCount(); ++i) ExpectSameTree(*a.Child(i), *b.Child(i));
}

// Writes the payload and reads the text back: the copy must show the same and write the same
// text again, so that a saved log opens as the original did.
template <class P>
std::unique_ptr<P> ReadBack(const P& original, bool created = false, int space = 64) {
  const std::string written = Written(original);
  auto copy = ReadBlock<P>(written + Nonce(), created, space);
  EXPECT_NE(copy, nullptr) << written;
  if (copy == nullptr) return nullptr;
  ExpectSameTree(original, *copy);
  EXPECT_EQ(Written(*copy), written);
  return copy;
}

// Reads `text` as one block before a nonce block: the block's reading must leave the nonce's
// keyword for the chain.
template <class P = LogNode>
std::unique_ptr<P> ReadBeforeNonce(const std::string& text, bool created = false, int space = 64) {
  auto reader = DebugLogReader::FromText(text + Nonce());
  auto payload = ReadBlock<P>(reader, created, space);
  EXPECT_NE(payload, nullptr) << text;
  EXPECT_EQ(reader.ReadToken(), "debugNoncePayload:") << text;
  return payload;
}

// Reads `text` as one block before a nonce block, then checks that it reads back. The chain,
// skipping daemon output after the block, must still find the nonce block.
template <class P = LogNode>
std::unique_ptr<P> ReadAndReadBack(const std::string& text, bool created = false, int space = 64) {
  SCOPED_TRACE(text);
  auto reader = DebugLogReader::FromText(text + Nonce());
  auto first = ReadBlock<P>(reader, created, space);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(reader.SkipToBlockKeyword(), "debugNoncePayload:");
  if (first != nullptr) ReadBack(*first, created, space);
  return first;
}

}  // namespace quillon::payload_blocks
