/*
 * libkarvel: the database engine that answers libtesqsrch's SQL statements
 * about the term table 420_DIC.
 *
 * Statements and values are GB2312, NUL-terminated.
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

/* An executed statement; opaque, passed by value, valid until closed. */
typedef struct {
  int32_t w[3];
} Karvel_Query;

/* Runs a statement. A statement that cannot run gives a query with no rows. */
KARVEL_API Karvel_Query KARVEL_CALL Karvel_ExecSql(const char *sql);
/*
 * Copies the named column of the query's first row, NUL-terminated, into
 * `buf` and returns its length (>= 0). Returns a negative value, copying
 * nothing useful, when there is no row, no such column, or the value does not
 * fit `buf_size` bytes. `flags` is reserved (0).
 */
KARVEL_API int32_t KARVEL_CALL Karvel_GetColDataByName(Karvel_Query query, const char *column, int32_t flags,
                                                       char *buf, int32_t buf_size);
/* Releases the query. A stale or already closed query is ignored. */
KARVEL_API int32_t KARVEL_CALL Karvel_CloseQuery(Karvel_Query query);

#ifdef __cplusplus
}
#endif

#endif
