// A new worker's wait for its copy of the term table. Until the copy is
// read, its lookups would go to the database, one at a time under a
// lookup's time limit, while the read itself loads the server; a worker
// that took over then could answer "no label" for known terms. So a worker
// asks Karvel how far the copy is and reports that it is ready only once
// lookups answer from the copy, or there is none to wait for (the copy is
// off, or its read failed and lookups go to the table itself), or its wait
// is over.
#ifndef TESQ_TOOLS_SERVE_COPY_WAIT_H
#define TESQ_TOOLS_SERVE_COPY_WAIT_H

#include <cstdint>
#include <functional>
#include <string>

namespace serve {

// How a wait for the copy ended; reported to the master beside
// Tesquin_Init's result.
enum class Copy_Outcome : int32_t {
  kReady = 0,      // lookups answer from the copy
  kOff = 1,        // nothing is copied: lookups go to the table
  kFailed = 2,     // the copy could not be read: lookups go to the table until it is
  kNotReady = 3,   // still being read when the wait was over
  kNotAwaited = 4, // --copy-wait 0: the worker serves at once
  kStopped = 5,    // SIGTERM or SIGINT came during the wait: the worker is not to serve
};

// Asks `state` (which answers Karvel_CopyState's codes, and starts the read
// at its first call) every few milliseconds until the copy is ready, off or
// failed, until `wait_ms` have passed (kNotReady), or until SIGTERM or
// SIGINT arrives on `signal_fd` (a signalfd; -1 for none). Other signals
// there are taken and ignored. With `wait_ms` 0 `state` is asked once, to
// start the read, and a copy not ready yet is kNotAwaited. Every pause is
// bounded by what is left of the wait, and never negative, so the wait
// ends however late a pause returns.
Copy_Outcome Wait_For_Copy(const std::function<int32_t()> &state, int wait_ms, int signal_fd);

// The outcome for the log, as the end of a sentence about the worker.
std::string Copy_Outcome_Text(Copy_Outcome outcome, int wait_ms);

}  // namespace serve

#endif
