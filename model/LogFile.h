// The root of a loaded log: its children are the peers (IKEv1 or IKEv2), kept in ascending
// address order.
#pragma once

#include <memory>
#include <string>

#include "model/QLFolder.h"

namespace quillon {

class LogFile : public QLFolder {
 public:
  LogFile();

  bool IsLogRoot() const override { return true; }
  std::string DetailText() const override;
  // Inserts a peer before the first peer with a greater address (unsigned), so equal addresses
  // keep their arrival order.
  void AddChild(std::unique_ptr<QLFolder> peer) override;

  // Destroys every peer.
  void Clear() { ClearChildren(); }

  bool IsWrongFormat() const { return wrongFormat_; }
  void SetWrongFormat(bool wrong) { wrongFormat_ = wrong; }
  bool IsIKEv2() const { return isIKEv2_; }
  void SetIKEv2(bool v2) { isIKEv2_ = v2; }

 private:
  bool wrongFormat_ = false;
  bool isIKEv2_ = false;
};

}  // namespace quillon
