#include "term_copies.h"

#include <atomic>
#include <condition_variable>
#include <utility>
#include <vector>
#include <mutex>
#include <thread>

namespace karvel {
namespace {

// What lookups see: the location copied and its index (null while the copy
// is being read, or withdrawn after a change), and the copy withdrawn last
// when the source keeps old copies.
struct Snapshot {
  std::string location;
  std::shared_ptr<const Term_Index> index;
  std::shared_ptr<const Term_Index> previous;
};

struct Watcher {
  std::string location;
  std::unique_ptr<Copy_Source> source;
  std::thread thread;
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  // The copy published last and the stamp it was read at (guarded by
  // g_control), which a forked child's new watcher starts from.
  std::shared_ptr<const Term_Index> published;
  std::string published_stamp;
};

std::mutex g_control;  // starting and stopping watchers
std::mutex g_fork_guard;
std::shared_ptr<Watcher> g_watcher;
std::shared_ptr<const Snapshot> g_snapshot;  // read and written with std::atomic_load/store
// Set in a forked child, whose watcher did not come along: the next lookup
// starts one from what the parent's had published.
std::atomic<bool> g_orphaned{false};
std::shared_ptr<const Term_Index> g_inherited;
std::string g_inherited_stamp;

// Puts `index` before the lookups, when `w` is still the watcher in charge
// (one being stopped may finish a read after its successor has begun).
void Publish(Watcher &w, std::shared_ptr<const Term_Index> index, const std::string &stamp) {
  std::lock_guard<std::mutex> hold(g_control);
  if (g_watcher.get() != &w) return;
  const std::shared_ptr<const Snapshot> now = std::atomic_load(&g_snapshot);
  std::shared_ptr<const Term_Index> previous;
  if (index == nullptr && w.source->Keeps_Old_Copy())
    previous = now != nullptr && now->index != nullptr ? now->index : now != nullptr ? now->previous : nullptr;
  w.published = index;
  w.published_stamp = stamp;
  std::atomic_store(&g_snapshot,
                    std::shared_ptr<const Snapshot>(new Snapshot{w.location, std::move(index), std::move(previous)}));
}

// Waits one interval; false when the watcher is to stop.
bool Pause(Watcher &w) {
  std::unique_lock<std::mutex> hold(w.mutex);
  w.wake.wait_for(hold, kWatchInterval, [&] { return w.stopping; });
  return !w.stopping;
}

bool Stopping(Watcher &w) {
  std::lock_guard<std::mutex> hold(w.mutex);
  return w.stopping;
}

void Watch(Watcher &w, std::shared_ptr<const Term_Index> index, std::string built_stamp) {
  do {
    std::string stamp;
    const bool known = w.source->Stamp(&stamp);
    if (index != nullptr && (!known || stamp == built_stamp)) continue;  // unchanged, or cannot tell: keep it
    if (index != nullptr) Publish(w, nullptr, "");                     // changed: lookups go to the store
    Term_Index::Builder builder;
    std::string read_stamp;
    if (!Stopping(w) && w.source->Read(&builder, &read_stamp)) {
      index = builder.Finish();
      built_stamp = read_stamp;
    } else if (!w.source->Keeps_Old_Copy()) {
      index = nullptr;
    }
    if (index != nullptr) Publish(w, index, built_stamp);
  } while (Pause(w));
}

void Stop(std::shared_ptr<Watcher> w) {
  if (w == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(w->mutex);
    w->stopping = true;
  }
  w->wake.notify_all();
  if (w->thread.joinable()) w->thread.join();
}

void Start(const std::string &location, const std::function<std::unique_ptr<Copy_Source>()> &make_source) {
  std::shared_ptr<Watcher> old;
  {
    std::lock_guard<std::mutex> hold(g_control);
    const bool orphaned = g_orphaned.exchange(false);
    if (g_watcher != nullptr && g_watcher->location == location) return;
    old = std::move(g_watcher);
    // A forked child goes on with the copy it inherited; any other start
    // reads the table first.
    std::shared_ptr<const Term_Index> index;
    std::string stamp;
    const std::shared_ptr<const Snapshot> now = std::atomic_load(&g_snapshot);
    if (orphaned && now != nullptr && now->location == location && now->index == g_inherited) {
      index = g_inherited;
      stamp = g_inherited_stamp;
    } else {
      std::atomic_store(&g_snapshot, std::shared_ptr<const Snapshot>(new Snapshot{location, nullptr, nullptr}));
    }
    g_inherited = nullptr;
    auto w = std::make_shared<Watcher>();
    w->location = location;
    w->source = make_source ? make_source() : nullptr;
    if (w->source != nullptr) {  // no source: nothing to copy, lookups go to the store
      w->published = index;
      w->published_stamp = stamp;
      w->thread = std::thread([raw = w.get(), index, stamp] { Watch(*raw, index, stamp); });
      g_watcher = std::move(w);
    } else if (index != nullptr) {
      std::atomic_store(&g_snapshot, std::shared_ptr<const Snapshot>(new Snapshot{location, nullptr, nullptr}));
    }
  }
  Stop(std::move(old));
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
  const std::shared_ptr<const Snapshot> snapshot = std::atomic_load(&g_snapshot);
  if (snapshot == nullptr || snapshot->location != location || g_orphaned.load(std::memory_order_relaxed)) {
    Start(std::string(location), make_source);
    if (snapshot == nullptr || snapshot->location != location || snapshot->index == nullptr)
      return Copy_Answer::kNotReady;
  }
  if (snapshot->index == nullptr) return Copy_Answer::kNotReady;
  return Answer(*snapshot->index, word, want_word, value);
}

Copy_Answer Copy_Find_Previous(std::string_view location, std::string_view word, bool want_word,
                               std::string *value) {
  const std::shared_ptr<const Snapshot> snapshot = std::atomic_load(&g_snapshot);
  if (snapshot == nullptr || snapshot->location != location || snapshot->previous == nullptr)
    return Copy_Answer::kNotReady;
  return Answer(*snapshot->previous, word, want_word, value);
}

std::mutex &Copies_Fork_Guard() { return g_fork_guard; }

// The order is the one the watcher never holds them in reverse: it takes
// the guard inside a read and g_control only to publish, never both.
void Copies_Before_Fork() {
  g_control.lock();
  g_fork_guard.lock();
}

void Copies_After_Fork_In_Parent() {
  g_fork_guard.unlock();
  g_control.unlock();
}

void Copies_After_Fork_In_Child() {
  g_fork_guard.unlock();
  if (g_watcher != nullptr) {
    // Its thread did not come along: the watcher is left alone for good
    // (neither joined nor destroyed), and its last copy goes on.
    g_inherited = g_watcher->published;
    g_inherited_stamp = g_watcher->published_stamp;
    static auto *const abandoned = new std::vector<std::shared_ptr<Watcher>>;
    abandoned->push_back(std::move(g_watcher));
    g_orphaned = true;
  }
  g_control.unlock();
}

void Copies_Stop() {
  std::shared_ptr<Watcher> old;
  {
    std::lock_guard<std::mutex> hold(g_control);
    old = std::move(g_watcher);
    std::atomic_store(&g_snapshot, std::shared_ptr<const Snapshot>());
  }
  Stop(std::move(old));
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
  const std::shared_ptr<const Snapshot> snapshot = std::atomic_load(&g_snapshot);
  const bool ready = snapshot != nullptr && snapshot->index != nullptr;
  *rows = ready ? snapshot->index->Size() : 0;
  *bytes = ready ? snapshot->index->Bytes() : 0;
}

}  // namespace karvel
