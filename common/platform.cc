#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#include <fcntl.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tesq {

#if defined(_WIN32)

namespace {
// errno for the Windows error of the last failed call.
int Errno_From_Last_Error() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    default:
      return EIO;
  }
}
}  // namespace

bool Replace_File(const std::string &from, const std::string &to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  errno = Errno_From_Last_Error();
  return false;
}

bool Set_Environment(const char *name, const char *value) {
  // An empty value removes the variable on Windows; the readers treat an
  // empty variable as unset, so both mean the same.
  return _putenv_s(name, value != nullptr ? value : "") == 0;
}

long Process_Id() { return static_cast<long>(GetCurrentProcessId()); }

bool Process_Gone(long pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
  const bool exited = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return exited;
}

bool Stderr_Is_Terminal() { return _isatty(_fileno(stderr)) != 0; }

Append_Result Append_To_Regular_File(const char *path, const char *data, size_t size, int *error) {
  // FILE_APPEND_DATA alone makes every write land at the end, whoever else
  // appends; FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, never its
  // target, and OPEN_ALWAYS then finds the link instead of creating a file.
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = Errno_From_Last_Error();
    return Append_Result::kFailed;
  }
  Append_Result result = Append_Result::kWritten;
  // The attributes alone: GetFileInformationByHandle also asks for the
  // volume's serial number, which Wine answers through its mount manager,
  // another process, on every record of the trace.
  FILE_BASIC_INFO info;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    result = Append_Result::kNot_Regular;
  } else if (!GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info)) {
    *error = Errno_From_Last_Error();
    result = Append_Result::kFailed;
  } else if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    result = Append_Result::kSymbolic_Link;
  } else if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    result = Append_Result::kNot_Regular;
  } else {
    while (size > 0) {
      const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) {
        *error = Errno_From_Last_Error();
        result = Append_Result::kFailed;
        break;
      }
      data += written;
      size -= written;
    }
  }
  CloseHandle(file);
  return result;
}

File_Identity Identify_File(const char *path) {
  File_Identity id;
  // Opened for no access, sharing everything: examining the file never keeps
  // anyone from reading, writing, renaming or deleting it.
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    id.error = Errno_From_Last_Error();
    return id;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) {
    id.error = Errno_From_Last_Error();
    CloseHandle(file);
    return id;
  }
  const DWORD type = GetFileType(file);
  CloseHandle(file);
  id.known = true;
  id.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  id.regular = !id.directory && type == FILE_TYPE_DISK;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  id.written = ((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                info.ftLastWriteTime.dwLowDateTime) ^
               ((static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow) << 1);
  return id;
}

long Read_File_Start(const char *path, char *buffer, size_t size) {
  // Windows has no FIFOs among files; a device name is refused by its type.
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    errno = Errno_From_Last_Error();
    return -1;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    errno = EINVAL;
    return -1;
  }
  DWORD done = 0;
  const BOOL ok = ReadFile(file, buffer, static_cast<DWORD>(size), &done, nullptr);
  CloseHandle(file);
  if (!ok) {
    errno = EIO;
    return -1;
  }
  return static_cast<long>(done);
}

bool Real_Path(const std::string &path, std::string *real) {
  char full[MAX_PATH * 4];
  if (_fullpath(full, path.c_str(), sizeof full) == nullptr) {
    errno = ENAMETOOLONG;
    return false;
  }
  *real = full;
  return true;
}

int Prepare_Stdin() {
  struct _stat info;
  if (_fstat(0, &info) != 0) return EBADF;
  if ((info.st_mode & _S_IFMT) == _S_IFDIR) return EISDIR;
  _setmode(0, _O_BINARY);
  return 0;
}

File_Lock::~File_Lock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool File_Lock::Lock(const std::string &path, bool wait, bool *busy) {
  *busy = false;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    errno = Errno_From_Last_Error();
    return false;
  }
  OVERLAPPED whole = {};
  const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  if (!LockFileEx(file, flags, 0, MAXDWORD, MAXDWORD, &whole)) {
    *busy = GetLastError() == ERROR_LOCK_VIOLATION || GetLastError() == ERROR_IO_PENDING;
    errno = *busy ? EWOULDBLOCK : Errno_From_Last_Error();
    CloseHandle(file);
    return false;
  }
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

#else

bool Replace_File(const std::string &from, const std::string &to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool Set_Environment(const char *name, const char *value) {
  return (value != nullptr ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

long Process_Id() { return static_cast<long>(getpid()); }

bool Process_Gone(long pid) { return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

bool Stderr_Is_Terminal() { return isatty(STDERR_FILENO) != 0; }

Append_Result Append_To_Regular_File(const char *path, const char *data, size_t size, int *error) {
  // O_NOFOLLOW refuses a link at `path` (ELOOP), dangling or not, so its
  // target is neither written nor created. O_NONBLOCK keeps the open of a
  // FIFO from waiting for a reader (without one it fails with ENXIO; with
  // one, fstat tells it apart); it is cleared again before writing.
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = errno;
    if (errno == ELOOP) return Append_Result::kSymbolic_Link;
    if (errno == ENXIO || errno == EISDIR) return Append_Result::kNot_Regular;
    return Append_Result::kFailed;
  }
  struct stat info;
  Append_Result result = Append_Result::kWritten;
  if (::fstat(fd, &info) != 0) {
    *error = errno;
    result = Append_Result::kFailed;
  } else if (!S_ISREG(info.st_mode)) {
    result = Append_Result::kNot_Regular;
  } else {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    size_t done = 0;
    while (size > 0) {
      const ssize_t written = ::write(fd, data, size);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        *error = written < 0 ? errno : EIO;
        result = Append_Result::kFailed;
        break;
      }
      data += written;
      done += static_cast<size_t>(written);
      size -= static_cast<size_t>(written);
    }
    // A write cut short (a full disk, a file-size limit) would leave the
    // start of a record for the next records to follow; the file is cut
    // back to where this append began. After an appending write the offset
    // is the end of what it wrote.
    if (result == Append_Result::kFailed && done > 0) {
      const off_t end = ::lseek(fd, 0, SEEK_CUR);
      if (end >= static_cast<off_t>(done)) (void)!::ftruncate(fd, end - static_cast<off_t>(done));
    }
  }
  ::close(fd);
  return result;
}

File_Identity Identify_File(const char *path) {
  File_Identity id;
  struct stat info;
  if (::stat(path, &info) != 0) {
    id.error = errno;
    return id;
  }
  id.known = true;
  id.directory = S_ISDIR(info.st_mode);
  id.regular = S_ISREG(info.st_mode);
  id.volume = static_cast<uint64_t>(info.st_dev);
  id.index = static_cast<uint64_t>(info.st_ino);
  id.written = (static_cast<uint64_t>(info.st_mtim.tv_sec) * 1000000000u + static_cast<uint64_t>(info.st_mtim.tv_nsec)) ^
               (static_cast<uint64_t>(info.st_size) << 1);
  return id;
}

long Read_File_Start(const char *path, char *buffer, size_t size) {
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return static_cast<long>(done);
}

bool Real_Path(const std::string &path, std::string *real) {
  if (char *resolved = realpath(path.c_str(), nullptr)) {
    *real = resolved;
    std::free(resolved);
    return true;
  }
  if (errno != ENOENT) return false;
  struct stat link;
  if (::lstat(path.c_str(), &link) == 0) {  // a link to nowhere
    errno = ENOENT;
    return false;
  }
  // A new file: its directory must exist.
  const size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (name.empty() || name == "." || name == "..") {
    errno = EISDIR;
    return false;
  }
  char *resolved = realpath(dir.c_str(), nullptr);
  if (resolved == nullptr) return false;
  const std::string base = resolved;
  std::free(resolved);
  *real = base == "/" ? "/" + name : base + "/" + name;
  return true;
}

int Prepare_Stdin() {
  struct stat info;
  if (::fstat(STDIN_FILENO, &info) != 0) return EBADF;
  if (S_ISDIR(info.st_mode)) return EISDIR;
  return 0;
}

File_Lock::~File_Lock() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
}

bool File_Lock::Lock(const std::string &path, bool wait, bool *busy) {
  *busy = false;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return false;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int error = errno;
    *busy = error == EWOULDBLOCK;
    ::close(fd);
    errno = error;
    return false;
  }
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  handle_ = fd;
  return true;
}

#endif

}  // namespace tesq
