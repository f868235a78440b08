// tesq serve: the master process. It owns the listening socket and the
// process id; the library lives in a forked worker (http_worker.cc), because
// Tesquin_Init and Tesquin_UnInit are process-wide and must not run beside a
// search. A reload (SIGHUP) forks a new worker that loads the data while the
// old one keeps serving; only once the new one reports a successful
// Tesquin_Init and a copy of the term table that answers its lookups (or
// none to wait for) is the old one told to drain (SIGTERM). A failed
// reload, one whose copy was not read within --copy-wait included, is
// logged and the old worker goes on. Both accept on the one socket while
// they overlap, so no connection is refused. The master itself never calls
// the library nor Karvel: it forks, and a child of a process with a
// database session or a watcher thread would inherit them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "cli_options.h"
#include "commands.h"
#include "copy_wait.h"
#include "http_worker.h"

namespace {

const char kServe_Usage[] =
    "usage: tesq serve [OPTIONS]\n"
    "\n"
    "Answers query analysis over HTTP/1.1 (UTF-8 JSON): /v1/word, /v1/search,\n"
    "/v1/essay, /v1/batch, /healthz and /metrics, and a playground page at / that\n"
    "calls them from a browser. SIGHUP reloads the term database\n"
    "and the dictionaries without dropping a request; SIGTERM drains the requests in\n"
    "flight and exits 0. One JSON line per request goes to standard error.\n"
    "Every new worker, the first included, serves once its copy of the term table\n"
    "answers (or it has none: copy off, or its read failed), or after --copy-wait;\n"
    "a reload whose worker is not ready by then fails and the old worker goes on.\n"
    "Exit status: 0 stopped by a signal, 1 failed (socket, data), 2 usage error.\n";

const std::vector<cli::Option> &Serve_Options() {
  static const std::vector<cli::Option> options = [] {
    std::vector<cli::Option> o = {
        {"--listen", "ADDR:PORT", "address to listen on (default 127.0.0.1:8080; [::1]:PORT for IPv6)"},
        {"--threads", "N", "library calls at once (default 4)"},
        {"--max-body", "BYTES", "largest request body, larger is 413 (default 1048576)"},
        {"--timeout", "MS", "time to receive a request, or to send an answer (default 10000)"},
        {"--max-connections", "N", "open connections, more are 503 with Retry-After (default 256)"},
        {"--keep-alive", "MS", "idle keep-alive connections are closed after this (default 5000)"},
        {"--keep-alive-requests", "N", "requests per connection (default 1000)"},
        {"--trace-dir", "DIR", "working directory of the workers, where as.txt is written (default .)"},
        {"--trace-max-bytes", "BYTES", "as.txt is rotated at this size (default 67108864)"},
        {"--trace-keep", "N", "rotated trace files kept, as.txt.1 .. as.txt.N (default 5)"},
        {"--no-trace", nullptr, "write no trace file at all"},
        {"--no-log", nullptr, "no request log on standard error"},
        {"--pid-file", "FILE", "write the master's process id to FILE"},
        {"--copy-wait", "MS", "longest wait of a new worker for its term table copy (default 60000; 0: none)"},
        {"--empty-handler", nullptr, "also serve GET /v1/empty, which does no work (benchmark)"},
        {"--no-playground", nullptr, "no playground page at / and /playground (they are 404)"},
    };
    const std::vector<cli::Option> &shared = cli::Service_Options();
    for (const cli::Option &s : shared)
      if (std::strcmp(s.name, "--encoding") != 0) o.push_back(s);
    return o;
  }();
  return options;
}

void Log_Event(const char *event, const std::string &detail) {
  std::fprintf(stderr, "{\"ts\":%lld,\"event\":\"%s\",\"detail\":%s}\n", static_cast<long long>(std::time(nullptr)),
               event, cli::Json_String(detail).c_str());
  std::fflush(stderr);
}

bool Parse_Number(const cli::Parsed_Args &args, const char *name, long long low, long long high, long long *value,
                  std::string *error) {
  if (!args.Has(name)) return true;
  const std::string text = args.Get(name);
  char *end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || v < low || v > high) {
    *error = std::string(name) + " must be a number from " + std::to_string(low) + " to " + std::to_string(high);
    return false;
  }
  *value = v;
  return true;
}

bool Parse_Settings(const cli::Parsed_Args &args, serve::Settings *s, std::string *error) {
  const std::string listen = args.Get("--listen", "127.0.0.1:8080");
  const size_t colon = listen.rfind(':');
  if (colon == std::string::npos) {
    *error = "--listen must be ADDR:PORT";
    return false;
  }
  s->host = listen.substr(0, colon);
  if (s->host.size() >= 2 && s->host.front() == '[' && s->host.back() == ']') s->host = s->host.substr(1, s->host.size() - 2);
  char *end = nullptr;
  const long port = std::strtol(listen.c_str() + colon + 1, &end, 10);
  if (colon + 1 == listen.size() || *end != '\0' || port < 0 || port > 65535) {
    *error = "--listen: bad port in '" + listen + "'";
    return false;
  }
  s->port = static_cast<int>(port);
  long long threads = s->threads, body = static_cast<long long>(s->max_body), timeout = s->timeout_ms,
            connections = s->max_connections, keep = s->keep_alive_ms, keep_requests = s->keep_alive_requests,
            trace_bytes = static_cast<long long>(s->trace_max_bytes), trace_keep = s->trace_keep,
            copy_wait = s->copy_wait_ms;
  if (!Parse_Number(args, "--threads", 1, 256, &threads, error) ||
      !Parse_Number(args, "--max-body", 1, 1ll << 30, &body, error) ||
      !Parse_Number(args, "--timeout", 1, 3600000, &timeout, error) ||
      !Parse_Number(args, "--max-connections", 1, 10000, &connections, error) ||
      !Parse_Number(args, "--keep-alive", 1, 3600000, &keep, error) ||
      !Parse_Number(args, "--keep-alive-requests", 1, 1000000000, &keep_requests, error) ||
      !Parse_Number(args, "--trace-max-bytes", 1, 1ll << 50, &trace_bytes, error) ||
      !Parse_Number(args, "--trace-keep", 0, 1000, &trace_keep, error) ||
      !Parse_Number(args, "--copy-wait", 0, 3600000, &copy_wait, error))
    return false;
  s->threads = static_cast<int>(threads);
  s->max_body = static_cast<size_t>(body);
  s->timeout_ms = static_cast<int>(timeout);
  s->max_connections = static_cast<int>(connections);
  s->keep_alive_ms = static_cast<int>(keep);
  s->keep_alive_requests = static_cast<int>(keep_requests);
  s->trace_max_bytes = static_cast<uint64_t>(trace_bytes);
  s->trace_keep = static_cast<int>(trace_keep);
  s->copy_wait_ms = static_cast<int>(copy_wait);
  s->trace = !args.Has("--no-trace");
  s->log = !args.Has("--no-log");
  s->empty_handler = args.Has("--empty-handler");
  s->playground = !args.Has("--no-playground");
  if (args.Has("--trace-dir")) s->trace_dir = args.Get("--trace-dir");
  struct stat st;
  if (s->trace && (stat(s->trace_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
    *error = "trace directory '" + s->trace_dir + "' does not exist";
    return false;
  }
  return true;
}

// The shared listening socket, non-blocking so that the worker that loses a
// connection to the other (during a reload) does not block in accept.
int Listen(const serve::Settings &s, std::string *error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo *found = nullptr;
  const std::string port = std::to_string(s.port);
  const int r = getaddrinfo(s.host.empty() ? nullptr : s.host.c_str(), port.c_str(), &hints, &found);
  if (r != 0) {
    *error = "cannot resolve '" + s.host + "': " + gai_strerror(r);
    return -1;
  }
  int fd = -1;
  for (addrinfo *a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 1024) != 0) {
      *error = "cannot listen on " + s.host + ":" + port + ": " + std::strerror(errno);
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  return fd;
}

struct Worker_Process {
  pid_t pid = -1;
  int ready_fd = -1;
  int generation = 0;
  serve::Worker_Role role = serve::Worker_Role::kFirst;
};

// Forks a worker; the worker's signals are the ones the master blocked.
Worker_Process Spawn(const serve::Settings &s, serve::Worker_Role role, int listen_fd, int generation,
                     const sigset_t &old_mask) {
  Worker_Process w;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return w;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    std::fflush(stderr);
    _exit(serve::Run_Worker(s, role, listen_fd, fds[1], generation));
  }
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return w;
  }
  w.pid = pid;
  w.ready_fd = fds[0];
  w.generation = generation;
  w.role = role;
  return w;
}

// What Read_Report gives for a worker that exited before reporting.
constexpr int32_t kExited_Before_Init = -101;

// Reads the worker's report (written in one piece); a worker that exits
// first failed.
serve::Worker_Report Read_Report(Worker_Process *w) {
  serve::Worker_Report report{kExited_Before_Init, static_cast<int32_t>(serve::Copy_Outcome::kNotAwaited)};
  ssize_t n;
  do n = read(w->ready_fd, &report, sizeof report);
  while (n < 0 && errno == EINTR);
  close(w->ready_fd);
  w->ready_fd = -1;
  if (n != static_cast<ssize_t>(sizeof report)) report.init = kExited_Before_Init;
  return report;
}

// Why a worker's data did not load, for the log.
std::string Load_Failure(int32_t code) {
  if (code == serve::kNo_Trace_Directory) return "the worker cannot enter the trace directory";
  if (code == kExited_Before_Init) return "the worker exited before it reported";
  return "Tesquin_Init " + std::to_string(code);
}

// How a worker's wait for its copy ended, for the log.
std::string Copy_Note(const serve::Worker_Report &report, const serve::Settings &s) {
  return serve::Copy_Outcome_Text(static_cast<serve::Copy_Outcome>(report.copy), s.copy_wait_ms);
}

// Why a worker does not serve, for the log.
std::string Not_Serving(const serve::Worker_Report &report, const serve::Settings &s) {
  return report.init != 0 ? Load_Failure(report.init) : Copy_Note(report, s);
}

// Waits for the first worker's report while taking the master's signals: a
// SIGTERM or SIGINT meanwhile is passed on to the worker (which then stops
// loading or waiting for its copy) and sets *stopped; a SIGHUP is ignored,
// there being nothing to reload yet.
serve::Worker_Report Await_First_Report(Worker_Process *w, int signal_fd, bool *stopped) {
  for (;;) {
    pollfd p[2] = {{signal_fd, POLLIN, 0}, {w->ready_fd, POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {  // both descriptors stay open until the report is read: no time limit needed
      if (errno == EINTR) continue;
      return Read_Report(w);
    }
    if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) return Read_Report(w);
    if (!(p[0].revents & POLLIN)) continue;
    signalfd_siginfo info;
    if (read(signal_fd, &info, sizeof info) != sizeof info) continue;
    if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) {
      *stopped = true;
      if (w->pid > 0) kill(w->pid, SIGTERM);
    }
  }
}

// How a worker ended, for the log.
std::string Exit_Text(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("was killed by signal ") + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
  return "ended (wait status " + std::to_string(status) + ")";
}

// A worker that dies soon after it started is replaced after a pause that
// doubles each time, up to this; one that served this long resets it.
constexpr int kFirst_Respawn_Ms = 100;
constexpr int kLast_Respawn_Ms = 10000;
constexpr int kHealthy_Ms = 10000;

void Stop_Worker(Worker_Process *w) {
  if (w->pid > 0) kill(w->pid, SIGTERM);
}

// A directory in which the library cannot create as.txt, because a
// directory of that name is already there: opening it for appending fails
// for every user, root included, and a symbolic link is not involved.
std::string Make_No_Trace_Dir(std::string *error) {
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tesq-serve-notrace-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    *error = std::string("cannot make a directory for --no-trace: ") + std::strerror(errno);
    return "";
  }
  const std::string dir = buf.data();
  if (mkdir((dir + "/as.txt").c_str(), 0555) != 0) {
    *error = std::string("cannot make a directory for --no-trace: ") + std::strerror(errno);
    rmdir(dir.c_str());
    return "";
  }
  chmod(dir.c_str(), 0555);
  return dir;
}

}  // namespace

int Command_Serve(int argc, char **argv) {
  const std::vector<cli::Option> &options = Serve_Options();
  cli::Parsed_Args args;
  std::string error;
  if (!cli::Parse_Args(argc, argv, 1, options, &args, &error)) {
    std::fprintf(stderr, "tesq serve: %s\n%s", error.c_str(), kServe_Usage);
    return cli::kExit_Usage;
  }
  if (args.Has("--help")) {
    std::printf("%s\n%s", kServe_Usage, cli::Options_Help(options).c_str());
    return cli::kExit_Ok;
  }
  if (!args.positional.empty()) {
    std::fprintf(stderr, "tesq serve: takes no arguments\n%s", kServe_Usage);
    return cli::kExit_Usage;
  }
  // A stderr reader that went away, or a file-size limit on the log, makes
  // writes fail instead of ending the master (which would orphan the
  // workers); the workers inherit this.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  serve::Settings settings;
  if (!Parse_Settings(args, &settings, &error) || !cli::Apply_Service_Options(args, &error)) {
    std::fprintf(stderr, "tesq serve: %s\n", error.c_str());
    return cli::kExit_Usage;
  }
  std::string no_trace_dir;
  if (!settings.trace) {
    no_trace_dir = Make_No_Trace_Dir(&error);
    if (no_trace_dir.empty()) {
      std::fprintf(stderr, "tesq serve: %s\n", error.c_str());
      return cli::kExit_Failed;
    }
    settings.trace_dir = no_trace_dir;
  }
  auto cleanup = [&] {
    if (!no_trace_dir.empty()) {
      rmdir((no_trace_dir + "/as.txt").c_str());
      rmdir(no_trace_dir.c_str());
    }
  };
  int listen_fd = Listen(settings, &error);
  if (listen_fd < 0) {
    std::fprintf(stderr, "tesq serve: %s\n", error.c_str());
    cleanup();
    return cli::kExit_Failed;
  }
  if (args.Has("--pid-file")) {
    FILE *f = std::fopen(args.Get("--pid-file").c_str(), "w");
    if (f == nullptr || std::fprintf(f, "%ld\n", static_cast<long>(getpid())) < 0 || std::fclose(f) != 0) {
      std::fprintf(stderr, "tesq serve: cannot write the pid file '%s'\n", args.Get("--pid-file").c_str());
      cleanup();
      return cli::kExit_Failed;
    }
  }

  sigset_t mask, old_mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGHUP);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGCHLD);
  sigprocmask(SIG_BLOCK, &mask, &old_mask);
  const int signal_fd = signalfd(-1, &mask, SFD_CLOEXEC);

  int generation = 1;
  Worker_Process current = Spawn(settings, serve::Worker_Role::kFirst, listen_fd, generation, old_mask);
  bool stopped_early = false;
  const serve::Worker_Report first =
      current.pid > 0 ? Await_First_Report(&current, signal_fd, &stopped_early)
                      : serve::Worker_Report{-100, static_cast<int32_t>(serve::Copy_Outcome::kNotAwaited)};
  if (stopped_early) {
    if (current.pid > 0) waitpid(current.pid, nullptr, 0);
    if (args.Has("--pid-file")) unlink(args.Get("--pid-file").c_str());
    cleanup();
    Log_Event("stopped", "stopped before the first worker served");
    return cli::kExit_Ok;
  }
  if (!serve::Worker_Serves(current.role, first)) {
    std::fprintf(stderr, "tesq serve: the library failed to initialise (%s); data directory: %s\n",
                 Not_Serving(first, settings).c_str(), std::getenv("TESQ_DATA_DIR") ? std::getenv("TESQ_DATA_DIR") : "(default)");
    if (current.pid > 0) waitpid(current.pid, nullptr, 0);
    cleanup();
    return cli::kExit_Failed;
  }
  // The port bound, which differs from the one asked for when that was 0.
  sockaddr_storage bound{};
  socklen_t bound_size = sizeof bound;
  int port = settings.port;
  if (getsockname(listen_fd, reinterpret_cast<sockaddr *>(&bound), &bound_size) == 0)
    port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                             : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
  char where[160];
  std::snprintf(where, sizeof where, "listening on %s:%d, worker %ld", settings.host.c_str(), port,
                static_cast<long>(current.pid));
  Log_Event("ready", std::string(where) + "; " + Copy_Note(first, settings));

  using Clock = std::chrono::steady_clock;
  Worker_Process loading;                // a new worker (a reload's or a replacement), until it reports
  bool replacing = false;                // `loading` replaces a worker that died
  std::vector<pid_t> draining;           // old workers finishing their requests
  bool stopping = false;
  Clock::time_point started = Clock::now(), respawn_at = Clock::time_point::max();
  int respawn_ms = kFirst_Respawn_Ms;
  while (!stopping || current.pid > 0 || !draining.empty() || loading.pid > 0) {
    if (!stopping && current.pid < 0 && loading.pid < 0 && Clock::now() >= respawn_at) {
      respawn_at = Clock::time_point::max();
      loading = Spawn(settings, serve::Worker_Role::kReplacement, listen_fd, ++generation, old_mask);
      replacing = true;
      if (loading.pid < 0) {
        Log_Event("stopping", std::string("the replacement worker cannot be forked: ") + std::strerror(errno));
        stopping = true;
        continue;
      }
    }
    int wait_ms = -1;
    if (respawn_at != Clock::time_point::max() && loading.pid < 0)
      wait_ms = static_cast<int>(std::max<long long>(
          0, std::chrono::duration_cast<std::chrono::milliseconds>(respawn_at - Clock::now()).count() + 1));
    pollfd p[2] = {{signal_fd, POLLIN, 0}, {loading.ready_fd, POLLIN, 0}};
    if (poll(p, loading.ready_fd >= 0 ? 2 : 1, wait_ms) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (loading.ready_fd >= 0 && (p[1].revents & (POLLIN | POLLHUP))) {
      const serve::Worker_Report report = Read_Report(&loading);
      if (serve::Worker_Serves(loading.role, report) && !stopping) {
        if (replacing) {
          Log_Event("replaced", "worker " + std::to_string(loading.pid) + " serves generation " +
                                    std::to_string(loading.generation) + "; " + Copy_Note(report, settings));
        } else {
          Log_Event("reloaded", "worker " + std::to_string(loading.pid) + " serves generation " +
                                    std::to_string(loading.generation) + "; " + Copy_Note(report, settings) +
                                    "; worker " + std::to_string(current.pid) + " drains");
          if (current.pid > 0) {
            Stop_Worker(&current);
            draining.push_back(current.pid);
          }
        }
        current = loading;
        started = Clock::now();
        respawn_at = Clock::time_point::max();
      } else if (stopping) {
        // The server is stopping: the new worker is not needed, whatever it
        // reported.
        if (loading.pid > 0) Stop_Worker(&loading);
        if (loading.pid > 0) draining.push_back(loading.pid);
      } else if (replacing) {
        Log_Event("stopping", "the replacement worker failed to start (" + Not_Serving(report, settings) + ")");
        stopping = true;
        if (loading.pid > 0) {
          Stop_Worker(&loading);
          draining.push_back(loading.pid);
        }
      } else {
        Log_Event("reload_failed", (report.init != 0 ? "the new data failed to load (" : "the new worker does not serve (") +
                                       Not_Serving(report, settings) + "); the old worker goes on serving");
        if (loading.pid > 0) {
          Stop_Worker(&loading);
          draining.push_back(loading.pid);
        }
      }
      loading = Worker_Process();
      replacing = false;
    }
    if (!(p[0].revents & POLLIN)) continue;
    signalfd_siginfo info;
    if (read(signal_fd, &info, sizeof info) != sizeof info) continue;
    if (info.ssi_signo == SIGHUP && !stopping) {
      if (loading.pid > 0 || loading.ready_fd >= 0) {
        Log_Event("reload_ignored", replacing ? "a replacement worker is loading" : "a reload is already loading");
      } else if (current.pid < 0) {
        Log_Event("reload_ignored", "a replacement worker is due");
      } else {
        Log_Event("reload", "loading the data in a new worker");
        loading = Spawn(settings, serve::Worker_Role::kReload, listen_fd, ++generation, old_mask);
        if (loading.pid < 0) Log_Event("reload_failed", std::string("fork failed: ") + std::strerror(errno));
      }
    } else if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) {
      if (!stopping) Log_Event("stopping", "draining the requests in flight");
      stopping = true;
      Stop_Worker(&current);
      Stop_Worker(&loading);
      // The workers hold the socket now: once the last has taken what its
      // backlog holds and closed it, later connections are refused rather
      // than accepted by the system and then reset.
      if (listen_fd >= 0) close(listen_fd);
      listen_fd = -1;
    } else if (info.ssi_signo == SIGCHLD) {
      int status;
      pid_t pid;
      while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        draining.erase(std::remove(draining.begin(), draining.end(), pid), draining.end());
        if (pid == loading.pid) loading.pid = -1;  // its ready pipe reports the failure
        if (pid == current.pid) {
          current.pid = -1;
          if (!stopping) {
            // A worker that died is replaced rather than left with no one
            // accepting; one that keeps dying soon after its start is
            // replaced ever more slowly, so a crash loop does not spin.
            const long long lived =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
            if (lived >= kHealthy_Ms) respawn_ms = kFirst_Respawn_Ms;
            Log_Event("worker_died", "worker " + std::to_string(pid) + " " + Exit_Text(status) +
                                         "; starting another in " + std::to_string(respawn_ms) + " ms");
            respawn_at = Clock::now() + std::chrono::milliseconds(respawn_ms);
            respawn_ms = std::min(respawn_ms * 2, kLast_Respawn_Ms);
          }
        }
      }
    }
  }
  if (listen_fd >= 0) close(listen_fd);
  if (args.Has("--pid-file")) unlink(args.Get("--pid-file").c_str());
  cleanup();
  Log_Event("stopped", "all workers have drained");
  return cli::kExit_Ok;
}
