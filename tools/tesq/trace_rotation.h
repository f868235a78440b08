// The library appends every word of every Tesquin_Search to as.txt in the
// current directory and never bounds it; a host that searches for long (the
// HTTP service's workers, a database backend) renames it aside at a size
// limit, keeping a few old files.
#ifndef TESQ_TOOLS_TESQ_TRACE_ROTATION_H
#define TESQ_TOOLS_TESQ_TRACE_ROTATION_H

#include <cstdint>
#include <mutex>
#include <string>

namespace cli {

// as.txt is renamed aside at its size limit, keeping `keep` old files
// (as.txt.1 the newest; none: it is removed). The library opens the file
// per word, so a search in flight finishes its line in the renamed file and
// the next word starts a new as.txt. A lock file (as.txt.lock) keeps two
// processes searching in one directory from rotating at once.
class Trace_Rotation {
 public:
  Trace_Rotation(uint64_t max_bytes, int keep) : max_bytes_(max_bytes), keep_(keep) {}
  // Rotates when as.txt in the current directory is at or over the limit.
  // Returns what failed, if anything, once: a failed rotation is tried
  // again at every later check while the trace goes on growing, and is told
  // again only after one has succeeded, so that a host logs it without a
  // line per request.
  std::string Check();

 private:
  // What failed, or empty.
  std::string Rotate();
  uint64_t max_bytes_;
  int keep_;
  std::mutex mutex_;
  bool failing_ = false;
};

}  // namespace cli

#endif
