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
 * Taking a handle allocates nothing and takes no lock, so taking one per
 * lookup is cheap.
 *
 * Files (in the data directory): "segmenter.vlex", the segmenter lexicon,
 * read by Dict_Init_New; "NAME.vdic", the dictionary NAME, read by
 * Dict_Load_New. Both are compiled by `tesq build-dicts` from plain-text
 * sources (data/README.md). A missing, truncated, damaged or stale (other
 * format version) file, or one that is not a regular file, is a load
 * failure, whose reason Dict_Last_Error gives; nothing is half-loaded. A
 * file is read whole into memory at its load and never looked at again, so
 * changing or replacing it afterwards affects only a later load.
 *
 * Threads: lookups and segmentation may run on any number of threads at
 * once while no thread starts, stops, loads or unloads; the loaded data is
 * never written after loading.
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

/*
 * The part-of-speech tags of KV_Word_Sect that callers test by number: the
 * name recognisers, and the merged names of Tesquin_Search_Essay (21, 22,
 * 23). These numbers never change.
 */
enum {
  VORNEL_TAG_ADJECTIVE = 1,
  VORNEL_TAG_ADVERB = 8,
  VORNEL_TAG_NUMERAL = 18,
  VORNEL_TAG_PERSON = 21,
  VORNEL_TAG_PLACE = 22,
  VORNEL_TAG_ORGANISATION = 23,
  VORNEL_TAG_PREPOSITION = 27,
  VORNEL_TAG_PRONOUN = 29,
  VORNEL_TAG_CONJUNCTION = 37,
  VORNEL_TAG_AUXILIARY = 38,
  VORNEL_TAG_MODAL = 39,
  VORNEL_TAG_INTERJECTION = 40, /* and onomatopoeia */
  VORNEL_TAG_PUNCTUATION = 41,  /* punctuation marks and runs of white space */
  VORNEL_TAG_LETTERS = 42,      /* ASCII words, full-width, Greek, Cyrillic, kana and pinyin letters */
  VORNEL_TAG_UNKNOWN = 43       /* characters the lexicon does not know, malformed bytes, control characters */
};

/*
 * Starts the service: loads the segmenter lexicon. Returns nonzero on
 * success (also when the service is already started), 0 when the lexicon is
 * missing or damaged. The five arguments are the host's setting and sizing
 * hints kept for compatibility; the service sizes itself and ignores them.
 */
VORNEL_API int32_t VORNEL_CALL Dict_Init_New(int32_t setting, int32_t p1, int32_t p2, int32_t p3, int32_t p4);
/*
 * Loads the named dictionary ("NAME.vdic"; NAME is 1 to 64 characters of
 * a-z, 0-9 and _). Returns a handle >= 0, or a handle on the copy already
 * loaded; negative on failure: -2 bad name, -3 missing or damaged file, -4
 * no free slot (16 dictionaries at once), -5 service not started.
 */
VORNEL_API int32_t VORNEL_CALL Dict_Load_New(const char *name, const char *path);
/* A fresh handle on a loaded dictionary; -1 when it is not loaded. */
VORNEL_API int32_t VORNEL_CALL Dict_Get_Handle(const char *name, const char *path);
/*
 * Why the last Dict_Init_New or Dict_Load_New failed: one line naming the
 * file and the reason, e.g. "/data/place.vdic: checksum mismatch, the file is
 * damaged; rebuild the data"; "" when that call succeeded or before any.
 * Never null. The text stays valid, and unchanged by every other call
 * (Free_All_Space included), until the next Dict_Init_New or Dict_Load_New;
 * like them, it must not run while another thread loads.
 */
VORNEL_API const char *VORNEL_CALL Dict_Last_Error(void);
/* Releases a handle (not the dictionary). 0 for a valid handle, -1 otherwise;
 * either way nothing changes. */
VORNEL_API int32_t VORNEL_CALL Dict_Delete_Handle(int32_t handle);
/* Unloads the dictionary the handle refers to; every handle on it becomes
 * stale. 0 on success, -1 for a stale or invalid handle. */
VORNEL_API int32_t VORNEL_CALL Dict_Unload_New(int32_t handle);
/* Unloads every dictionary and the lexicon; every handle becomes stale.
 * Dict_Init_New may be called again afterwards. */
VORNEL_API void VORNEL_CALL Free_All_Space(void);
/* 1 when `word` (GB2312, NUL-terminated) is in the dictionary, 0 when it is
 * not or the handle is -1, stale or invalid. A word whose length or first two
 * bytes no entry has is answered without hashing. */
VORNEL_API int32_t VORNEL_CALL Dict_Search_Word(const char *word, int32_t handle);
/*
 * Writes the word's information string, NUL-terminated, into `info` and
 * returns 1. Otherwise writes at most an empty string (when `info_size` > 0)
 * and returns 0 when the word is absent, the handle is not valid or an
 * argument is null or `info_size` <= 0, and 2 when the word is present but
 * its string and NUL do not fit `info_size` bytes: a string is never cut.
 *
 * An information string is a run of "key:number;" entries; "fund_dic" and
 * "org_dic" hold keys b, i, e (at most 299 bytes), "name_dic" x, dm, ss, sw,
 * fx (at most 99 bytes).
 */
VORNEL_API int32_t VORNEL_CALL Dict_Search_Get_Info(const char *word, int32_t handle, char *info, int32_t info_size);
/*
 * Segments `text` (GB2312) into words. On success returns 1 with
 * word_ends[n] the byte offset just past word n, followed by a 0 entry (tag
 * 0), and tags[n] the part-of-speech tag of word n.
 *
 * `length` is the text's length in bytes and the number of entries each
 * array holds. At most `length` bytes of the text are read, fewer when a NUL
 * comes first; at most `length` entries, the terminating 0 included, are
 * written to each array. When the words do not fit, or the service is not
 * started, or an argument is null or `length` <= 0, the result is 0 (with a
 * lone terminator in the arrays when they exist).
 *
 * Words: Han characters by maximum probability over the lexicon (unknown
 * characters are one-character words); a run of ASCII letters, digits and
 * + # & . _ % - is one word; a run of ASCII white space is one word; every
 * other character, punctuation included, is a word of its own, and so is
 * every byte that does not begin a well-formed GB2312 character.
 *
 * Tags: the numbers of the enumeration VORNEL_TAG_* below (the full table
 * is in data/README.md); the other lexicon tags have numbers of their own.
 *
 * `a` and `b` select the segmentation mode (the word classifier passes -1
 * and 1, the essay front end its caller's values):
 *   - a = VORNEL_QUERY_MODE_A (-1) and b = VORNEL_QUERY_MODE_B (1): query
 *     segmentation, for reading names out of a query word: the person names
 *     of the lexicon that the person recogniser reads from their surname and
 *     given name (李白 as 李 + 白) are cut as if the lexicon lacked them;
 *   - any other values (VORNEL_TEXT_MODE_A, VORNEL_TEXT_MODE_B: 0, 0): text
 *     segmentation, every word of the lexicon whole (李白, tagged 21).
 * p7..p10 (2048, 0, 0, 0) are a buffer-size hint and reserved values, which
 * change nothing.
 */
#define VORNEL_QUERY_MODE_A (-1)
#define VORNEL_QUERY_MODE_B 1
#define VORNEL_TEXT_MODE_A 0
#define VORNEL_TEXT_MODE_B 0
VORNEL_API int32_t VORNEL_CALL KV_Word_Sect(const char *text, int32_t *word_ends, int32_t length, int32_t a,
                                            int32_t b, int16_t *tags, int32_t p7, int32_t p8, int32_t p9,
                                            int32_t p10);

#ifdef __cplusplus
}
#endif

#endif
