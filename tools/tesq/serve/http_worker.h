// The worker of tesq serve: one process that initialises the library, then
// answers HTTP on a listening socket it shares with its master, until it is
// told to stop (SIGTERM), when it drains its requests in flight and returns.
#ifndef TESQ_TOOLS_SERVE_HTTP_WORKER_H
#define TESQ_TOOLS_SERVE_HTTP_WORKER_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace serve {

struct Settings {
  std::string host = "127.0.0.1";
  int port = 8080;
  int threads = 4;              // library calls at once
  size_t max_body = 1 << 20;    // bytes of a request body
  int timeout_ms = 10000;       // reading a request, or writing its answer
  int max_connections = 256;    // open connections per worker
  int keep_alive_ms = 5000;     // an idle keep-alive connection is closed after this
  int keep_alive_requests = 1000;
  std::string trace_dir = ".";  // the workers' working directory, where as.txt goes
  bool trace = true;
  uint64_t trace_max_bytes = 64ull << 20;
  int trace_keep = 5;
  bool log = true;
  bool empty_handler = false;   // /v1/empty: the HTTP layer alone, for the benchmark
  bool playground = true;       // the page at / and /playground
};

// What a worker reports instead of Tesquin_Init's result when it cannot
// enter the trace directory.
constexpr int32_t kNo_Trace_Directory = -100;

// Runs in the forked worker: changes to the trace directory, initialises the
// library, writes Tesquin_Init's result (int32) to `ready_fd` and, when it
// is 0, serves `listen_fd` until SIGTERM. Returns the exit status.
int Run_Worker(const Settings &settings, int listen_fd, int ready_fd, int generation);

}  // namespace serve

#endif
