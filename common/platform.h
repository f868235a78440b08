// The few operating-system calls whose POSIX and Windows forms differ,
// behind one interface, so that the libraries and the tool build for both.
#ifndef TESQ_COMMON_PLATFORM_H
#define TESQ_COMMON_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace tesq {

// Renames `from` over `to`, replacing an existing `to` in one step (POSIX
// rename; on Windows a move that replaces, which plain rename refuses).
// False with errno set on failure.
bool Replace_File(const std::string &from, const std::string &to);

// Sets (or, for a null `value`, removes) an environment variable of this
// process. False on failure.
bool Set_Environment(const char *name, const char *value);

// The calling process's id, to name temporary files.
long Process_Id();

// True when no process with this id runs any more (a process that left a
// temporary file behind was killed). False when it runs or cannot be told.
bool Process_Gone(long pid);

// True when standard error is a terminal (progress output).
bool Stderr_Is_Terminal();

// The line end of a text file on this system, for files written as bytes.
#if defined(_WIN32)
inline constexpr char kText_Line_End[] = "\r\n";
#else
inline constexpr char kText_Line_End[] = "\n";
#endif

// Appends `size` bytes to the file `path` in one write, creating it when it
// does not exist. Only a regular file is ever written: a symbolic link (or,
// on Windows, any reparse point) at `path` is refused without being
// followed, so a link cannot send the bytes to another file or create its
// target, and so is a FIFO, device or directory, which could block the
// caller or swallow the bytes. On kFailed `*error` holds errno.
enum class Append_Result { kWritten, kSymbolic_Link, kNot_Regular, kFailed };
Append_Result Append_To_Regular_File(const char *path, const char *data, size_t size, int *error);

// What tells one file from another under the same name: a file replaced
// under its name gets another identity. `known` is false when the file could
// not be examined (then `error` holds errno, ENOENT for a missing file).
struct File_Identity {
  bool known = false;
  bool directory = false;
  int error = 0;
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const File_Identity &other) const {
    return known == other.known && directory == other.directory && volume == other.volume && index == other.index;
  }
  bool operator!=(const File_Identity &other) const { return !(*this == other); }
};
File_Identity Identify_File(const char *path);

}  // namespace tesq

#endif
