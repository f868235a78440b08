/*
 * libvornel: the dictionary service and GB2312 word segmenter used by
 * libtesqsrch.
 *
 * Dictionaries have ASCII names ("foreign_dic", "name_dic", "org_dic",
 * "fund_dic", "place") and are loaded from the data directory (TESQ_DATA_DIR,
 * or the directory the library was built or installed with). The second
 * string argument of the name-taking calls is reserved and always "".
 *
 * Handles are signed 32-bit values; a stale, forged or twice-released handle
 * is harmless: lookups through it find nothing, releasing it does nothing.
 */
#ifndef VORNEL_VORNEL_H
#define VORNEL_VORNEL_H

#include <stdint.h>

#if defined(_WIN32) && !defined(TESQ_CDECL)
#define VORNEL_CALL __stdcall
#else
#define VORNEL_CALL
#endif

#if defined(VORNEL_BUILDING_LIBRARY)
#if defined(_WIN32)
#define VORNEL_API __declspec(dllexport)
#else
#define VORNEL_API __attribute__((visibility("default")))
#endif
#else
#define VORNEL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Starts the service. Returns nonzero on success. */
VORNEL_API int32_t VORNEL_CALL Dict_Init_New(int32_t setting, int32_t p1, int32_t p2, int32_t p3, int32_t p4);
/* Loads the named dictionary. Returns a handle >= 0, negative on failure. */
VORNEL_API int32_t VORNEL_CALL Dict_Load_New(const char *name, const char *path);
/* A fresh handle on a loaded dictionary; -1 when it is not loaded. */
VORNEL_API int32_t VORNEL_CALL Dict_Get_Handle(const char *name, const char *path);
/* Releases a handle (not the dictionary). */
VORNEL_API int32_t VORNEL_CALL Dict_Delete_Handle(int32_t handle);
/* Unloads the dictionary the handle refers to. */
VORNEL_API int32_t VORNEL_CALL Dict_Unload_New(int32_t handle);
/* Releases all of the service's memory; Dict_Init_New may be called again. */
VORNEL_API void VORNEL_CALL Free_All_Space(void);
/* Nonzero when `word` (GB2312, NUL-terminated) is in the dictionary. */
VORNEL_API int32_t VORNEL_CALL Dict_Search_Word(const char *word, int32_t handle);
/*
 * Writes the word's information string, NUL-terminated, into `info` and
 * returns 1. Returns another value, writing nothing useful, when the word is
 * absent or the string does not fit `info_size` bytes.
 */
VORNEL_API int32_t VORNEL_CALL Dict_Search_Get_Info(const char *word, int32_t handle, char *info, int32_t info_size);
/*
 * Segments `text` (GB2312, NUL-terminated) into words. On success returns
 * nonzero with word_ends[n] the byte offset just past word n, followed by a 0
 * entry, and tags[n] the part-of-speech tag of word n. `length` is the text's
 * length in bytes and the number of entries each array holds.
 */
VORNEL_API int32_t VORNEL_CALL KV_Word_Sect(const char *text, int32_t *word_ends, int32_t length, int32_t a,
                                            int32_t b, int16_t *tags, int32_t p7, int32_t p8, int32_t p9,
                                            int32_t p10);

#ifdef __cplusplus
}
#endif

#endif
