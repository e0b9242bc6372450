// The node base of the log tree. Every node the viewer shows (the log root, peers, tunnels,
// negotiations, packets, the ISAKMP header, payloads, data attributes and the IKEv2 nodes)
// is a LogNode. The tree is handled generically: the view, the filters, the loader and the
// writer ask any node any of the operations below, so each one has a harmless default here
// and a subclass overrides only what means something for it. What only a peer, a tunnel or a
// negotiation answers is asked of its role (model/NodeRoles.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/CalendarTime.h"
#include "model/LogSpan.h"
#include "model/NodeKind.h"
#include "model/NodeArena.h"
#include "model/NodeText.h"

namespace quillon {

class LogNode;
struct FailureReason;

// A node's children in order. Most nodes of a big log have none or a handful, so the list is
// sixteen bytes: a block of owning pointers and two 32-bit counts, where a std::pmr::vector
// takes thirty-two. Like NodeText the block is placed in the thread's node arena inside an
// ArenaScope and taken from the heap outside one; the top bit of the room says which, so
// that only a heap block is freed. A block at the end of its lane grows in place. At most
// 2^31 - 1 children.
class ChildList {
 public:
  using value_type = std::unique_ptr<LogNode>;
  using iterator = value_type*;
  using const_iterator = const value_type*;

  ChildList() = default;
  ~ChildList();
  ChildList(const ChildList&) = delete;
  ChildList& operator=(const ChildList&) = delete;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t capacity() const { return room_ & ~kArenaFlag; }
  value_type& operator[](std::size_t index) { return data_[index]; }
  const value_type& operator[](std::size_t index) const { return data_[index]; }
  value_type& back() { return data_[size_ - 1]; }
  const value_type& back() const { return data_[size_ - 1]; }
  iterator begin() { return data_; }
  iterator end() { return data_ + size_; }
  const_iterator begin() const { return data_; }
  const_iterator end() const { return data_ + size_; }
  // True when the block lies in an arena (false for an empty list).
  bool InArena() const { return (room_ & kArenaFlag) != 0; }

  void reserve(std::size_t count);
  // Inserts at `index` (at most size()); returns the inserted element.
  value_type& insert(std::size_t index, value_type child);
  value_type& push_back(value_type child) { return insert(size_, std::move(child)); }
  void erase(std::size_t index);
  // Destroys the elements from `count` on (`count` at most size()).
  void truncate(std::size_t count);
  void clear() { truncate(0); }
  // Destroys the elements and gives the block back (a heap block to the heap).
  void release();

 private:
  static constexpr std::uint32_t kArenaFlag = 0x80000000u;
  static constexpr std::size_t kMaxSize = 0x7FFFFFFFu;

  value_type* data_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t room_ = 0;
};

// A node name that lives as long as the program (a string literal, an entry of a constant
// table): a node of an arena built with one views it rather than copying or sharing it. Most
// nodes of a large log have the fixed name of their kind ("Header", "Vendor ID").
struct FixedName {
  explicit constexpr FixedName(std::string_view literal) : text(literal) {}
  std::string_view text;
};

class LogNode {
 public:
  using ChildList = quillon::ChildList;

  LogNode();
  LogNode(std::string_view name, LogNode* parent);
  LogNode(FixedName name, LogNode* parent);
  virtual ~LogNode();

  // A node built inside an ArenaScope is placed in that arena (see model/NodeArena.h), and so
  // are its child list and texts. Deleting such a node runs its destructor but leaves its bytes
  // in the arena until the log goes (a deleted peer, a filtered-out negotiation, a packet a
  // worker read twice); the log root gives the whole arena back without visiting the nodes.
  static void* operator new(std::size_t size);
  static void operator delete(void* node, std::size_t size);
  // `size`: the size of the node's own class (the destructor is virtual).
  static void operator delete(LogNode* node, std::destroying_delete_t, std::size_t size);
  bool InArena() const { return inArena_; }

  LogNode(const LogNode&) = delete;
  LogNode& operator=(const LogNode&) = delete;

  // ---- the generic operations ---------------------------------------------------------------
  // What the node is and what state it is in (model/NodeKind.h): the only way meaning is
  // asked of a node.
  virtual NodeKind Kind() const { return NodeKind::kOther; }
  virtual std::uint16_t State() const { return kStateNone; }
  bool Is(NodeKind kind) const { return Kind() == kind; }
  bool HasState(std::uint16_t bits) const { return (State() & bits) != 0; }
  bool IsLogRoot() const { return Kind() == NodeKind::kLogRoot; }
  bool IsTunnel() const { return Kind() == NodeKind::kTunnel; }
  bool IsAttributeValue() const { return Kind() == NodeKind::kAttributeValue; }
  bool IsComplete() const { return HasState(kStateComplete); }
  // Of a failed negotiation: why it failed, as the diagnosis decided it when the log was read.
  // False for any other node.
  virtual bool GetFailureReason(FailureReason& /*out*/) const { return false; }
  // Of a negotiation: the seconds since 1970 of its first and last packet, as logged (the
  // timeline's bars). The default reads the date and time texts of the packets (the nodes one
  // or two levels below that carry both), else the node's own; false without a readable time.
  virtual bool TimeSpan(std::int64_t& first, std::int64_t& last) const;
  bool IsParsed() const { return parsed_; }
  // The row's text in the tree, and the text shown beside the tree for the selected node. A
  // node appends them to `out`: Find builds them for every node it tests, into one buffer it
  // reuses, and keeps none of them.
  virtual void AppendCaption(std::string& out) const { out += name_; }
  virtual void AppendDetailText(std::string& /*out*/) const {}
  std::string Caption() const {
    std::string caption;
    AppendCaption(caption);
    return caption;
  }
  std::string DetailText() const {
    std::string text;
    AppendDetailText(text);
    return text;
  }
  virtual std::string SummaryText(bool /*withTotals*/) const { return {}; }
  virtual std::string CollectFailureReasons() const { return {}; }
  // Containers that keep their children ordered insert here; the base declines the node.
  virtual void AddChild(std::unique_ptr<LogNode> /*node*/) {}
  virtual std::string DateText() const { return {}; }
  virtual std::string TimeText() const { return {}; }
  // Debug-log writer: a node appends its own block(s) to `out`; the walk writes the children
  // between WriteDebug and WriteDebugLength.
  virtual void WriteDebug(std::string& /*out*/) const {}
  virtual void WriteDebugLength(std::string& /*out*/) const {}
  // Containers: destroys the children marked deleted (and what is left empty below them).
  virtual void PurgeDeleted() {}
  // The SPI a payload, a packet or a negotiation shows; empty without one.
  virtual std::string SpiText() const { return {}; }
  // The address an identity payload names, as a packet, a negotiation, a tunnel or a peer
  // holding one answers for it (the regrouping pairs indexed peers by it).
  virtual bool HasIdAddress() const { return false; }
  virtual std::uint32_t IdAddress() const { return 0; }
  // The user name and detail a configuration attribute carries, as the packets and
  // negotiations holding one answer for it.
  virtual bool HasUserName() const { return false; }
  virtual std::string UserName() const { return {}; }
  virtual bool HasUserDetail() const { return false; }
  virtual std::string UserDetail() const { return {}; }
  // The stretches of the log file the node was read from: a packet's own, an exchange's
  // packets' in order. Other nodes add none.
  virtual void AppendLogSpans(std::vector<LogSpan>& /*out*/) const {}
  // Ends the stretch of every packet read into this node or below it that has no end yet: it
  // ends where the first of `starts` (the sorted starts of every packet the load met) after its
  // own start begins. False when a packet is left without an end (no start follows it: the
  // last packet of what was read).
  virtual bool EndPackets(std::span<const std::uint64_t> /*starts*/) { return true; }
  // Of a packet node: the node holding its header fields; null for a node that is no packet.
  virtual const LogNode* PacketHeader() const { return nullptr; }
  // Of a packet node (a message, or an informational exchange, which is its own packet): how
  // many of its children are payloads, that is, every child but its header (a node named
  // "Header").
  virtual std::size_t PayloadCount() const;

  // ---- shared helpers -------------------------------------------------------------------------
  // "hh:mm:ss" -> hour, minute, second (millisecond 0). Reads only inside the text; a short or
  // malformed text leaves the missing fields 0.
  static void ParseTime(std::string_view text, CalendarTime& time);
  // " Www Mmm dd yyyy" read at fixed positions (weekday 1-3, month 5-7, day 9-10, year = the
  // last four characters). Positions beyond the text give 0.
  static void ParseDate(std::string_view text, CalendarTime& time);
  // "Jan" 1 .. "Dec" 12; anything else 1.
  static std::uint16_t MonthNumber(std::string_view text);
  // True when `other` started less than 120 seconds after this node (or before it); false when
  // either node lacks a date or time text.
  bool IsCloseInTime(const LogNode& other) const;

  // ---- node identity and structure ------------------------------------------------------------
  std::string_view Name() const { return name_; }
  void SetName(std::string_view name);
  // The same for a name that no other node has (it holds a serial number or a time): copied
  // for this node without looking for it among the shared names, where it would only push out
  // names that repeat.
  void SetOwnName(std::string_view name);
  // Names from the root down, joined by backslashes: identifies a node across tree rebuilds.
  std::string Path() const;

  LogNode* Parent() const { return parent_; }
  void SetParent(LogNode* parent) { parent_ = parent; }

  std::size_t ChildCount() const { return children_.size(); }
  LogNode* Child(std::size_t index) const { return children_[index].get(); }
  const ChildList& Children() const { return children_; }
  // Appends a child and makes this node its parent; returns the raw pointer for convenience.
  LogNode* AppendChild(std::unique_ptr<LogNode> child);
  LogNode* InsertChild(std::size_t index, std::unique_ptr<LogNode> child);
  // Detaches a child without destroying it (moving a node to another parent).
  std::unique_ptr<LogNode> TakeChild(std::size_t index);
  std::unique_ptr<LogNode> TakeChild(const LogNode* child);
  // Destroys the child at `index`.
  void RemoveChild(std::size_t index);
  // Detaches the children marked deleted and appends them, in order, to `out`; the others keep
  // their order. One pass, however many go.
  void TakeDeletedChildren(std::vector<std::unique_ptr<LogNode>>& out);
  void ClearChildren() { children_.clear(); }
  // Index of `child` among the children, or ChildCount() when it is not one.
  std::size_t IndexOf(const LogNode* child) const;

  bool IsDeleted() const { return deleted_; }
  void SetDeleted(bool deleted = true) { deleted_ = deleted; }
  void SetParsed(bool parsed) { parsed_ = parsed; }
  // Lets go of the children placed in an arena without destroying them (their memory goes with
  // the arena; nothing they hold lives outside it) and destroys the others. Only for a node
  // whose arena stands until the log goes: the log root right before it gives the arena back,
  // a removed node that is let go rather than destroyed.
  void AbandonArenaChildren();

 protected:
  // The tree containers' purge: a marked child is destroyed; any other child purges its own
  // children and is destroyed when none are left.
  void PurgeDeletedChildren();
 private:
  // Marks this node and its ancestors as holding a node of the heap when `child` is or holds one.
  void NoteHeapChild(const LogNode& child);
  // Marks this node and its ancestors: this node holds a block of the heap (a name or child
  // list grown outside any scope) that AbandonArenaChildren frees when the node is let go.
  void NoteOwnHeap();

  LogNode* parent_ = nullptr;
  ChildList children_;
  NodeText name_;
  bool parsed_ = false;
  bool deleted_ = false;
  bool inArena_ = InArenaScope();
  // An arena node with a node of the general heap below it (one built outside any ArenaScope
  // and added to a loaded tree), or with a name or child list of the heap in it or below it:
  // letting go of it would lose that memory, so it is taken apart.
  bool holdsHeap_ = false;
};

// Walks that visit every exchange or packet of a large log wait mostly for the nodes to come
// from memory, one after another. Asking for the nodes a few steps ahead lets the memory serve
// several at once. A hint only: it reads nothing and changes nothing.
inline constexpr std::size_t kPrefetchAhead = 4;
inline void PrefetchNode(const LogNode* node) {
  const auto* at = reinterpret_cast<const char*>(node);
  for (std::size_t line = 0; line < 256; line += 64) __builtin_prefetch(at + line);
}

}  // namespace quillon
