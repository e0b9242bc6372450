// The one exception of the loaders: a log file that cannot be opened for reading. Everything
// wrong inside a log is a value (an invalid node, a field left at its default), never an
// exception; only a missing or unreadable file stops a load before it starts.
#pragma once

#include <stdexcept>
#include <string>

namespace quillon {

class CannotOpenLog : public std::runtime_error {
 public:
  explicit CannotOpenLog(const std::string& path = std::string()) : std::runtime_error(path) {}
};

}  // namespace quillon
