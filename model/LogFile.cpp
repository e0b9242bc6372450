#include "model/LogFile.h"

namespace quillon {

LogFile::LogFile() : QLFolder("IKE Debugging Info", nullptr) {}

std::string LogFile::DetailText() const {
  std::string text = "LogFile\r\n";
  const std::string summary = SummaryText(false);
  if (!summary.empty()) text += "\r\nSummary:\r\n\r\n" + summary;
  return text;
}

void LogFile::AddChild(std::unique_ptr<QLFolder> peer) {
  if (!peer) return;
  const std::uint32_t address = peer->PeerAddress();
  std::size_t index = 0;
  while (index < ChildCount() && Child(index)->PeerAddress() <= address) ++index;
  InsertChild(index, std::move(peer));
}

}  // namespace quillon
