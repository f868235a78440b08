// Shared pieces of the fuzz targets: the library started once per process on
// the built data, a private working directory for the trace file "as.txt",
// and a reader that takes sizes and modes off the front of the input.
#ifndef TESQ_TESTS_FUZZ_FUZZ_SUPPORT_H
#define TESQ_TESTS_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// Starts libtesqsrch on the data directory (TESQ_DATA_DIR, else the build
// tree's); aborts when the data cannot be loaded, since every input would
// then test nothing.
void Start_Library();

// Moves the process into a fresh temporary directory, removed at exit, so
// that the trace file of Tesquin_Search stays out of the caller's way.
void Enter_Scratch_Directory();

// Empties "as.txt" every `every` calls, so a long run does not fill the disk.
void Trim_Trace(unsigned every);

// Reads small integers off the front of the input; the rest is the text.
class Input {
 public:
  Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return size_ > 0 ? (--size_, *data_++) : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) | (static_cast<uint32_t>(U16()) << 16); }
  // The remaining bytes, up to the first NUL (the C string a host passes).
  std::string Rest_As_Text() const {
    std::string s(reinterpret_cast<const char *>(data_), size_);
    const size_t nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    return s;
  }
  const uint8_t *Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  const uint8_t *data_;
  size_t size_;
};

// A failed property: prints it and aborts, which the fuzzer reports as a
// crash with the input that caused it.
[[noreturn]] inline void Fail(const char *what) {
  std::fprintf(stderr, "fuzz property failed: %s\n", what);
  std::abort();
}
#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) ::fuzz::Fail(#cond); \
  } while (0)

}  // namespace fuzz

#endif
