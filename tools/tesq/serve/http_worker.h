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
  int copy_wait_ms = 60000;     // a new worker's wait for its copy of the term table; 0: none
  bool playground = true;       // the page at / and /playground
};

// Why a worker is started: the first at start, a reload's (an old worker
// goes on serving until this one reports), or the replacement of one that
// died (no worker serves meanwhile).
enum class Worker_Role { kFirst, kReload, kReplacement };

// What a worker reports to its master on `ready_fd`, in one write: the
// result of Tesquin_Init (or kNo_Trace_Directory), and how its wait for the
// copy of the term table ended (a Copy_Outcome; meaningful when `init` is
// 0). A worker serves after reporting init 0, except a reload's whose copy
// was not ready in time: that one exits, and the old worker goes on.
struct Worker_Report {
  int32_t init;
  int32_t copy;
};

// What a worker reports instead of Tesquin_Init's result when it cannot
// enter the trace directory.
constexpr int32_t kNo_Trace_Directory = -100;

// Runs in the forked worker: changes to the trace directory, initialises the
// library, waits for the copy of the term table (Wait_For_Copy, up to
// settings.copy_wait_ms), writes its Worker_Report to `ready_fd` and, when
// it is to serve, serves `listen_fd` until SIGTERM. Returns the exit status.
int Run_Worker(const Settings &settings, Worker_Role role, int listen_fd, int ready_fd, int generation);

// Whether a worker that reported `report` in `role` serves: a reload's
// worker whose copy is not ready does not, since the old worker still
// answers from its copy; the first worker and a replacement serve anyway,
// there being no other.
bool Worker_Serves(Worker_Role role, const Worker_Report &report);

}  // namespace serve

#endif
