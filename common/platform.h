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
// caller or swallow the bytes. On kFailed `*error` holds errno, and the
// bytes of a write cut short are removed again, so the file never ends in a
// part of `data`.
enum class Append_Result { kWritten, kSymbolic_Link, kNot_Regular, kFailed };
Append_Result Append_To_Regular_File(const char *path, const char *data, size_t size, int *error);

// What tells one file from another under the same name: a file replaced
// under its name gets another identity. `known` is false when the file could
// not be examined (then `error` holds errno, ENOENT for a missing file).
// `regular` is true for an ordinary file, false for a directory, a FIFO, a
// device or a socket. `written` changes whenever the file's content is
// written in place (modification time and size); it is not part of the
// identity.
struct File_Identity {
  bool known = false;
  bool directory = false;
  bool regular = false;
  int error = 0;
  uint64_t volume = 0;
  uint64_t index = 0;
  uint64_t written = 0;
  bool operator==(const File_Identity &other) const {
    return known == other.known && directory == other.directory && volume == other.volume && index == other.index;
  }
  bool operator!=(const File_Identity &other) const { return !(*this == other); }
};
File_Identity Identify_File(const char *path);

// Reads up to `size` bytes from the start of the regular file at `path`
// into `buffer`, never blocking (a FIFO or a device put there meanwhile is
// refused, not opened for reading). The count read, or -1 with errno set.
long Read_File_Start(const char *path, char *buffer, size_t size);

// The name under which the file at `path` really lives: for an existing
// file the path with every symbolic link resolved; for a missing one its
// directory resolved and the last name kept. False with errno set: ENOENT
// also for a symbolic link whose target is missing (a dangling link is never
// followed to create a file). Windows: the full path (no links followed).
bool Real_Path(const std::string &path, std::string *real);

// Makes standard input read bytes unchanged (binary mode on Windows) and
// checks that it can be read: 0, or EBADF when it is closed, EISDIR when it
// is a directory.
int Prepare_Stdin();

// An exclusive advisory lock on the file `path`, created when missing and
// never removed (removing a lock file lets two processes lock two files).
// Only other users of File_Lock on the same file are kept out. Released
// when the object is destroyed or the process ends, however it ends.
class File_Lock {
 public:
  File_Lock() = default;
  ~File_Lock();
  File_Lock(const File_Lock &) = delete;
  File_Lock &operator=(const File_Lock &) = delete;
  // Takes the lock; with `wait` false, gives up at once when another holds
  // it (then *busy is true). False with errno set on failure.
  bool Lock(const std::string &path, bool wait, bool *busy);

 private:
  intptr_t handle_ = -1;
};

}  // namespace tesq

#endif
