// The open queries behind Karvel_Query handles.
//
// A handle is three 32-bit words: the slot number plus one (0 is the empty
// query, which has no row), the slot's generation, and a check word mixed from
// both with a per-process salt. Closing a query frees its slot and advances
// the generation, so a closed handle no longer matches even after the slot
// has been reused; a forged handle fails the range, generation or check test.
// Either way it has no row and closing it does nothing.
//
// Only statements that found a row take a slot; the others return the empty
// query. The table is shared by all threads (a handle may be read and closed
// on another thread than the one that made it) and guarded by one mutex.
#ifndef KARVEL_SRC_QUERY_TABLE_H
#define KARVEL_SRC_QUERY_TABLE_H

#include <cstdint>
#include <string_view>

#include "karvel/karvel.h"

namespace karvel {

// At most this many queries are open at once; past it a statement that found
// a row returns the empty query (a caller that never closes its queries runs
// out of them rather than out of memory).
constexpr uint32_t kMaxOpenQueries = 1u << 16;

// Held still while the process forks (pthread_atfork handlers, see
// term_store.cc), so that a child forked while another thread opens, reads
// or closes a query finds the table's mutex free.
void Queries_Before_Fork();
void Queries_After_Fork();

// The empty query: no row.
Karvel_Query Query_Empty();

// Opens a query holding one row with one column: `column` (GB2312 name) and
// its `value` (GB2312). Returns the empty query when the table is full.
Karvel_Query Query_Open(std::string_view column, std::string_view value);

// Copies the value of `column` of an open query into buf (NUL-terminated) and
// returns its length. Negative results: kNoRow (empty, closed or forged
// handle), kNoColumn (the query has no such column), kNoRoom (the value and
// its terminator do not fit buf_size bytes, or buf is null). On a negative
// result buf, when it has room, holds the empty string.
constexpr int32_t kNoRow = -1;
constexpr int32_t kNoColumn = -2;
constexpr int32_t kNoRoom = -3;
int32_t Query_Read(Karvel_Query query, const char *column, char *buf, int32_t buf_size);

// Closes an open query: 0. An empty, closed or forged handle is left alone: -1.
int32_t Query_Close(Karvel_Query query);

}  // namespace karvel

#endif
