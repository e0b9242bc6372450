#include "model/NodeRoles.h"

#include "model/TimeOrder.h"

namespace quillon {

void TunnelNode::InsertExchange(std::unique_ptr<LogNode> exchange) {
  if (!exchange) return;
  const std::size_t position = TimeOrderPosition(*this, *exchange);
  InsertChild(position, std::move(exchange));
}

}  // namespace quillon
