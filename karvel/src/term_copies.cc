#include "term_copies.h"

#include <condition_variable>
#include <cstdlib>
#include <thread>
#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif
#include <utility>
#include <vector>

namespace karvel {
namespace {

// What lookups see: the location copied and its index (null while the copy
// is being read, or withdrawn).
struct Snapshot {
  std::string location;
  std::shared_ptr<const Term_Index> index;
};

struct Watcher {
  std::string location;
  std::unique_ptr<Copy_Source> source;
  std::thread thread;
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;             // guarded by mutex; ends the pause at once
  std::atomic<bool> cancel{false};   // read by a source in the middle of a read
  std::atomic<bool> done{false};     // the thread has left Watch
  // The last attempt to get a copy gave none (Copy_Status's kFailed);
  // cleared by a copy read.
  std::atomic<bool> failed{false};
  // The copy published last and the stamp it was read at (guarded by
  // g_control), which a forked child's new watcher starts from.
  std::shared_ptr<const Term_Index> published;
  std::string published_stamp;
};

// Lock order: g_control, then g_fork_guard, then g_snapshot_mutex; the
// snapshot's mutex is held for a pointer copy only.
std::mutex g_control;  // starting and stopping watchers; what they published
std::mutex g_fork_guard;
std::mutex g_snapshot_mutex;
std::shared_ptr<const Snapshot> g_snapshot;  // guarded by g_snapshot_mutex
std::shared_ptr<Watcher> g_watcher;          // guarded by g_control
// Watchers told to stop whose threads have not been joined yet.
std::vector<std::shared_ptr<Watcher>> g_retired;  // guarded by g_control
// Set in a forked child, whose watcher did not come along: the next lookup
// starts one from what the parent's had published.
std::atomic<bool> g_orphaned{false};
std::shared_ptr<const Term_Index> g_inherited;
std::string g_inherited_stamp;

// Starts a thread of the library that takes no signal of the process: the
// host's handlers (a server's SIGTERM, a database backend's cancel) must run
// on the host's own threads, and a host that runs on one thread counts on
// it. The thread inherits the mask it is started under.
template <typename Body>
std::thread Start_Thread_Without_Signals(Body &&body) {
#ifdef _WIN32
  return std::thread(std::forward<Body>(body));
#else
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  struct Restore {
    const sigset_t &mask;
    ~Restore() { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
  } restore{before};
  return std::thread(std::forward<Body>(body));
#endif
}

std::shared_ptr<const Snapshot> Current() {
  std::lock_guard<std::mutex> hold(g_snapshot_mutex);
  return g_snapshot;
}

// Puts `next` before the lookups and gives back the snapshot it replaces,
// for the caller to drop outside its locks (freeing a large copy takes a
// while).
std::shared_ptr<const Snapshot> Install(std::shared_ptr<const Snapshot> next) {
  std::lock_guard<std::mutex> hold(g_snapshot_mutex);
  g_snapshot.swap(next);
  return next;
}

void Stop_Watchers() { Copies_Stop(); }

// Puts `index` before the lookups, when `w` is still the watcher in charge
// (one being stopped may finish a read after its successor has begun).
void Publish(Watcher &w, std::shared_ptr<const Term_Index> index, const std::string &stamp) {
  // The libraries a source reads through (libpq, and the TLS library under
  // it) register their own exit-time cleanup when first used, after this
  // library's destructors were registered, so they would run first, under
  // a watcher still reading. Registered now, after the first read, the stop
  // runs before them (and at this library's unloading, like its
  // destructors).
  static const int stop_at_exit = std::atexit(Stop_Watchers);
  (void)stop_at_exit;
  std::shared_ptr<const Snapshot> replaced;  // dropped after the lock
  std::lock_guard<std::mutex> hold(g_control);
  if (g_watcher.get() != &w) return;
  w.published = index;
  w.published_stamp = stamp;
  replaced = Install(std::make_shared<const Snapshot>(Snapshot{w.location, std::move(index)}));
}

// Waits one interval; false when the watcher is to stop.
bool Pause(Watcher &w) {
  std::unique_lock<std::mutex> hold(w.mutex);
  w.wake.wait_for(hold, kWatchInterval, [&] { return w.stopping; });
  return !w.stopping;
}

void Watch(Watcher &w, std::shared_ptr<const Term_Index> index, std::string built_stamp) {
  // A watcher that starts with no copy reads the table at once, without
  // asking for its stamp first: the read takes the stamp in its own
  // snapshot, under the read's generous deadline, whereas the stamp alone
  // has a lookup's. So a server slow to answer (a loaded machine) neither
  // holds the first copy back a round nor makes it count as failed.
  bool ask_stamp = index != nullptr;
  do {
    const bool asking = ask_stamp;
    ask_stamp = true;
    if (asking) {
      std::string stamp;
      const Source_Answer state = w.source->Stamp(&stamp);
      if (state == Source_Answer::kBroken) {
        // The table cannot be followed: the store answers as it is.
        if (index != nullptr) Publish(w, nullptr, "");
        index = nullptr;
        w.failed = true;
        continue;
      }
      if (state == Source_Answer::kUnavailable) continue;  // cannot tell: the copy in hand goes on
      if (index != nullptr && stamp == built_stamp) continue;
      if (index != nullptr && !w.source->Keeps_Old_Copy()) {  // a changed file answers itself meanwhile
        Publish(w, nullptr, "");
        index = nullptr;
      }
    }
    Term_Index::Builder builder;
    std::string read_stamp;
    const Source_Answer read =
        w.cancel ? Source_Answer::kUnavailable : w.source->Read(&builder, &read_stamp, w.cancel);
    if (read == Source_Answer::kAnswered) {
      index = builder.Finish();
      built_stamp = read_stamp;
      Publish(w, index, built_stamp);
      w.failed = false;
    } else if (index != nullptr && read == Source_Answer::kBroken) {
      Publish(w, nullptr, "");
      index = nullptr;
    }
    if (read != Source_Answer::kAnswered && index == nullptr && !w.cancel) w.failed = true;
  } while (Pause(w));
  w.done = true;
}

void Tell_To_Stop(Watcher &w) {
  {
    std::lock_guard<std::mutex> hold(w.mutex);
    w.stopping = true;
  }
  w.cancel = true;
  w.wake.notify_all();
}

void Join(Watcher &w) {
  if (w.thread.joinable()) w.thread.join();
}

// Joins the retired watchers that have finished; the others go on
// finishing by themselves. Called with g_control held: it waits for no read.
void Reap_Finished() {
  for (size_t i = g_retired.size(); i-- > 0;) {
    if (!g_retired[i]->done) continue;
    Join(*g_retired[i]);
    g_retired.erase(g_retired.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

void Start(const std::string &location, const std::function<std::unique_ptr<Copy_Source>()> &make_source) {
  std::shared_ptr<const Snapshot> replaced;  // dropped after the lock
  std::lock_guard<std::mutex> hold(g_control);
  const bool orphaned = g_orphaned.exchange(false);
  if (g_watcher != nullptr && g_watcher->location == location) return;
  Reap_Finished();
  if (g_watcher != nullptr) {
    Tell_To_Stop(*g_watcher);
    g_retired.push_back(std::move(g_watcher));
  }
  // A forked child goes on with the copy it inherited; any other start
  // reads the table first.
  std::shared_ptr<const Term_Index> index;
  std::string stamp;
  const std::shared_ptr<const Snapshot> now = Current();
  if (orphaned && now != nullptr && now->location == location && now->index == g_inherited) {
    index = g_inherited;
    stamp = g_inherited_stamp;
  }
  g_inherited = nullptr;
  auto w = std::make_shared<Watcher>();
  w->location = location;
  w->source = make_source ? make_source() : nullptr;
  if (w->source == nullptr) index = nullptr;  // nothing to copy: lookups go to the store
  if (now == nullptr || now->location != location || now->index != index)
    replaced = Install(std::make_shared<const Snapshot>(Snapshot{location, index}));
  if (w->source == nullptr) return;
  w->published = index;
  w->published_stamp = stamp;
  w->thread = Start_Thread_Without_Signals([raw = w.get(), index, stamp] { Watch(*raw, index, stamp); });
  g_watcher = std::move(w);
}

Copy_Answer Answer(const Term_Index &index, std::string_view word, bool want_word, std::string *value) {
  const std::string *label = nullptr;
  if (!index.Find(word, label)) return Copy_Answer::kMissing;
  if (want_word) {
    value->assign(word.data(), word.size());
    return Copy_Answer::kFound;
  }
  if (label == nullptr) return Copy_Answer::kMissing;
  *value = *label;
  return Copy_Answer::kFound;
}

}  // namespace

Copy_Answer Copy_Find(std::string_view location, std::string_view word, bool want_word, std::string *value,
                      const std::function<std::unique_ptr<Copy_Source>()> &make_source) {
  const std::shared_ptr<const Snapshot> snapshot = Current();
  const bool current = snapshot != nullptr && snapshot->location == location;
  if (!current || g_orphaned.load(std::memory_order_relaxed)) {
    Start(std::string(location), make_source);
    if (!current) return Copy_Answer::kNotReady;
  }
  if (snapshot->index == nullptr) return Copy_Answer::kNotReady;
  return Answer(*snapshot->index, word, want_word, value);
}

Copy_State Copy_Status(std::string_view location, const std::function<std::unique_ptr<Copy_Source>()> &make_source) {
  std::shared_ptr<const Snapshot> snapshot = Current();
  if (snapshot == nullptr || snapshot->location != location || g_orphaned.load(std::memory_order_relaxed)) {
    Start(std::string(location), make_source);
    snapshot = Current();
  }
  // Ready means what lookups see: the copy in place before them, not a
  // read that has finished but whose copy is not put in place yet.
  if (snapshot != nullptr && snapshot->location == location && snapshot->index != nullptr) return Copy_State::kReady;
  std::lock_guard<std::mutex> hold(g_control);
  if (g_watcher == nullptr || g_watcher->location != location) return Copy_State::kOff;
  return g_watcher->failed ? Copy_State::kFailed : Copy_State::kReading;
}

std::mutex &Copies_Fork_Guard() { return g_fork_guard; }

void Copies_Before_Fork() {
  g_control.lock();
  g_fork_guard.lock();
  g_snapshot_mutex.lock();
}

void Copies_After_Fork_In_Parent() {
  g_snapshot_mutex.unlock();
  g_fork_guard.unlock();
  g_control.unlock();
}

void Copies_After_Fork_In_Child() {
  g_snapshot_mutex.unlock();
  g_fork_guard.unlock();
  // The threads did not come along: their watchers are left alone for good
  // (neither joined nor destroyed), and the last copy goes on.
  static auto *const abandoned = new std::vector<std::shared_ptr<Watcher>>;
  for (std::shared_ptr<Watcher> &w : g_retired) abandoned->push_back(std::move(w));
  g_retired.clear();
  if (g_watcher != nullptr) {
    g_inherited = g_watcher->published;
    g_inherited_stamp = g_watcher->published_stamp;
    abandoned->push_back(std::move(g_watcher));
    g_orphaned = true;
  }
  g_control.unlock();
}

void Copies_Stop() {
  std::vector<std::shared_ptr<Watcher>> stopping;
  std::shared_ptr<const Snapshot> replaced;
  {
    std::lock_guard<std::mutex> hold(g_control);
    stopping.swap(g_retired);
    if (g_watcher != nullptr) stopping.push_back(std::move(g_watcher));
    for (const std::shared_ptr<Watcher> &w : stopping) Tell_To_Stop(*w);
    replaced = Install(nullptr);
    g_inherited = nullptr;
  }
  for (const std::shared_ptr<Watcher> &w : stopping) Join(*w);
}

namespace {
// A watcher still running when the library is unloaded or the process
// ends is stopped before the globals it uses are destroyed (defined after
// them, this is destroyed before them).
struct Stop_At_Exit {
  ~Stop_At_Exit() { Copies_Stop(); }
} g_stop_at_exit;
}  // namespace

void Copy_Figures(size_t *rows, size_t *bytes) {
  const std::shared_ptr<const Snapshot> snapshot = Current();
  const bool ready = snapshot != nullptr && snapshot->index != nullptr;
  *rows = ready ? snapshot->index->Size() : 0;
  *bytes = ready ? snapshot->index->Bytes() : 0;
}

size_t Copy_Watchers() {
  std::lock_guard<std::mutex> hold(g_control);
  return g_retired.size() + (g_watcher != nullptr ? 1 : 0);
}

}  // namespace karvel
