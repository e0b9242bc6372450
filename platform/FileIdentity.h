// Which file a path names now: a followed log that was rotated away and replaced by a new file
// under the same name is told apart by its identity.
#pragma once

#include <cstdint>
#include <string>

namespace quillon::platform {

// The device and inode of the file `path` names, folded into one number; 0 when it cannot be
// asked.
std::uint64_t FileIdentity(const std::string& path);

// What a followed log must be: a regular file ("-" is standard input). Empty when it is one, or
// does not exist (yet); otherwise what it is ("a FIFO", "a character device", "standard
// input", ...). Asked without opening it, which would block on a FIFO without a writer.
std::string NotAFollowableFile(const std::string& path);

}  // namespace quillon::platform
