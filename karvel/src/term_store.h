// The term table 420_DIC in an SQLite database file.
//
// Storage: the table "420_DIC" with the text columns "词" (the word, unique,
// the table's key) and "附加信息" (the label), both UTF-8, so that any SQLite
// tool can read and edit the file. Karvel converts words to UTF-8 on the way
// in and values back to GB2312 on the way out.
//
// Where: the file named by TESQ_DB; when that is unset or empty, "terms.db"
// in TESQ_DATA_DIR; when that is unset too, "terms.db" in the data directory
// that belongs to this library (the build tree's or the installed one).
// Both variables are read on every lookup, so a changed setting takes effect
// at the next word; a file replaced under the same name (a new device or
// inode) is reopened as well.
//
// Connections: a pool of read-only connections, each holding its prepared
// lookup statements for reuse. A lookup takes an idle connection, or opens a
// new one when every connection is in use, and gives it back when done;
// nothing is left to clean up when a thread ends. Up to 32 idle connections
// are kept; they are closed by Karvel_CloseIdle (libtesqsrch's UnInit) and
// when the library is unloaded. Opening never creates a file. Each lookup is one
// search of the word's index; nothing of the caller's statement is ever
// executed as SQL, the word is bound as a parameter.
//
// Only a regular file is opened (a FIFO would block the lookup), and only one
// in rollback-journal mode: the header is read first, and a WAL database is
// refused, since SQLite would create its -wal and -shm files even for a
// read-only connection. A file written in place is opened afresh, so that a
// change of mode is seen. A reader never creates, writes or rolls back
// anything; a hot journal left by an interrupted writer is reported with
// what to do.
//
// Failures: a missing, unreadable, corrupt or locked database, or one without
// the table or its columns, or one of the above, answers "no row" for every
// word; a failed lookup closes its connection, so the next one starts afresh
// and answers as soon as the cause is gone. A stored label that is empty or
// holds what the query document cannot carry (term_text.h) is no row for its
// word. Each distinct failure (database file and reason) is reported once
// per process on stderr, as one line beginning "karvel: ".
#ifndef KARVEL_SRC_TERM_STORE_H
#define KARVEL_SRC_TERM_STORE_H

#include <cstdint>
#include <string>

#include "statement.h"

namespace karvel {

// The column names Karvel knows, GB2312.
extern const char kWordColumnGb[];   // 词
extern const char kLabelColumnGb[];  // 附加信息

// Runs a parsed lookup on a connection of the pool. Returns true and
// sets *value (GB2312) and *column (the selected column's GB2312 name) when
// the word has a row whose selected value is not NULL and is representable in
// GB2312 without a NUL byte; false otherwise (no such row, a statement about
// another table or column, a word that cannot be in the table, no database).
bool Term_Find(const Lookup_Statement &statement, std::string *value, const char **column);

// Closes the idle connections (lookups running meanwhile keep theirs and
// give them back as usual). For the library's unloading.
void Term_Store_Close_Idle();

// For a caller done with the store for now (Karvel_CloseIdle): stops the
// copy's watcher, waiting for its thread, drops the copy and closes the idle
// connections. The next lookup starts afresh.
void Term_Store_Release();

// Starts the copy of the store the configuration names (as a lookup would)
// and answers its state: one of the KARVEL_COPY_* codes of karvel.h.
int32_t Term_Copy_State();

}  // namespace karvel

#endif
