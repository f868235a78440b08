// The live in-memory copy of the term table that lookups answer from.
//
// The first lookup of a store starts a watcher thread for it, which reads
// the whole table into a Term_Index in the background (until it is ready,
// lookups go to the store itself) and then asks the store every
// kWatchInterval for its stamp: the database file's identity and last
// write, or the table's change counter. When the stamp changes, the copy is
// withdrawn at once, so lookups go to the store and see the change, and a
// new copy is read and put in its place. When the store cannot be asked
// (a server down), the copy in hand goes on answering; when the new copy
// cannot be read, the old one is put back if the source keeps old copies
// (a server), and is dropped otherwise (a file that is gone or damaged:
// lookups then go to it and answer as it allows).
//
// Lookups read the copy through an atomically swapped shared pointer, so a
// copy lives as long as a lookup holds it and no longer. A copy withdrawn
// after a change of a source that keeps old copies stays at hand as the
// previous copy, for the lookups that find the store unable to answer
// before the new copy is ready.
//
// Fork: a child process has no watcher thread. Copies_Before_Fork and the
// two After_Fork calls (pthread_atfork handlers, see term_store.cc) keep
// the watcher out of its locks and out of the guarded store calls while a
// process forks; in the child the copy in hand goes on answering and the
// next lookup starts a new watcher for it, which reads the table again only
// when its stamp has changed.
// One store is copied at a time: a lookup of another store (a changed
// TESQ_DB) stops the old watcher and starts a new one.
#ifndef KARVEL_SRC_TERM_COPIES_H
#define KARVEL_SRC_TERM_COPIES_H

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "term_index.h"

namespace karvel {

constexpr std::chrono::milliseconds kWatchInterval{250};

// Where a copy comes from.
class Copy_Source {
 public:
  virtual ~Copy_Source() = default;
  // The table's state, cheaply; equal stamps mean the same table. False when
  // it cannot be told now.
  virtual bool Stamp(std::string *stamp) = 0;
  // Every row into `builder`, with the stamp the rows belong to; false when
  // the table could not be read whole.
  virtual bool Read(Term_Index::Builder *builder, std::string *stamp) = 0;
  // Whether a copy read earlier goes on answering when a new one cannot be
  // read (a server that is down), or is withdrawn (a file that is gone).
  virtual bool Keeps_Old_Copy() const { return true; }
};

enum class Copy_Answer { kFound, kMissing, kNotReady };

// Looks `word` up in the copy of the store at `location`: kFound with its
// label in *value (the word itself when `want_word`), kMissing, or
// kNotReady when no copy can answer yet (then ask the store). The first
// call for a location calls `make_source` and starts its watcher.
Copy_Answer Copy_Find(std::string_view location, std::string_view word, bool want_word, std::string *value,
                      const std::function<std::unique_ptr<Copy_Source>()> &make_source);

// Answers from the previous copy of `location` (see above): kFound,
// kMissing, or kNotReady when there is none.
Copy_Answer Copy_Find_Previous(std::string_view location, std::string_view word, bool want_word,
                               std::string *value);

// Held by a watcher around the calls of a source into a library that a
// forked child goes on using (SQLite's own locks), so that no fork happens
// in their middle; a source takes it for short stretches only.
std::mutex &Copies_Fork_Guard();

void Copies_Before_Fork();
void Copies_After_Fork_In_Parent();
void Copies_After_Fork_In_Child();

// Stops the watcher and drops the copy (for the library's shutdown); the
// next lookup starts afresh.
void Copies_Stop();

// What the copy in use holds, for reports: rows and bytes (0 when none).
void Copy_Figures(size_t *rows, size_t *bytes);

}  // namespace karvel

#endif
