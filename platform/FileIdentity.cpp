#include "platform/FileIdentity.h"

#include <sys/stat.h>

namespace quillon::platform {

std::uint64_t FileIdentity(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  return (static_cast<std::uint64_t>(info.st_dev) << 40) ^ static_cast<std::uint64_t>(info.st_ino);
}

}  // namespace quillon::platform
