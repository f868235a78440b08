// The live in-memory copy of the term table that lookups answer from.
//
// The first lookup of a store starts a watcher thread for it, which reads
// the whole table into a Term_Index in the background (until it is ready,
// lookups go to the store itself; Copy_Status tells how far it is; the
// first read goes to the table at once, with no stamp asked before it)
// and then asks the store every
// kWatchInterval for its stamp: the database file's identity and last
// write, or the table's change counter, identity and columns. When the
// stamp changes, a new copy is read and put in place of the old one once it
// is complete. A source that keeps old copies (a server) leaves the old copy
// answering until then, and when the new copy cannot be read at all
// (the server down); a file's copy is withdrawn at once instead, so lookups
// go to the file and see the change (a file that is gone or damaged then
// answers as it allows). A table that cannot be followed (its change
// counter missing or doubled, the table or a column renamed or dropped: the
// source reports it) has its copy withdrawn, and lookups go to the table
// itself until it can be followed again.
//
// The copy in use is one immutable snapshot behind a mutex of this module
// (held only to copy or replace a pointer, never around a read of the
// table), so a copy lives as long as a lookup holds it and no longer, and a
// lookup never waits on a watcher: a watcher being replaced or stopped is
// told to stop and finishes on its own thread; it is joined later, by a
// watcher start that finds it done or by Copies_Stop.
//
// Fork: a child process has no watcher thread. Copies_Before_Fork and the
// two After_Fork calls (pthread_atfork handlers, see term_store.cc) hold
// every lock of this module, and the guarded store calls, still while a
// process forks; in the child the copy in hand goes on answering and the
// next lookup starts a new watcher for it, which reads the table again only
// when its stamp has changed.
// One store is copied at a time: a lookup of another store (a changed
// TESQ_DB) replaces the watcher and the copy.
#ifndef KARVEL_SRC_TERM_COPIES_H
#define KARVEL_SRC_TERM_COPIES_H

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "term_index.h"

namespace karvel {

constexpr std::chrono::milliseconds kWatchInterval{250};

// What a source could say: kAnswered; kUnavailable when the store cannot
// be asked now (a copy in hand goes on answering); kBroken when the table
// cannot be followed (reported by the source; the copy is withdrawn).
enum class Source_Answer { kAnswered, kUnavailable, kBroken };

// Where a copy comes from.
class Copy_Source {
 public:
  virtual ~Copy_Source() = default;
  // The table's state, cheaply; equal stamps mean the same table.
  virtual Source_Answer Stamp(std::string *stamp) = 0;
  // Every row into `builder`, with the stamp the rows belong to. A read
  // that sees `stopping` set may give up early (with anything but
  // kAnswered).
  virtual Source_Answer Read(Term_Index::Builder *builder, std::string *stamp,
                             const std::atomic<bool> &stopping) = 0;
  // Whether a copy read earlier goes on answering while its table changes
  // or cannot be read (a server), or is withdrawn (a file).
  virtual bool Keeps_Old_Copy() const { return true; }
};

enum class Copy_Answer { kFound, kMissing, kNotReady };

// Looks `word` up in the copy of the store at `location`: kFound with its
// label in *value (the word itself when `want_word`), kMissing, or
// kNotReady when no copy can answer yet (then ask the store). The first
// call for a location calls `make_source` and starts its watcher; no call
// waits for a read of the table.
Copy_Answer Copy_Find(std::string_view location, std::string_view word, bool want_word, std::string *value,
                      const std::function<std::unique_ptr<Copy_Source>()> &make_source);

// What a copy is doing, for a caller that would rather wait for it than
// have its lookups go to the store meanwhile.
//   kReady    lookups of the location answer from a copy;
//   kReading  its read runs (or is yet to run): lookups go to the store;
//   kFailed   the last read gave no copy (the store could not be read, or
//             its table cannot be followed): lookups go to the store, and
//             the watcher tries again at its interval;
//   kOff      nothing is copied: lookups always go to the store.
enum class Copy_State { kReady, kReading, kFailed, kOff };

// Starts the copy of `location` as Copy_Find would (the same watcher: a
// later lookup starts nothing more) and answers its state. Never waits for
// a read; cheap enough to be asked in a loop.
Copy_State Copy_Status(std::string_view location, const std::function<std::unique_ptr<Copy_Source>()> &make_source);

// Held by a watcher around the calls of a source into a library that a
// forked child goes on using (SQLite's own locks), so that no fork happens
// in their middle; a source takes it for short stretches only.
std::mutex &Copies_Fork_Guard();

void Copies_Before_Fork();
void Copies_After_Fork_In_Parent();
void Copies_After_Fork_In_Child();

// Stops every watcher, waits for their threads and drops the copy (for
// Karvel_CloseIdle and the library's shutdown); the next lookup starts
// afresh.
void Copies_Stop();

// What the copy in use holds, for reports: rows and bytes (0 when none).
void Copy_Figures(size_t *rows, size_t *bytes);

// The watcher threads not yet joined (the one in charge and those told to
// stop), for tests and reports.
size_t Copy_Watchers();

}  // namespace karvel

#endif
