#include "format.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform.h"

namespace vornel {

namespace {
constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;

inline uint64_t Rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }
inline uint64_t Lane(uint64_t acc, uint64_t word) { return Rotl(acc ^ (word * kPrime2), 31) * kPrime1; }
}  // namespace

uint64_t Checksum(const uint8_t *data, size_t size) {
  uint64_t lanes[4] = {kPrime1, kPrime2, kPrime1 ^ 0x5555, kPrime2 ^ 0xAAAA};
  size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    for (int k = 0; k < 4; ++k) {
      uint64_t w;
      std::memcpy(&w, data + i + 8 * k, 8);
      lanes[k] = Lane(lanes[k], w);
    }
  }
  uint64_t h = static_cast<uint64_t>(size) * kPrime1;
  for (int k = 0; k < 4; ++k) h = Lane(h, lanes[k]);
  for (; i < size; ++i) h = Lane(h, data[i]);
  h ^= h >> 33;
  h *= kPrime2;
  h ^= h >> 29;
  return h;
}

Blob::Blob(size_t size)
    : words_(new uint64_t[(size + 7) / 8 + 1]()), data_(reinterpret_cast<uint8_t *>(words_.get())), size_(size) {}

Blob::Blob(size_t size, Uninitialised)
    : words_(new uint64_t[(size + 7) / 8 + 1]), data_(reinterpret_cast<uint8_t *>(words_.get())), size_(size) {
  const size_t words = (size + 7) / 8 + 1;
  for (size_t i = size / 8; i < words; ++i) words_[i] = 0;
}

Blob::Blob(Blob &&other) noexcept : words_(std::move(other.words_)), data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

Blob &Blob::operator=(Blob &&other) noexcept {
  if (this != &other) {
    words_ = std::move(other.words_);
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

#if defined(_WIN32)
bool Read_File(const std::string &path, size_t max_size, Blob *out, std::string *error) {
  // Every kind of sharing is allowed while the file is read, so that the
  // dictionary builder can replace it at any time.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    *error = "cannot open " + path + ": " +
             (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? std::string("No such file or directory")
              : code == ERROR_ACCESS_DENIED                                ? std::string("Permission denied")
                                                                           : "error " + std::to_string(code));
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    *error = path + " is not a regular file";
    return false;
  }
  const uint64_t file_size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (file_size > max_size) {
    CloseHandle(file);
    *error = path + " is too large";
    return false;
  }
  const size_t size = static_cast<size_t>(file_size);
  Blob blob(size, Blob::Uninitialised{});
  size_t done = 0;
  while (done < size) {
    const DWORD want = static_cast<DWORD>(size - done < (1u << 30) ? size - done : (1u << 30));
    DWORD got = 0;
    if (!ReadFile(file, blob.data_ + done, want, &got, nullptr) || got == 0) break;
    done += got;
  }
  CloseHandle(file);
  if (done != size) {
    *error = "cannot read " + path + ": it was cut short while it was read";
    return false;
  }
  *out = std::move(blob);
  return true;
}
#else
bool Read_File(const std::string &path, size_t max_size, Blob *out, std::string *error) {
  // Opened without blocking: opening a FIFO would otherwise wait for a
  // writer. Anything but a regular file is refused before it is read.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    *error = path + " is not a regular file";
    return false;
  }
  // Reads of a regular file wait for the disk as usual.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const size_t size = static_cast<size_t>(st.st_size);
  if (size > max_size) {
    close(fd);
    *error = path + " is too large";
    return false;
  }
  Blob blob(size, Blob::Uninitialised{});
  size_t done = 0;
  int read_error = 0;
  while (done < size) {
    const ssize_t n = read(fd, blob.data_ + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) read_error = errno;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  if (done != size) {
    *error = "cannot read " + path + ": " +
             (read_error != 0 ? std::string(std::strerror(read_error)) : "it was cut short while it was read");
    return false;
  }
  *out = std::move(blob);
  return true;
}
#endif

bool Write_File_Atomic(const std::string &path, const void *data, size_t size, std::string *error) {
  const std::string tmp = path + ".tmp." + std::to_string(tesq::Process_Id());
  FILE *f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) {
    *error = "cannot create " + tmp + ": " + std::strerror(errno);
    return false;
  }
  const bool written = (size == 0 || std::fwrite(data, 1, size, f) == size);
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    std::remove(tmp.c_str());
    *error = "cannot write " + tmp;
    return false;
  }
  if (!tesq::Replace_File(tmp, path)) {
    *error = "cannot rename " + tmp + " to " + path + ": " + std::strerror(errno);
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

bool Check_Header(const Blob &blob, const char magic[8], File_Header *header, std::string *error) {
  if (blob.Size() < kHeader_Size) {
    *error = "too short for its header, the file is truncated; rebuild the data";
    return false;
  }
  File_Header h;
  std::memcpy(&h, blob.Data(), sizeof h);
  if (std::memcmp(h.magic, magic, 8) != 0) {
    *error = "not a file of this kind (bad magic); rebuild the data";
    return false;
  }
  if (h.version != kFormat_Version) {
    *error = "format version " + std::to_string(h.version) + ", this library reads version " +
             std::to_string(kFormat_Version) + "; rebuild the data";
    return false;
  }
  if (h.payload_size != blob.Size() - kHeader_Size) {
    *error = "the size in its header does not match, the file is truncated or extended; rebuild the data";
    return false;
  }
  if (Checksum(blob.Data() + kHeader_Size, blob.Size() - kHeader_Size) != h.checksum) {
    *error = "checksum mismatch, the file is damaged; rebuild the data";
    return false;
  }
  *header = h;
  return true;
}

File_Header Make_Header(const char magic[8], uint32_t count, uint32_t aux1, uint32_t aux2, double value,
                        const uint8_t *payload, size_t payload_size) {
  File_Header h;
  std::memset(&h, 0, sizeof h);
  std::memcpy(h.magic, magic, 8);
  h.version = kFormat_Version;
  h.count = count;
  h.aux1 = aux1;
  h.aux2 = aux2;
  h.payload_size = payload_size;
  h.checksum = Checksum(payload, payload_size);
  h.value = value;
  return h;
}

}  // namespace vornel
