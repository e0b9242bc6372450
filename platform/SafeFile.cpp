#include "platform/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>

namespace quillon::platform {

namespace {

// Writes every byte to a file descriptor; remembers the first error.
class DescriptorSink : public ByteSink {
 public:
  explicit DescriptorSink(int fd) : fd_(fd) {}

  bool Write(std::string_view bytes) override {
    while (error_ == 0 && !bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0) {
        if (errno != EINTR) error_ = errno;
        continue;
      }
      if (n == 0) {
        error_ = ENOSPC;
        break;
      }
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return error_ == 0;
  }

  int Error() const { return error_; }
  void SetError(int error) {
    if (error_ == 0) error_ = error;
  }

 private:
  int fd_;
  int error_ = 0;
};

std::string Failed(const std::string& path, int error) {
  return "Failed to save file: " + path + "\n" + std::strerror(error != 0 ? error : EIO);
}

// The folder of a path ("." for a bare name).
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A new file next to the target, created exclusively: a name of the target's folder that no file
// has. Returns the descriptor (or -1 with errno set) and the name.
int CreateNamedTemporary(const std::string& target, std::string& name) {
  std::random_device device;
  std::mt19937_64 random(device());
  const std::string folder = FolderOf(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    name = folder + "/.quillon-save-" + suffix + ".tmp";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// A new file in the target's folder. Where the file system allows, it has no name until it is
// complete (O_TMPFILE): a save interrupted by a signal, SIGKILL or a crash leaves nothing behind.
// `name` is then empty; LinkTemporary names it.
int CreateTemporary(const std::string& target, std::string& name) {
#ifdef O_TMPFILE
  // The file is named through /proc/self/fd once complete.
  const int fd = ::access("/proc/self/fd", X_OK) != 0
                     ? -1
                     : ::open(FolderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) {
    name.clear();
    return fd;
  }
#endif
  return CreateNamedTemporary(target, name);
}

// Gives a complete temporary file without a name (still open as `fd`) a temporary name in the
// target's folder, which the rename then moves over the target. 0, or the system's error.
int LinkTemporary(int fd, std::string& temporary, const std::string& path) {
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  std::random_device device;
  std::mt19937_64 random(device());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    temporary = FolderOf(path) + "/.quillon-save-" + suffix + ".tmp";
    if (::linkat(AT_FDCWD, self, AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != EEXIST) break;
  }
  const int error = errno;
  temporary.clear();
  return error;
}

SaveResult WriteDirectly(const std::string& target, const std::function<bool(ByteSink&)>& write) {
  SaveResult result;
  result.path = target;
  const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    result.message = Failed(target, errno);
    return result;
  }
  DescriptorSink sink(fd);
  const bool written = write(sink);
  if (!written) sink.SetError(EIO);
  if (::close(fd) != 0) sink.SetError(errno);
  if (sink.Error() != 0) {
    result.message = Failed(target, sink.Error());
    return result;
  }
  result.status = SaveResult::Status::kSaved;
  return result;
}

}  // namespace

// What a path names; "-" is standard input, the log a command reads when given "-".
static bool StatOf(const std::string& path, struct stat& st) {
  if (path == "-") return ::fstat(STDIN_FILENO, &st) == 0;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (!StatOf(a, sa) || !StatOf(b, sb)) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool SameTarget(const std::string& a, const std::string& b) {
  if (a == b || SameFile(a, b)) return true;
  // Files to be created: the same name in the same folder, however the folder is spelt.
  const auto where = [](const std::string& path) -> std::string {
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char* folder = ::realpath(FolderOf(path).c_str(), nullptr);
    if (folder == nullptr || name.empty() || name == "." || name == "..") {
      std::free(folder);
      return {};
    }
    std::string resolved = std::string(folder) + "/" + name;
    std::free(folder);
    return resolved;
  };
  const std::string resolvedA = where(a);
  return !resolvedA.empty() && resolvedA == where(b);
}

SaveResult SaveFile(const std::string& target, const std::string& keep, const std::function<bool(ByteSink&)>& write) {
  SaveResult result;
  result.path = target;
  if (target.empty()) {
    result.message = Failed(target, ENOENT);
    return result;
  }
  if (!keep.empty() && (target == keep || SameFile(target, keep))) {
    result.status = SaveResult::Status::kSameFile;
    result.message = target + " is currently open.\nPlease select a new file name.";
    return result;
  }

  // What the target is now: a link is followed to the file it names.
  std::string path = target;
  struct stat st {};
  bool exists = false;
  if (::lstat(target.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      if (char* resolved = ::realpath(target.c_str(), nullptr)) {
        path = resolved;
        std::free(resolved);
        exists = ::stat(path.c_str(), &st) == 0;
      }
    } else {
      exists = true;
    }
  }
  result.path = path;
  if (exists && S_ISDIR(st.st_mode)) {
    result.message = Failed(target, EISDIR);
    return result;
  }
  if (exists && !S_ISREG(st.st_mode)) return WriteDirectly(path, write);

  std::string temporary;
  const int fd = CreateTemporary(path, temporary);
  if (fd < 0) {
    result.message = Failed(target, errno);
    return result;
  }
  DescriptorSink sink(fd);
  if (!write(sink)) sink.SetError(EIO);
  // A replaced file keeps its permissions.
  if (exists && ::fchmod(fd, st.st_mode & 07777) != 0) sink.SetError(errno);
  if (sink.Error() == 0 && ::fsync(fd) != 0) sink.SetError(errno);
  if (sink.Error() == 0 && temporary.empty()) {
    if (const int error = LinkTemporary(fd, temporary, path); error != 0) sink.SetError(error);
  }
  if (::close(fd) != 0) sink.SetError(errno);
  if (sink.Error() == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) sink.SetError(errno);
  if (sink.Error() != 0) {
    if (!temporary.empty()) ::unlink(temporary.c_str());
    result.message = Failed(target, sink.Error());
    return result;
  }
  // The rename itself reaches the disk with the folder.
  const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  result.status = SaveResult::Status::kSaved;
  return result;
}

}  // namespace quillon::platform
