#include "model/TimeOrder.h"

#include <algorithm>
#include <string>

namespace quillon {

std::optional<TimeOrderKey> TimeOrderKeyOf(const QLFolder& exchange) {
  const std::optional<CalendarTime> start = exchange.StartTime();
  if (!start) return std::nullopt;
  const std::string& name = exchange.Name();
  const bool first = name.find("Main Mode") != std::string::npos || name.find("Initial") != std::string::npos ||
                     name.find("Child SA IKE") != std::string::npos;
  return TimeOrderKey{start->Seconds(), first};
}

std::vector<const QLFolder*> InsertionOrder(const std::vector<const QLFolder*>& exchanges) {
  std::vector<const QLFolder*> order;
  order.reserve(exchanges.size());
  std::size_t i = 0;
  while (i < exchanges.size()) {
    const std::optional<TimeOrderKey> key = TimeOrderKeyOf(*exchanges[i]);
    std::size_t end = i + 1;
    if (key) {
      while (end < exchanges.size()) {
        const std::optional<TimeOrderKey> next = TimeOrderKeyOf(*exchanges[end]);
        if (!next || next->start != key->start) break;
        ++end;
      }
    }
    // Within the run, each first-phase exchange is inserted in front of those of its time
    // already there, each other one after them.
    std::vector<const QLFolder*> firsts, others;
    for (std::size_t j = i; j < end; ++j) {
      const std::optional<TimeOrderKey> k = TimeOrderKeyOf(*exchanges[j]);
      (k && k->first ? firsts : others).push_back(exchanges[j]);
    }
    order.insert(order.end(), firsts.rbegin(), firsts.rend());
    order.insert(order.end(), others.begin(), others.end());
    i = end;
  }
  return order;
}

}  // namespace quillon
