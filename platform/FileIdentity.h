// Which file a path names now: a followed log that was rotated away and replaced by a new file
// under the same name is told apart by its identity.
#pragma once

#include <cstdint>
#include <string>

namespace quillon::platform {

// The device and inode of the file `path` names, folded into one number; 0 when it cannot be
// asked.
std::uint64_t FileIdentity(const std::string& path);

}  // namespace quillon::platform
