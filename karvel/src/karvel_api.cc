// The C surface of libkarvel: five calls over the statement parser, the term
// store and the query table. No exception leaves these functions; a failure
// of any kind is an empty query or a negative result.
#include <cstring>
#include <new>
#include <string>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include "karvel/karvel.h"
#include "query_table.h"
#include "statement.h"
#include "term_store.h"

namespace {

// Statements longer than this are refused without being read further.
constexpr size_t kMaxStatementLength = 1u << 20;

}  // namespace

extern "C" {

KARVEL_API Karvel_Query KARVEL_CALL Karvel_ExecSql(const char *sql) {
  if (sql == nullptr) return karvel::Query_Empty();
  try {
    const size_t length = strnlen(sql, kMaxStatementLength + 1);
    if (length > kMaxStatementLength) return karvel::Query_Empty();
    // Plain locals: a thread-exit destructor is what a DLL must not have
    // (see term_store.cc), and the parts of a statement are short enough to
    // stay inside their strings without allocating.
    karvel::Lookup_Statement statement;
    if (!karvel::Statement_Parse(std::string_view(sql, length), &statement)) return karvel::Query_Empty();
    std::string value;
    const char *column = nullptr;
    if (!karvel::Term_Find(statement, &value, &column)) return karvel::Query_Empty();
    return karvel::Query_Open(column, value);
  } catch (...) {
    return karvel::Query_Empty();
  }
}

KARVEL_API int32_t KARVEL_CALL Karvel_GetColDataByName(Karvel_Query query, const char *column, int32_t flags,
                                                       char *buf, int32_t buf_size) {
  (void)flags;  // reserved
  try {
    return karvel::Query_Read(query, column, buf, buf_size);
  } catch (...) {
    return karvel::kNoRow;
  }
}

KARVEL_API int32_t KARVEL_CALL Karvel_CloseQuery(Karvel_Query query) {
  try {
    return karvel::Query_Close(query);
  } catch (...) {
    return -1;
  }
}

KARVEL_API int32_t KARVEL_CALL Karvel_CloseIdle(void) {
  try {
    karvel::Term_Store_Release();
  } catch (...) {
  }
  return 0;
}

KARVEL_API int32_t KARVEL_CALL Karvel_CopyState(void) {
  try {
    return karvel::Term_Copy_State();
  } catch (...) {
    // No watcher could be started (no memory, no thread): lookups go to
    // the store, as after a failed read.
    return KARVEL_COPY_FAILED;
  }
}

#ifdef _WIN32
// Unloaded by FreeLibrary (`reserved` is null): the idle connections are
// closed, so that no library out of use holds the database file open. At
// the end of the process (`reserved` set) the other threads have already
// been stopped wherever they were, possibly inside the pool or SQLite, so
// nothing is touched then.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    try {
      karvel::Term_Store_Close_Idle();
    } catch (...) {
    }
  }
  return TRUE;
}
#endif

}  // extern "C"
