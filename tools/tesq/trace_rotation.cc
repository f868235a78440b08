#include "trace_rotation.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace cli {

namespace {

// What failed and why. The callers read errno before they make any string,
// which may allocate and so change it.
std::string Failure(int error, const char *what) { return std::string(what) + ": " + std::strerror(error); }
std::string Failure(const char *what) { return Failure(errno, what); }

}  // namespace

std::string Trace_Rotation::Check() {
  struct stat st;
  if (stat("as.txt", &st) != 0 || static_cast<uint64_t>(st.st_size) < max_bytes_) return "";
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string failure = Rotate();
  const bool told = failing_;
  failing_ = !failure.empty();
  return told ? "" : failure;
}

std::string Trace_Rotation::Rotate() {
  // Never through a symbolic link: it would create or lock a file
  // elsewhere.
  const int fd = open("as.txt.lock", O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return Failure("the trace's lock file as.txt.lock cannot be opened");
  std::string failure;
  struct stat st;
  if (flock(fd, LOCK_EX) != 0) {
    failure = Failure("the trace's lock file as.txt.lock cannot be locked");
  } else if (stat("as.txt", &st) == 0 && static_cast<uint64_t>(st.st_size) >= max_bytes_) {
    if (keep_ <= 0) {
      if (unlink("as.txt") != 0 && errno != ENOENT) failure = Failure("the trace as.txt cannot be removed");
    } else {
      // A missing older file leaves a gap, not a failure; one that cannot
      // be moved is told, and as.txt is still renamed, so that the trace
      // stays bounded.
      for (int i = keep_ - 1; i >= 1; --i) {
        const std::string from = "as.txt." + std::to_string(i), to = "as.txt." + std::to_string(i + 1);
        const int error = rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
        if (error != 0 && error != ENOENT && failure.empty())
          failure = Failure(error, ("the trace " + from + " cannot be renamed to " + to).c_str());
      }
      if (rename("as.txt", "as.txt.1") != 0 && errno != ENOENT)
        failure = Failure("the trace as.txt cannot be renamed to as.txt.1");
    }
  }
  close(fd);
  return failure;
}

}  // namespace cli
