#include "copy_wait.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "karvel/karvel.h"

namespace serve {
namespace {

using Clock = std::chrono::steady_clock;

// How often the state is asked: a copy of a million rows takes seconds,
// so a few milliseconds more are nothing, and the asking costs nothing.
constexpr long long kAsk_Every_Ms = 20;

// The pause before the next question: what is left of the wait, at most
// kAsk_Every_Ms, and never below 0. A negative value would be poll's
// "no time limit", and the wait would then end only with a signal.
int Pause_Ms(Clock::time_point deadline) {
  const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, kAsk_Every_Ms));
}

// Takes what `signal_fd` holds: true when it is SIGTERM or SIGINT.
bool Told_To_Stop(int signal_fd) {
  signalfd_siginfo info;
  const ssize_t n = ::read(signal_fd, &info, sizeof info);
  return n == static_cast<ssize_t>(sizeof info) && (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT);
}

}  // namespace

Copy_Outcome Wait_For_Copy(const std::function<int32_t()> &state, int wait_ms, int signal_fd) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(wait_ms, 0));
  for (;;) {
    switch (state()) {
      case KARVEL_COPY_READY: return Copy_Outcome::kReady;
      case KARVEL_COPY_OFF: return Copy_Outcome::kOff;
      case KARVEL_COPY_FAILED: return Copy_Outcome::kFailed;
      default: break;  // still reading (or a state this tool does not know: wait on)
    }
    if (wait_ms <= 0) return Copy_Outcome::kNotAwaited;
    if (Clock::now() >= deadline) return Copy_Outcome::kNotReady;
    pollfd p{signal_fd, POLLIN, 0};
    const int ready = poll(&p, signal_fd >= 0 ? 1 : 0, Pause_Ms(deadline));
    if (ready < 0 && errno != EINTR) return Copy_Outcome::kNotReady;  // cannot pause: no spinning
    if (ready > 0 && (p.revents & POLLIN) && Told_To_Stop(signal_fd)) return Copy_Outcome::kStopped;
  }
}

std::string Copy_Outcome_Text(Copy_Outcome outcome, int wait_ms) {
  switch (outcome) {
    case Copy_Outcome::kReady: return "its copy of the term table is ready";
    case Copy_Outcome::kOff: return "the term table is not copied (TESQ_DB_COPY=0), lookups go to it";
    case Copy_Outcome::kFailed:
      return "its copy of the term table could not be read (see the karvel: lines), so lookups go to the table "
             "itself until the copy is read";
    case Copy_Outcome::kNotReady:
      return "its copy of the term table was not read within --copy-wait " + std::to_string(wait_ms) +
             " ms, so lookups go to the table itself until it is";
    case Copy_Outcome::kNotAwaited:
      return "it did not wait for its copy of the term table (--copy-wait 0)";
    case Copy_Outcome::kStopped: return "it was stopped while its copy of the term table was read";
  }
  return "";
}

}  // namespace serve
