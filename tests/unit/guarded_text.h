// A NUL-terminated copy of a test string whose terminator is the last
// readable byte before an inaccessible page: a function that reads one byte
// past the terminator faults at once, with or without a sanitizer.
#ifndef TESQ_TESTS_UNIT_GUARDED_TEXT_H
#define TESQ_TESTS_UNIT_GUARDED_TEXT_H

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstring>
#include <stdexcept>
#include <string>

class Guarded_Text {
 public:
  explicit Guarded_Text(const std::string &text) {
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_ = info.dwPageSize;
    if (text.size() + 1 > page_) throw std::length_error("guarded text longer than a page");
    void *base = VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (base == nullptr) throw std::runtime_error("VirtualAlloc failed");
    base_ = static_cast<char *>(base);
    DWORD old_protection;
    if (!VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old_protection)) {
      VirtualFree(base_, 0, MEM_RELEASE);
      throw std::runtime_error("VirtualProtect failed");
    }
#else
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    if (text.size() + 1 > page_) throw std::length_error("guarded text longer than a page");
    void *base = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) throw std::runtime_error("mmap failed");
    base_ = static_cast<char *>(base);
    if (mprotect(base_ + page_, page_, PROT_NONE) != 0) {
      munmap(base_, 2 * page_);
      throw std::runtime_error("mprotect failed");
    }
#endif
    text_ = base_ + page_ - (text.size() + 1);
    std::memcpy(text_, text.data(), text.size());
    text_[text.size()] = '\0';
  }
#if defined(_WIN32)
  ~Guarded_Text() { VirtualFree(base_, 0, MEM_RELEASE); }
#else
  ~Guarded_Text() { munmap(base_, 2 * page_); }
#endif
  Guarded_Text(const Guarded_Text &) = delete;
  Guarded_Text &operator=(const Guarded_Text &) = delete;

  const char *c_str() const { return text_; }

 private:
  size_t page_ = 0;
  char *base_ = nullptr;
  char *text_ = nullptr;
};

#endif
