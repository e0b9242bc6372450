#include "platform/FileIdentity.h"

#include <sys/stat.h>

namespace quillon::platform {

std::uint64_t FileIdentity(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  return (static_cast<std::uint64_t>(info.st_dev) << 40) ^ static_cast<std::uint64_t>(info.st_ino);
}

std::string NotAFollowableFile(const std::string& path) {
  if (path == "-") return "standard input";
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return {};
  if (S_ISFIFO(info.st_mode)) return "a FIFO";
  if (S_ISCHR(info.st_mode)) return "a character device";
  if (S_ISBLK(info.st_mode)) return "a block device";
  if (S_ISDIR(info.st_mode)) return "a folder";
  if (S_ISSOCK(info.st_mode)) return "a socket";
  return "not a regular file";
}

}  // namespace quillon::platform
