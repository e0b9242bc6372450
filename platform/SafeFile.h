// Writing a file so that it is either wholly replaced or left as it was.
//
// The bytes go to a new file in the target's folder, which is flushed to the disk and then
// renamed over the target: a reader of the target sees the old file or the new one, never a
// part. On any failure (folder missing or not writable, disk full, ...) the target is left
// untouched and the new file is removed.
#pragma once

#include <functional>
#include <string>

#include "model/ByteSink.h"

namespace quillon::platform {

struct SaveResult {
  enum class Status {
    kSaved,
    kSameFile,  // the target is the file given as `keep` (the open log): nothing written
    kFailed,    // nothing changed; `message` says why
  };
  Status status = Status::kFailed;
  std::string message;  // for the user, empty when saved
  std::string path;     // the file that was written (a symbolic link's target, resolved)
};

// True when both paths name one existing file: the same device and inode, so that another
// spelling of the path, a symbolic link or a hard link is recognised.
bool SameFile(const std::string& a, const std::string& b);

// True when writing `a` and writing `b` would write one file: the same spelling, one existing
// file (SameFile), or a name not there yet in the same folder ("out.ilx" and "./out.ilx").
bool SameTarget(const std::string& a, const std::string& b);

// Writes `target` with what `write` puts into the sink it is given (it returns false when it
// could not write everything). A target that is a symbolic link is resolved: the file it names
// is replaced, the link stays. A target that exists and is not a regular file or a folder (a
// terminal, a pipe, a device) cannot be replaced: it is written directly. `keep`, when not
// empty, names a file that must not be overwritten (the open log): a target that is the same
// file gives kSameFile with the message "<target> is currently open.\nPlease select a new file
// name.". A new file gets the permissions new files get (0666 less the umask); a replaced one
// keeps its own.
SaveResult SaveFile(const std::string& target, const std::string& keep, const std::function<bool(ByteSink&)>& write);

}  // namespace quillon::platform
