#include "log_queue.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace serve {

Log_Queue::Log_Queue(int fd, size_t capacity) : fd_(fd), capacity_(capacity) {
  writer_ = std::thread([this] { Write_Loop(); });
}

Log_Queue::~Log_Queue() { Stop(0); }

void Log_Queue::Push(std::string line) {
  if (line.size() > kMax_Line) {
    line.resize(kMax_Line - 1);
    line += '\n';
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_ || lines_.size() >= capacity_) {
      dropped_.fetch_add(1);
      return;
    }
    lines_.push_back(std::move(line));
  }
  cv_.notify_one();
}

void Log_Queue::Stop(int grace_ms) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!writer_.joinable()) return;
    quit_ = true;
    give_up_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(grace_ms);
  }
  cv_.notify_one();
  writer_.join();
}

void Log_Queue::Write_Loop() {
  using Clock = std::chrono::steady_clock;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    cv_.wait(lock, [&] { return !lines_.empty() || quit_; });
    if (lines_.empty()) return;
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    lock.unlock();
    // The write waits only while the descriptor is full, and only in slices,
    // so that Stop is heard.
    size_t at = 0;
    while (at < line.size()) {
      pollfd p{fd_, POLLOUT, 0};
      const int ready = poll(&p, 1, 100);
      if (ready < 0 && errno != EINTR) break;
      if (ready <= 0) {
        std::lock_guard<std::mutex> again(mutex_);
        if (quit_ && Clock::now() >= give_up_) break;
        continue;
      }
      const ssize_t n = ::write(fd_, line.data() + at, line.size() - at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    if (at < line.size()) {
      // A failed write (EPIPE, EFBIG, ENOSPC, ...) or a reader that did not
      // take the line in time.
      write_errors_.fetch_add(1);
    }
    lock.lock();
    if (quit_ && Clock::now() >= give_up_) {
      dropped_.fetch_add(lines_.size());
      lines_.clear();
      return;
    }
  }
}

}  // namespace serve
