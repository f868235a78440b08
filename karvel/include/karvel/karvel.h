/*
 * libkarvel: the database engine that answers libtesqsrch's SQL statements
 * about the term table 420_DIC.
 *
 * Statements and values are GB2312, NUL-terminated.
 *
 * The table lives in an SQLite database file: table "420_DIC", columns "词"
 * (the word, the table's key) and "附加信息" (the label), stored as UTF-8 so
 * that any SQLite tool can read and edit it; `tesq terms import` and
 * `tesq terms export` maintain it. The file is the one named by TESQ_DB;
 * when that is unset or empty, "terms.db" in TESQ_DATA_DIR; when that is
 * unset too, "terms.db" in the library's data directory. Both variables are
 * read at every statement, and a file replaced under the same name is
 * reopened. The database is opened read-only and never created. A TESQ_DB
 * of the form "postgresql://..." or "postgres://..." names a PostgreSQL
 * database with the same table instead (karvel/schema/postgresql.sql).
 *
 * Lookups answer from a copy of the table in memory, read in the background
 * after the first statement and read again within a second of a change of
 * the table (until it is ready, and with TESQ_DB_COPY=0, they go to the
 * database). A PostgreSQL table's old copy answers until the new one is
 * read; a changed database file answers itself meanwhile. A table whose
 * changes cannot be followed (its counter row missing or doubled, the table
 * or a column renamed or dropped) is reported, and lookups go to it. No
 * statement waits for a read of the table. A process forked after lookups
 * have begun goes on with its copy and watches the table by itself.
 * Karvel_CopyState starts the read without a statement and tells when the
 * copy answers.
 *
 * Statements: one form only, a lookup of one word,
 *
 *   select 附加信息 from 420_DIC where 词= ' WORD'
 *
 * (keywords in any ASCII case, blanks between the parts, identifiers bare or
 * quoted with "", [] or ``, an apostrophe inside WORD doubled, an optional
 * final ";"; the column selected may also be 词). One blank at the start of
 * the quoted value is not part of the word. The word is bound to a prepared
 * statement of Karvel's own; nothing of the statement is run as SQL. Any
 * other statement, and a word that is not GB2312 text, finds no row.
 *
 * Failures: a missing, unreadable, corrupt or locked database (when no copy
 * of it answers), one without
 * the table, anything that is not a regular file (never opened, so a FIFO
 * cannot block a statement), a database in WAL mode (a reader would have to
 * create its -wal and -shm files) and one with a hot journal left by an
 * interrupted writer (a reader cannot roll it back) find no row for every
 * word; a stored label that is empty or holds a control character or one
 * of " < > & is no row for its word. Each distinct failure is reported once
 * per process on stderr, in a line beginning "karvel: " that says what to
 * do; a failed lookup closes its connection, so lookups answer again as
 * soon as the cause is gone. A PostgreSQL server that is down, stalled or
 * refuses the connection costs a statement at most TESQ_DB_TIMEOUT_MS (200
 * ms by default) and finds no row unless the copy answers; each outage and
 * its end are reported once.
 *
 * Threads: the calls may be made from any number of threads at once. A
 * statement takes an idle read-only connection from a pool (or opens one)
 * and gives it back; at most 32 idle connections are kept, and
 * Karvel_CloseIdle closes them. A query may be read and closed on another
 * thread than the one that ran it.
 */
#ifndef KARVEL_KARVEL_H
#define KARVEL_KARVEL_H

#include <stdint.h>

#if defined(_WIN32) && !defined(TESQ_CDECL)
#define KARVEL_CALL __stdcall
#else
#define KARVEL_CALL
#endif

#if defined(KARVEL_BUILDING_LIBRARY)
#if defined(_WIN32)
#define KARVEL_API __declspec(dllexport)
#else
#define KARVEL_API __attribute__((visibility("default")))
#endif
#else
#define KARVEL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * An executed statement; opaque, passed by value, valid until closed. A
 * statement that found no row gives the empty query (all zero), which needs
 * no closing. Closed, stale and forged queries are recognised and ignored.
 * At most 65536 queries are open at once; past that a statement gives the
 * empty query.
 */
typedef struct {
  int32_t w[3];
} Karvel_Query;

/* Runs a statement. A statement that cannot run gives a query with no rows.
 * A NULL statement is one that cannot run. */
KARVEL_API Karvel_Query KARVEL_CALL Karvel_ExecSql(const char *sql);
/*
 * Copies the named column of the query's first row, NUL-terminated, into
 * `buf` and returns its length (>= 0). Returns a negative value, copying
 * nothing useful, when there is no row, no such column, or the value does not
 * fit `buf_size` bytes. `flags` is reserved (0).
 *
 * Negative results: -1 no row (also for a closed, stale or forged query);
 * -2 the query has no column of that name (GB2312, exact); -3 `buf` is NULL
 * or the value and its terminator do not fit `buf_size` bytes. A value is
 * never truncated; on a negative result `buf`, when it has room, holds the
 * empty string. A stored value that is NULL, holds a NUL byte or has no
 * GB2312 form is no row. The query may be read any number of times.
 */
KARVEL_API int32_t KARVEL_CALL Karvel_GetColDataByName(Karvel_Query query, const char *column, int32_t flags,
                                                       char *buf, int32_t buf_size);
/* Releases the query: 0. A stale or already closed query (and the empty
 * one) is ignored: -1. */
KARVEL_API int32_t KARVEL_CALL Karvel_CloseQuery(Karvel_Query query);
/*
 * Closes the database connections not in use, so that no file of the term
 * database stays open (on Windows an open file cannot be replaced); a
 * statement running meanwhile keeps its connection and closes it when done
 * if no more are kept. It also stops the thread that watches the table and
 * frees the copy in memory. Later statements open connections and read the
 * copy again. Returns 0. For a caller that is done with the engine for now
 * (libtesqsrch calls it from Tesquin_UnInit).
 */
KARVEL_API int32_t KARVEL_CALL Karvel_CloseIdle(void);

/* The states of the copy in memory, as Karvel_CopyState answers them. */
#define KARVEL_COPY_READY 0   /* lookups answer from the copy */
#define KARVEL_COPY_READING 1 /* the copy is being read; lookups go to the database meanwhile */
#define KARVEL_COPY_OFF 2     /* nothing is copied (TESQ_DB_COPY=0, or a build without copies) */
#define KARVEL_COPY_FAILED 3  /* the last read gave no copy; lookups go to the database */

/*
 * Starts reading the copy of the term database that lookups would use now
 * (TESQ_DB, TESQ_DATA_DIR and TESQ_DB_COPY read as a statement reads them),
 * unless it is read or being read already, and answers how far it is:
 *
 *   KARVEL_COPY_READY    a statement run now is answered from the copy;
 *   KARVEL_COPY_READING  its read runs: statements go to the database;
 *   KARVEL_COPY_FAILED   the database could not be read whole (down,
 *                        refused, missing or damaged, or a table whose
 *                        changes cannot be followed; reported on stderr
 *                        as statements report it): statements go to the
 *                        database and answer as it allows, and the read is
 *                        tried again in the background, so a later call
 *                        may answer READY;
 *   KARVEL_COPY_OFF      nothing is copied: statements always go to the
 *                        database.
 *
 * Never waits for the read: a caller that wants lookups answered from the
 * copy asks again until it is READY (or FAILED or OFF), bounding the wait
 * itself. Any number of calls start one read; a later statement goes on
 * with the same copy. Karvel_CloseIdle drops the copy, and the next call or
 * statement starts afresh. Safe from any thread. In a process that forks,
 * call it in the child that is to look up (a parent that never looks up
 * starts no thread).
 */
KARVEL_API int32_t KARVEL_CALL Karvel_CopyState(void);

#ifdef __cplusplus
}
#endif

#endif
