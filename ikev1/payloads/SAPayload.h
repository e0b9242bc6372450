// The security association payload, the one nested payload of IKEv1: an SA holds proposals,
// a proposal holds transforms, a transform holds data attributes (IsakmpValue). The daemon
// logs each level as its own block, one after the other in nesting order:
//
//   debugSAPayload:        NextPld, Reserved, Length, DOI, Situation
//   debugPropPayload:      NextPld, Reserved, Length, PropNum, ProtId, SpiSize, NumOfTrans[, SPI]
//   debugTransPayload:     NextPld, Reserved, Length, TransNum, TransId, Reserved2
//   debugIsakmpValue:      Attribute, Format, [Length,] Val         (one per attribute)
//   debugTransPayloadLen:  Length                                    (created packets)
//   ...                                                              (further transforms)
//   debugPropPayloadLen:   Length                                    (created packets)
//   ...                                                              (further proposals)
//   debugSAPayloadLen:     Length                                    (created packets)
//
// For a packet the local daemon created, the final lengths come in those later length blocks.
// The SA's constructor reads its whole subtree, each level reading its own children. A
// transform whose next-payload value does not fit its place in the proposal (3 before another
// transform, 0 for the last) is dropped, with the rest of its proposal's transforms.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ikev1/payloads/ByteList.h"
#include "ikev1/payloads/KeyMaterialPayloads.h"
#include "ikev1/payloads/IsakmpPayload.h"
#include "model/LogNode.h"

namespace quillon {

class DebugLogReader;
class PropPayload;
class TransPayload;

// "debugSAPayload:". Node name "Security Association"; children: its proposals in log order.
// The written blocks of an SA: the SA's own, each proposal's and each transform's (their
// attributes are IsakmpValue blocks), the length blocks that follow each level's children, and
// the daemon's line for a transform it did not choose.
void WriteSABlock(std::string& out, const PayloadFields& fields, const ByteList& doi, const ByteList& situation);
void WriteProposalBlock(std::string& out, const PayloadFields& fields, std::uint32_t propNum, std::uint32_t protId,
                        std::uint32_t spiSize, std::uint32_t transforms, const ByteList& spi);
void WriteTransformBlock(std::string& out, const PayloadFields& fields, std::uint32_t transNum, std::uint32_t transId,
                         const ByteList& reserved2);
enum class SALevel { kSA, kProposal, kTransform };
void WriteSALengthBlock(std::string& out, SALevel level, const ByteList& length);
void WriteTransMatchFailure(std::string& out, std::uint32_t propNum, std::uint32_t transNum, std::uint32_t transId,
                            std::string_view reason);

class SAPayload final : public IsakmpPayload {
 public:
  // Reads the SA block and its subtree; the reader stands just after "debugSAPayload:".
  // `created` (the local daemon created the packet) makes it take the final lengths of the
  // length blocks; `attributeSpace` is the attribute set of the transforms' attributes (32
  // phase one, 64 phase two; any other value reads as 64).
  SAPayload(DebugLogReader& reader, bool created, int attributeSpace, LogNode* parent);

  void AppendDetailText(std::string& out) const override;
  void WriteDebug(std::string& out) const override;
  // "debugSAPayloadLen:", always, after the proposals' blocks; then one transform-match failure
  // line per transform marked not chosen.
  void WriteDebugLength(std::string& out) const override;
  // The SPI text of the first proposal that has an SPI.
  std::string SpiText() const override;

  // A transform-match failure line: every transform numbered `transformNumber` with ID
  // `transformId` in every proposal numbered `proposalNumber` is marked not chosen for
  // `reason` (a later failure for the same transform replaces the reason).
  void MarkNotChosen(std::uint32_t proposalNumber, std::uint32_t transformNumber, std::uint32_t transformId,
                     const std::string& reason);

  const PayloadFields& Fields() const { return fields_; }
  const ByteList& DOI() const { return doi_; }
  const ByteList& Situation() const { return situation_; }
  std::size_t ProposalCount() const { return ChildCount(); }
  PropPayload* Proposal(std::size_t index) const;

 private:
  PayloadFields fields_;
  ByteList doi_;
  ByteList situation_;
};

// "debugPropPayload:". Node name "prop" and its position within the SA, counted from 1;
// children: its transforms.
class PropPayload final : public LogNode {
 public:
  // Reads the proposal block and its transforms; the reader stands before "debugPropPayload:".
  PropPayload(DebugLogReader& reader, bool created, int attributeSpace, std::string name, LogNode* parent);

  // The node name and the protocol (" PROTO_ESP" ...), with the SPI in parentheses when there is one.
  void AppendCaption(std::string& out) const override;
  void AppendDetailText(std::string& out) const override;
  // The proposal block, with an "SPI:" line when the proposal has an SPI.
  void WriteDebug(std::string& out) const override;
  // "debugPropPayloadLen:", always, after the transforms' blocks.
  void WriteDebugLength(std::string& out) const override;
  // The SPI in hex, unspaced; empty without SPI.
  std::string SpiText() const override;

  const PayloadFields& Fields() const { return fields_; }
  std::uint32_t PropNum() const { return propNum_; }
  std::int32_t ProtId() const { return protId_; }
  std::uint32_t SpiSize() const { return spiSize_; }
  const ByteList& SPI() const { return spi_; }
  std::int32_t NumOfTrans() const { return numOfTrans_; }
  std::size_t TransformCount() const { return ChildCount(); }
  TransPayload* Transform(std::size_t index) const;

 private:
  PayloadFields fields_;
  std::uint32_t propNum_ = 0;
  std::int32_t protId_ = 0;
  std::uint32_t spiSize_ = 0;
  ByteList spi_;
  std::int32_t numOfTrans_ = 0;
};

// "debugTransPayload:". Node name "tran" and its position within the proposal, counted from
// 1; children: its data attributes.
class TransPayload final : public LogNode {
 public:
  // Reads the transform block, its attributes and, when present, its length block. The reader
  // stands before "debugTransPayload:". `protocolId` is the proposal's. `token` is the
  // proposal's current token: on return it holds the token that follows the transform (left
  // to be read again), which tells the proposal whether another transform follows. `isLast`:
  // the transform is the last the proposal announces, so its next-payload value must be 0 (3
  // otherwise); when it is not, the reader is left abandoned and the proposal drops the
  // transform.
  TransPayload(DebugLogReader& reader, bool created, int attributeSpace, std::int32_t protocolId, std::string name,
               LogNode* parent, std::string& token, bool isLast);

  // The node name and the transform's name ("tran1 ESP_3DES").
  void AppendCaption(std::string& out) const override;
  // The transform's fields, one line per attribute and, when a transform-match failure named
  // it, "Not chosen because: " and the reason.
  void AppendDetailText(std::string& out) const override;
  void WriteDebug(std::string& out) const override;
  // "debugTransPayloadLen:", only when the transform read one.
  void WriteDebugLength(std::string& out) const override;

  void MarkNotChosen(std::string reason) {
    notChosen_ = true;
    notChosenReason_ = std::move(reason);
  }

  const PayloadFields& Fields() const { return fields_; }
  std::uint32_t TransNum() const { return transNum_; }
  std::uint32_t TransId() const { return transId_; }
  std::int32_t ProtId() const { return protId_; }
  const ByteList& Reserved2() const { return reserved2_; }
  bool IsNotChosen() const { return notChosen_; }
  std::string_view NotChosenReason() const { return notChosenReason_; }
  bool HasLengthBlock() const { return lengthBlockRead_; }

 private:
  PayloadFields fields_;
  std::uint32_t transNum_ = 0;
  std::uint32_t transId_ = 0;
  std::int32_t protId_ = 0;
  ByteList reserved2_;
  bool notChosen_ = false;
  std::pmr::string notChosenReason_{NodeResource()};
  bool lengthBlockRead_ = false;
};

}  // namespace quillon
