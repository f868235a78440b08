// The compiled file formats of libvornel and the helpers shared by their
// writers (the dictionary builder) and readers (the service).
//
// Every compiled file starts with a 64-byte header, written in the byte order
// of the machine that built it (little-endian on every supported target):
//
//   offset  size  field
//        0     8  magic: "VRNLDICT" (dictionary) or "VRNLLEXI" (lexicon)
//        8     4  format version (kFormat_Version)
//       12     4  entry count (dictionary entries / lexicon words)
//       16     4  aux1: dictionary bucket count / lexicon node count
//       20     4  aux2: dictionary string-pool bytes / 0
//       24     8  payload size in bytes (the file size less 64)
//       32     8  checksum of the payload (Checksum below)
//       40     8  value: lexicon weight of an unknown character / 0
//       48    16  reserved, zero
//
// The payload follows at offset 64; its layout belongs to the file kind
// (dictionary.h, lexicon.h). A reader rejects a file whose magic, version,
// payload size or checksum does not match before it looks at the payload,
// and then checks every offset in the payload, so no file can make it read
// out of bounds.
#ifndef VORNEL_FORMAT_H
#define VORNEL_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vornel {

constexpr uint32_t kFormat_Version = 1;
constexpr size_t kHeader_Size = 64;

struct File_Header {
  char magic[8];
  uint32_t version;
  uint32_t count;
  uint32_t aux1;
  uint32_t aux2;
  uint64_t payload_size;
  uint64_t checksum;
  double value;
  uint8_t reserved[16];
};
static_assert(sizeof(File_Header) == kHeader_Size, "the file header is 64 bytes");

// A 64-bit checksum of `size` bytes: four interleaved multiply-xor lanes over
// 8-byte words, then the tail bytes, then a final mix. Fast enough to check a
// lexicon of several megabytes in about a millisecond.
uint64_t Checksum(const uint8_t *data, size_t size);

// An 8-byte aligned block of bytes that the block owns: a whole compiled
// file, built in memory or read from a file.
class Blob {
 public:
  Blob() = default;
  explicit Blob(size_t size);  // zero-filled
  Blob(Blob &&other) noexcept;
  Blob &operator=(Blob &&other) noexcept;
  Blob(const Blob &) = delete;
  Blob &operator=(const Blob &) = delete;

  uint8_t *Data() { return data_; }
  const uint8_t *Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  friend bool Read_File(const std::string &, size_t, Blob *, std::string *);
  struct Uninitialised {};
  // Left unfilled but for the padding behind the last byte: Read_File
  // writes every byte at once.
  Blob(size_t size, Uninitialised);
  std::unique_ptr<uint64_t[]> words_;
  uint8_t *data_ = nullptr;
  size_t size_ = 0;
};

// Reads a whole file into a block of its own. The file is copied, never
// mapped: a loaded file is checked once, and whatever is later done to the
// file on disk (rewritten in place, cut short, overwritten by `cp`) cannot
// change what was checked or fault a reader. False with a message in `error`
// when the file cannot be opened or read, is not a regular file (a
// directory, a FIFO or a device is refused without waiting on it), or is
// larger than `max_size`.
bool Read_File(const std::string &path, size_t max_size, Blob *out, std::string *error);

// Writes `size` bytes to `path` through a temporary file in the same
// directory that is renamed over `path` once complete, so readers see either
// the old file or the whole new one.
bool Write_File_Atomic(const std::string &path, const void *data, size_t size, std::string *error);

// Checks the header of `blob` against `magic` and verifies the payload size
// and checksum. On success copies the header to `header`.
bool Check_Header(const Blob &blob, const char magic[8], File_Header *header, std::string *error);

// Fills a header for a payload (magic, version, sizes, checksum).
File_Header Make_Header(const char magic[8], uint32_t count, uint32_t aux1, uint32_t aux2, double value,
                        const uint8_t *payload, size_t payload_size);

}  // namespace vornel

#endif
