#include "model/QLFolder.h"

#include <algorithm>
#include <array>

#include "model/TimeOrder.h"

namespace quillon {

QLFolder::QLFolder() = default;

QLFolder::QLFolder(std::string_view name, QLFolder* parent) : parent_(parent), name_(name, NodeResource()) {}

QLFolder::~QLFolder() = default;

void* QLFolder::operator new(std::size_t size) {
  if (!InArenaScope()) return ::operator new(size);
  return NodeResource()->allocate(size, alignof(std::max_align_t));
}

// Only when a constructor throws: the scope that placed the node is still the thread's scope.
void QLFolder::operator delete(void* node, std::size_t size) {
  if (!InArenaScope()) ::operator delete(node);
  else NodeResource()->deallocate(node, size, alignof(std::max_align_t));
}

void QLFolder::operator delete(QLFolder* node, std::destroying_delete_t, std::size_t size) {
  const bool inArena = node->inArena_;
  node->~QLFolder();
  // A node of the general heap goes back to it. An arena node's bytes go back to the lane this
  // thread builds in, which reuses them for the next node of that size when they lie in its
  // current chunk (a header the scan made for a packet-debug block, a packet read twice);
  // otherwise they stay until the arena goes, marked as gone for the sanitizer.
  if (!inArena) ::operator delete(static_cast<void*>(node));
  else GiveBackArenaBytes(node, size, alignof(std::max_align_t));
}

void QLFolder::AbandonArenaChildren() {
  for (std::unique_ptr<QLFolder>& child : children_) {
    if (!child || !child->inArena_) continue;
    // Only the branches down to the nodes of the heap are visited; those are destroyed.
    if (child->holdsHeap_) child->AbandonArenaChildren();
    (void)child.release();
  }
  children_.clear();
}

void QLFolder::NoteHeapChild(const QLFolder& child) {
  if (child.inArena_ && !child.holdsHeap_) return;
  for (QLFolder* node = this; node != nullptr && !node->holdsHeap_; node = node->parent_) node->holdsHeap_ = true;
}

void QLFolder::InsertExchange(std::unique_ptr<QLFolder> exchange) {
  if (!exchange) return;
  const std::size_t position = TimeOrderPosition(*this, *exchange);
  InsertChild(position, std::move(exchange));
}

std::string QLFolder::Path() const {
  // Iterative: collect the names up to the root, then join them root first.
  std::vector<const std::pmr::string*> names;
  for (const QLFolder* node = this; node != nullptr; node = node->parent_) names.push_back(&node->name_);
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (it != names.rbegin()) path.push_back('\\');
    path += **it;
  }
  return path;
}

void QLFolder::ReserveFirstChildren() {
  // Most parents hold a handful of children (a message's header and payloads, a transform's
  // attributes): one block for the first eight instead of growing through one, two, four and
  // eight.
  if (children_.capacity() == 0) children_.reserve(8);
}

QLFolder* QLFolder::AppendChild(std::unique_ptr<QLFolder> child) {
  if (!child) return nullptr;
  child->parent_ = this;
  NoteHeapChild(*child);
  ReserveFirstChildren();
  children_.push_back(std::move(child));
  return children_.back().get();
}

QLFolder* QLFolder::InsertChild(std::size_t index, std::unique_ptr<QLFolder> child) {
  if (!child) return nullptr;
  child->parent_ = this;
  NoteHeapChild(*child);
  ReserveFirstChildren();
  index = std::min(index, children_.size());
  return children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(index), std::move(child))->get();
}

std::unique_ptr<QLFolder> QLFolder::TakeChild(std::size_t index) {
  if (index >= children_.size()) return nullptr;
  std::unique_ptr<QLFolder> child = std::move(children_[index]);
  children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(index));
  child->parent_ = nullptr;
  return child;
}

std::unique_ptr<QLFolder> QLFolder::TakeChild(const QLFolder* child) { return TakeChild(IndexOf(child)); }

void QLFolder::RemoveChild(std::size_t index) {
  if (index < children_.size()) children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(index));
}

void QLFolder::TakeDeletedChildren(std::vector<std::unique_ptr<QLFolder>>& out) {
  // The room first: nothing below may fail half-way and leave gaps among the children.
  const auto marked = std::count_if(children_.begin(), children_.end(), [](const auto& child) { return child->deleted_; });
  if (marked == 0) return;
  out.reserve(out.size() + static_cast<std::size_t>(marked));
  std::size_t kept = 0;
  for (std::unique_ptr<QLFolder>& child : children_) {
    if (child->deleted_) {
      child->parent_ = nullptr;
      out.push_back(std::move(child));
    } else {
      children_[kept++] = std::move(child);
    }
  }
  children_.resize(kept);
}

std::size_t QLFolder::IndexOf(const QLFolder* child) const {
  for (std::size_t i = 0; i < children_.size(); ++i)
    if (children_[i].get() == child) return i;
  return children_.size();
}

void QLFolder::PurgeDeletedChildren() {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < children_.size(); ++i) {
    std::unique_ptr<QLFolder>& child = children_[i];
    if (!child->deleted_) {
      child->PurgeDeleted();
      if (child->ChildCount() != 0) {
        children_[kept++] = std::move(child);
        continue;
      }
    }
    child.reset();
  }
  children_.resize(kept);
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

void QLFolder::ParseTime(std::string_view text, CalendarTime& time) {
  time.hour = time.minute = time.second = time.millisecond = 0;
  const std::size_t p = text.find(':');
  if (p == std::string_view::npos) return;
  time.hour = LeadingDecimal(text.substr(0, p));
  time.minute = LeadingDecimal(Slice(text, p + 1, 2));
  time.second = LeadingDecimal(Slice(text, p + 4, 2));
}

void QLFolder::ParseDate(std::string_view text, CalendarTime& time) {
  static constexpr std::array<std::string_view, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  time.weekday = 0;
  const std::string_view day = Slice(text, 1, 3);
  for (std::size_t i = 0; i < kDays.size(); ++i)
    if (day == kDays[i]) time.weekday = static_cast<int>(i) + 1;
  time.month = text.size() >= 8 ? MonthNumber(text.substr(5, 3)) : 0;
  time.day = LeadingDecimal(Slice(text, 9, 2));
  time.year = text.size() >= 4 ? LeadingDecimal(text.substr(text.size() - 4)) : 0;
}

std::uint16_t QLFolder::MonthNumber(std::string_view text) {
  static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (std::size_t i = 0; i < kMonths.size(); ++i)
    if (text == kMonths[i]) return static_cast<std::uint16_t>(i + 1);
  return 1;
}

bool QLFolder::IsCloseInTime(const QLFolder& other) const {
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

}  // namespace quillon
