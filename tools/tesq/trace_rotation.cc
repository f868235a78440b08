#include "trace_rotation.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace cli {

void Trace_Rotation::Check() {
  struct stat st;
  if (stat("as.txt", &st) != 0 || static_cast<uint64_t>(st.st_size) < max_bytes_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  // Never through a symbolic link: it would create or lock a file
  // elsewhere.
  const int fd = open("as.txt.lock", O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return;
  if (flock(fd, LOCK_EX) == 0 && stat("as.txt", &st) == 0 && static_cast<uint64_t>(st.st_size) >= max_bytes_) {
    if (keep_ <= 0) {
      unlink("as.txt");
    } else {
      for (int i = keep_ - 1; i >= 1; --i)
        rename(("as.txt." + std::to_string(i)).c_str(), ("as.txt." + std::to_string(i + 1)).c_str());
      rename("as.txt", "as.txt.1");
    }
  }
  close(fd);
}

}  // namespace cli
