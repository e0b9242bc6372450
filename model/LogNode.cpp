#include "model/LogNode.h"

#include <algorithm>
#include <array>
#include <new>
#include <optional>
#include <stdexcept>


namespace quillon {

// ---- ChildList ----------------------------------------------------------------------------------

namespace {

// Most parents hold one or two children (a traffic-selector payload its selector, a payload
// its attribute), some a handful (a message its payloads): the first block has room for two
// and doubles from there. A block given up while its node is read goes back to the lane,
// which hands it to the next list of that size, so growing costs little room.
constexpr std::size_t kFirstChildren = 2;

}  // namespace

ChildList::~ChildList() { release(); }

void ChildList::release() {
  truncate(0);
  if (data_ == nullptr) return;
  const std::size_t bytes = capacity() * sizeof(value_type);
  if (!InArena()) ::operator delete(data_);
  else if (ArenaLane* lane = CurrentLane()) lane->deallocate(data_, bytes, alignof(value_type));
  data_ = nullptr;
  room_ = 0;
}

void ChildList::reserve(std::size_t count) {
  if (count <= capacity()) return;
  if (count > kMaxSize) throw std::length_error("too many children");
  const std::size_t room = std::min(std::max({count, capacity() * 2, kFirstChildren}), kMaxSize);
  // A block at the end of its lane (the node being read) grows in place.
  if (InArena())
    if (ArenaLane* lane = CurrentLane();
        lane != nullptr && lane->TryExtend(data_, capacity() * sizeof(value_type), room * sizeof(value_type))) {
      room_ = static_cast<std::uint32_t>(room) | kArenaFlag;
      return;
    }
  const bool arena = InArenaScope();
  void* raw = arena ? NodeResource()->allocate(room * sizeof(value_type), alignof(value_type))
                    : ::operator new(room * sizeof(value_type));
  auto* block = static_cast<value_type*>(raw);
  for (std::uint32_t i = 0; i < size_; ++i) {
    new (block + i) value_type(std::move(data_[i]));
    data_[i].~value_type();
  }
  const std::uint32_t size = size_;
  size_ = 0;
  release();
  data_ = block;
  size_ = size;
  room_ = static_cast<std::uint32_t>(room) | (arena ? kArenaFlag : 0);
}

ChildList::value_type& ChildList::insert(std::size_t index, value_type child) {
  reserve(std::size_t{size_} + 1);
  new (data_ + size_) value_type();
  ++size_;
  for (std::size_t i = size_ - 1; i > index; --i) data_[i] = std::move(data_[i - 1]);
  data_[index] = std::move(child);
  return data_[index];
}

void ChildList::erase(std::size_t index) {
  for (std::size_t i = index; i + 1 < size_; ++i) data_[i] = std::move(data_[i + 1]);
  data_[size_ - 1].~value_type();
  --size_;
}

void ChildList::truncate(std::size_t count) {
  // Last first, as a vector destroys its elements.
  while (size_ > count) {
    --size_;
    data_[size_].~value_type();
  }
}

// ---- LogNode -----------------------------------------------------------------------------------

LogNode::LogNode() = default;

LogNode::LogNode(std::string_view name, LogNode* parent) : parent_(parent) { SetName(name); }

LogNode::LogNode(FixedName name, LogNode* parent) : parent_(parent) {
  // A node of the heap keeps its name on the heap as any other.
  if (inArena_) name_.AssignFixed(name.text);
  else SetName(name.text);
}

void LogNode::SetName(std::string_view name) {
  if (!inArena_) {
    // A node of the heap (the log root) keeps its name on the heap: an arena may go before it.
    ArenaScope heap(nullptr);
    name_ = name;
    return;
  }
  // Most names are the fixed names of their kind of node ("Vendor ID", "IPv4 Address Range"):
  // shared within the lane rather than copied for each node.
  name_.AssignShared(name);
  // Renamed outside any scope (the viewer naming a peer by its host): the name is on the heap
  // and must be freed when the node is let go with its arena.
  if (!InArenaScope() && !name_.empty()) NoteOwnHeap();
}

void LogNode::SetOwnName(std::string_view name) {
  if (!inArena_ || !InArenaScope()) {
    SetName(name);
    return;
  }
  name_.assign(name);
}

void LogNode::NoteOwnHeap() {
  for (LogNode* node = this; node != nullptr && !node->holdsHeap_; node = node->parent_) node->holdsHeap_ = true;
}


LogNode::~LogNode() = default;

std::size_t LogNode::PayloadCount() const {
  std::size_t n = 0;
  for (const auto& child : children_)
    if (child->Name() != "Header") ++n;
  return n;
}

void* LogNode::operator new(std::size_t size) {
  if (!InArenaScope()) return ::operator new(size);
  return NodeResource()->allocate(size, alignof(std::max_align_t));
}

// Only when a constructor throws: the scope that placed the node is still the thread's scope.
void LogNode::operator delete(void* node, std::size_t size) {
  if (!InArenaScope()) ::operator delete(node);
  else NodeResource()->deallocate(node, size, alignof(std::max_align_t));
}

void LogNode::operator delete(LogNode* node, std::destroying_delete_t, std::size_t size) {
  const bool inArena = node->inArena_;
  node->~LogNode();
  // A node of the general heap goes back to it. An arena node's bytes go back to the lane this
  // thread builds in, which reuses them for the next node of that size when they lie in its
  // current chunk (a header the scan made for a packet-debug block, a packet read twice);
  // otherwise they stay until the arena goes, marked as gone for the sanitizer.
  if (!inArena) ::operator delete(static_cast<void*>(node));
  else GiveBackArenaBytes(node, size, alignof(std::max_align_t));
}

void LogNode::AbandonArenaChildren() {
  for (std::unique_ptr<LogNode>& child : children_) {
    if (!child || !child->inArena_) continue;
    // Only the branches down to what lives on the heap are visited; that is destroyed.
    if (child->holdsHeap_) child->AbandonArenaChildren();
    (void)child.release();
  }
  // The list's block too: an arena block may go with its arena before this node.
  children_.release();
  // An arena node is let go right after this: a name it took from the heap goes now.
  if (inArena_ && holdsHeap_) name_ = NodeText();
}

void LogNode::NoteHeapChild(const LogNode& child) {
  if (child.inArena_ && !child.holdsHeap_) return;
  NoteOwnHeap();
}

std::string LogNode::Path() const {
  // Iterative: collect the names up to the root, then join them root first.
  std::vector<std::string_view> names;
  for (const LogNode* node = this; node != nullptr; node = node->parent_) names.push_back(node->name_);
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (it != names.rbegin()) path.push_back('\\');
    path += *it;
  }
  return path;
}

LogNode* LogNode::AppendChild(std::unique_ptr<LogNode> child) { return InsertChild(children_.size(), std::move(child)); }

LogNode* LogNode::InsertChild(std::size_t index, std::unique_ptr<LogNode> child) {
  if (!child) return nullptr;
  child->parent_ = this;
  NoteHeapChild(*child);
  index = std::min(index, children_.size());
  if (!inArena_) {
    // The list of a node of the heap (the log root) stays on the heap: its arena may be
    // replaced while the node stays.
    ArenaScope heap(nullptr);
    return children_.insert(index, std::move(child)).get();
  }
  LogNode* added = children_.insert(index, std::move(child)).get();
  if (!children_.InArena()) NoteOwnHeap();
  return added;
}

std::unique_ptr<LogNode> LogNode::TakeChild(std::size_t index) {
  if (index >= children_.size()) return nullptr;
  std::unique_ptr<LogNode> child = std::move(children_[index]);
  children_.erase(index);
  child->parent_ = nullptr;
  return child;
}

std::unique_ptr<LogNode> LogNode::TakeChild(const LogNode* child) { return TakeChild(IndexOf(child)); }

void LogNode::RemoveChild(std::size_t index) {
  if (index < children_.size()) children_.erase(index);
}

void LogNode::TakeDeletedChildren(std::vector<std::unique_ptr<LogNode>>& out) {
  // The room first: nothing below may fail half-way and leave gaps among the children.
  const auto marked = std::count_if(children_.begin(), children_.end(), [](const auto& child) { return child->deleted_; });
  if (marked == 0) return;
  out.reserve(out.size() + static_cast<std::size_t>(marked));
  std::size_t kept = 0;
  for (std::unique_ptr<LogNode>& child : children_) {
    if (child->deleted_) {
      child->parent_ = nullptr;
      out.push_back(std::move(child));
    } else {
      children_[kept++] = std::move(child);
    }
  }
  children_.truncate(kept);
}

std::size_t LogNode::IndexOf(const LogNode* child) const {
  for (std::size_t i = 0; i < children_.size(); ++i)
    if (children_[i].get() == child) return i;
  return children_.size();
}

void LogNode::PurgeDeletedChildren() {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < children_.size(); ++i) {
    std::unique_ptr<LogNode>& child = children_[i];
    if (!child->deleted_) {
      child->PurgeDeleted();
      if (child->ChildCount() != 0) {
        children_[kept++] = std::move(child);
        continue;
      }
    }
    child.reset();
  }
  children_.truncate(kept);
}

namespace {

// Decimal value of the leading digits of `text` (as atoi does, without sign handling beyond '-').
int LeadingDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 1000000000L) break;  // far outside any calendar field; stop before overflow
  }
  return static_cast<int>(negative ? -value : value);
}

std::string_view Slice(std::string_view text, std::size_t pos, std::size_t count) {
  if (pos >= text.size()) return {};
  return text.substr(pos, count);
}

}  // namespace

void LogNode::ParseTime(std::string_view text, CalendarTime& time) {
  time.hour = time.minute = time.second = time.millisecond = 0;
  const std::size_t p = text.find(':');
  if (p == std::string_view::npos) return;
  time.hour = LeadingDecimal(text.substr(0, p));
  time.minute = LeadingDecimal(Slice(text, p + 1, 2));
  time.second = LeadingDecimal(Slice(text, p + 4, 2));
}

void LogNode::ParseDate(std::string_view text, CalendarTime& time) {
  static constexpr std::array<std::string_view, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  time.weekday = 0;
  const std::string_view day = Slice(text, 1, 3);
  for (std::size_t i = 0; i < kDays.size(); ++i)
    if (day == kDays[i]) time.weekday = static_cast<int>(i) + 1;
  time.month = text.size() >= 8 ? MonthNumber(text.substr(5, 3)) : 0;
  time.day = LeadingDecimal(Slice(text, 9, 2));
  time.year = text.size() >= 4 ? LeadingDecimal(text.substr(text.size() - 4)) : 0;
}

std::uint16_t LogNode::MonthNumber(std::string_view text) {
  static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (std::size_t i = 0; i < kMonths.size(); ++i)
    if (text == kMonths[i]) return static_cast<std::uint16_t>(i + 1);
  return 1;
}

bool LogNode::IsCloseInTime(const LogNode& other) const {
  const std::string myDate = DateText(), myTime = TimeText();
  const std::string otherDate = other.DateText(), otherTime = other.TimeText();
  if (myDate.empty() || myTime.empty() || otherDate.empty() || otherTime.empty()) return false;
  CalendarTime mine, theirs;
  ParseTime(myTime, mine);
  ParseDate(myDate, mine);
  ParseTime(otherTime, theirs);
  ParseDate(otherDate, theirs);
  return theirs.Seconds() - mine.Seconds() < 120;
}

namespace {

// The seconds of a node's date and time texts. A field out of its calendar range means a
// damaged packet line: such a time would stretch a timeline over centuries, so it counts as
// no time at all.
std::optional<std::int64_t> NodeSeconds(const LogNode& node) {
  const std::string time = node.TimeText();
  if (time.empty()) return std::nullopt;
  const std::string date = node.DateText();
  if (date.empty()) return std::nullopt;
  CalendarTime t;
  LogNode::ParseDate(date, t);
  LogNode::ParseTime(time, t);
  if (!IsPlausibleLogTime(t)) return std::nullopt;
  return t.Seconds();
}

// The time of one packet of a negotiation: the child itself when it carries times (an
// informational exchange's header), else the first of its own children that does (a message's
// header; the payloads after it carry none).
std::optional<std::int64_t> PacketSeconds(const LogNode& child) {
  if (const auto seconds = NodeSeconds(child)) return seconds;
  for (const auto& grandchild : child.Children())
    if (const auto seconds = NodeSeconds(*grandchild)) return seconds;
  return std::nullopt;
}

}  // namespace

bool LogNode::TimeSpan(std::int64_t& first, std::int64_t& last) const {
  // Packets join their negotiation in log order, so the first and the last packet with a time
  // are enough: a large tree is walked without touching the packets in between.
  const ChildList& children = Children();
  std::size_t front = 0;
  std::optional<std::int64_t> earliest;
  for (; front < children.size() && !earliest; ++front) earliest = PacketSeconds(*children[front]);
  if (!earliest) {
    // No packets with times: the node's own texts, if it has any.
    earliest = NodeSeconds(*this);
    if (!earliest) return false;
    first = last = *earliest;
    return true;
  }
  std::optional<std::int64_t> latest;
  for (std::size_t back = children.size(); back > front && !latest; --back) latest = PacketSeconds(*children[back - 1]);
  first = latest ? std::min(*earliest, *latest) : *earliest;
  last = latest ? std::max(*earliest, *latest) : *earliest;
  return true;
}

}  // namespace quillon
