// The request log's lines go to a descriptor (standard error) from a thread
// of their own, so that a reader that stalls never holds up a request: the
// queue is bounded, a line that finds it full is dropped, and the drops and
// the failed writes are counted for /metrics.
#ifndef TESQ_TOOLS_SERVE_LOG_QUEUE_H
#define TESQ_TOOLS_SERVE_LOG_QUEUE_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace serve {

class Log_Queue {
 public:
  // A line longer than this is cut (a pipe takes a write of this size at
  // once, so one line never blocks the writer halfway).
  static constexpr size_t kMax_Line = 4096;

  Log_Queue(int fd, size_t capacity);
  ~Log_Queue();  // Stop(), if not done
  Log_Queue(const Log_Queue &) = delete;
  Log_Queue &operator=(const Log_Queue &) = delete;

  // Queues one line (its line feed included); never waits.
  void Push(std::string line);

  // Writes what the descriptor takes within `grace_ms`, counts the rest as
  // dropped, and ends the writer.
  void Stop(int grace_ms);

  uint64_t Dropped() const { return dropped_.load(); }
  uint64_t Write_Errors() const { return write_errors_.load(); }

 private:
  void Write_Loop();

  const int fd_;
  const size_t capacity_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::string> lines_;
  bool quit_ = false;
  std::chrono::steady_clock::time_point give_up_ = std::chrono::steady_clock::time_point::max();
  std::atomic<uint64_t> dropped_{0}, write_errors_{0};
  std::thread writer_;
};

}  // namespace serve

#endif
