// The packets of a small IKEv1 log as the loader places them: the tests that look at single
// messages read their log through the loader and take the messages out of the tree.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ikev1/log/DebugLogReader.h"
#include "ikev1/log/Message.h"
#include "ikev1/log/ReadIKEv1Log.h"
#include "model/LogFile.h"

namespace quillon {

class LoadedPackets {
 public:
  explicit LoadedPackets(std::string text) {
    auto reader = DebugLogReader::FromText(std::move(text));
    ReadIKEv1Log(root_, reader);
    Collect(root_);
    taken_.assign(messages_.size(), false);
  }

  // The first message of class M not handed out yet, in tree order; null when none is left.
  // (Messages of different negotiations may stand in the tree in another order than in the
  // log; among the messages of one class the order is the log's in these small logs.)
  template <class M = Message>
  const M* Next() {
    for (std::size_t i = 0; i < messages_.size(); ++i) {
      const auto* message = dynamic_cast<const M*>(messages_[i]);
      if (message == nullptr || taken_[i]) continue;
      taken_[i] = true;
      return message;
    }
    return nullptr;
  }

  std::size_t Count() const { return messages_.size(); }
  const LogFile& Root() const { return root_; }

 private:
  void Collect(const LogNode& node) {
    if (const auto* message = dynamic_cast<const Message*>(&node)) {
      messages_.push_back(message);
      return;
    }
    for (const auto& child : node.Children()) Collect(*child);
  }

  LogFile root_;
  std::vector<const Message*> messages_;
  std::vector<bool> taken_;
};

}  // namespace quillon
