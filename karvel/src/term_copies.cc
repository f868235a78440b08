#include "term_copies.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace karvel {
namespace {

// What lookups see: the location copied and its index (null while the copy
// is being read, or withdrawn after a change).
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
  bool stopping = false;
};

std::mutex g_control;  // starting and stopping watchers
std::shared_ptr<Watcher> g_watcher;
std::shared_ptr<const Snapshot> g_snapshot;  // read and written with std::atomic_load/store

// Puts `index` before the lookups, when `w` is still the watcher in charge
// (one being stopped may finish a read after its successor has begun).
void Publish(const Watcher &w, std::shared_ptr<const Term_Index> index) {
  std::lock_guard<std::mutex> hold(g_control);
  if (g_watcher.get() != &w) return;
  std::atomic_store(&g_snapshot, std::shared_ptr<const Snapshot>(new Snapshot{w.location, std::move(index)}));
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

void Watch(Watcher &w) {
  std::shared_ptr<const Term_Index> index;
  std::string built_stamp;
  do {
    std::string stamp;
    const bool known = w.source->Stamp(&stamp);
    if (index != nullptr && (!known || stamp == built_stamp)) continue;  // unchanged, or cannot tell: keep it
    if (index != nullptr) Publish(w, nullptr);                  // changed: lookups go to the store
    Term_Index::Builder builder;
    std::string read_stamp;
    if (!Stopping(w) && w.source->Read(&builder, &read_stamp)) {
      index = builder.Finish();
      built_stamp = read_stamp;
    } else if (!w.source->Keeps_Old_Copy()) {
      index = nullptr;
    }
    if (index != nullptr) Publish(w, index);
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
    if (g_watcher != nullptr && g_watcher->location == location) return;
    old = std::move(g_watcher);
    std::atomic_store(&g_snapshot, std::shared_ptr<const Snapshot>(new Snapshot{location, nullptr}));
    auto w = std::make_shared<Watcher>();
    w->location = location;
    w->source = make_source();
    if (w->source != nullptr) {  // no source: nothing to copy, lookups go to the store
      w->thread = std::thread([raw = w.get()] { Watch(*raw); });
      g_watcher = std::move(w);
    }
  }
  Stop(std::move(old));
}

}  // namespace

Copy_Answer Copy_Find(const std::string &location, std::string_view word, bool want_word, std::string *value,
                      const std::function<std::unique_ptr<Copy_Source>()> &make_source) {
  const std::shared_ptr<const Snapshot> snapshot = std::atomic_load(&g_snapshot);
  if (snapshot == nullptr || snapshot->location != location) {
    Start(location, make_source);
    return Copy_Answer::kNotReady;
  }
  if (snapshot->index == nullptr) return Copy_Answer::kNotReady;
  const std::string *label = nullptr;
  if (!snapshot->index->Find(word, label)) return Copy_Answer::kMissing;
  if (want_word) {
    value->assign(word.data(), word.size());
    return Copy_Answer::kFound;
  }
  if (label == nullptr) return Copy_Answer::kMissing;
  *value = *label;
  return Copy_Answer::kFound;
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
