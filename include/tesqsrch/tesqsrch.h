/*
 * tesqsrch: query analysis for the search front end of a Chinese literature
 * database.
 *
 * The host passes GB2312 text (NUL-terminated; a byte above 0x80 begins a
 * two-byte character) and learns what kind of search term each word is: a
 * known term of the table 420_DIC, a standard number ("ISBN", "ISSN", "CN",
 * "专利号"), a person, organisation, fund or place name ("人名", "机构名",
 * "基金", "地名"), or a full-text term ("全文"). All labels are GB2312.
 *
 * Lifecycle: call Tesquin_Init once before any search function and
 * Tesquin_UnInit at the end. The search functions are synchronous, keep no
 * state between calls and may run on several threads at once once
 * Tesquin_Init has returned; Tesquin_Init and Tesquin_UnInit must not run
 * while a search runs.
 *
 * Output buffers: every size argument is in bytes, terminator included. When a
 * result does not fit, the size needed (length plus 1) is written back and
 * nothing is copied.
 *
 * Calling convention: TESQ_CALL, __stdcall on 32-bit Windows unless the
 * library was built with TESQ_CDECL; the platform default elsewhere.
 */
#ifndef TESQSRCH_TESQSRCH_H
#define TESQSRCH_TESQSRCH_H

#include <stdint.h>

#if defined(_WIN32) && !defined(TESQ_CDECL)
#define TESQ_CALL __stdcall
#else
#define TESQ_CALL
#endif

#if defined(TESQ_BUILDING_LIBRARY)
#if defined(_WIN32)
#define TESQ_API __declspec(dllexport)
#else
#define TESQ_API __attribute__((visibility("default")))
#endif
#else
#define TESQ_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Initialises the dictionary service and loads the dictionaries
 * "foreign_dic", "name_dic", "org_dic", "fund_dic" and "place"; fills the
 * table of valid CN region codes. `setting` is passed to the dictionary
 * service unchanged.
 *
 * Returns 0 when initialised (now, or already by an earlier call), -1 when the
 * dictionary service failed to start, -2 .. -6 when "foreign_dic",
 * "name_dic", "org_dic", "fund_dic" or "place" (in that order) failed to load.
 * A failed call leaves nothing behind: the dictionaries it loaded before the
 * failing one are unloaded and the dictionary service is stopped, as after
 * Tesquin_UnInit, so the library is not initialised and holds no data. A
 * later call tries again from the start. After Tesquin_UnInit a further
 * Tesquin_Init initialises the library again.
 *
 * The dictionaries and the segmenter lexicon are read into memory and
 * checked by this call and their files are not read again: replacing or
 * changing a file afterwards affects only a later Tesquin_Init.
 */
TESQ_API int32_t TESQ_CALL Tesquin_Init(int32_t setting);

/*
 * Unloads the dictionaries and releases the dictionary service's memory.
 * Always returns 0; does nothing when the library is not initialised.
 */
TESQ_API int32_t TESQ_CALL Tesquin_UnInit(void);

/*
 * Analyses a query of words separated by single spaces and writes an XML
 * document (GB2312) into `output`:
 *
 *   <?xml version="1.0" encoding="gb2312" standalone="yes" ?>\n<IR>\n
 *   <Sentence>QUERY</Sentence>\n<Items>\n
 *   \t<Word p="LABEL">WORD</Word>\n ...
 *   </Items>\n</IR>
 *
 * one Word element per word (an empty word between two spaces included);
 * words without a category are labelled "全文". A word whose leading part
 * alone is a name gives two elements: that part with its label, the rest as
 * "全文". Nothing is escaped. Each word is also traced into the file "as.txt"
 * in the current directory (the word, its label, the classifier's result).
 *
 * `size`: in, the size of `output`; out, the size needed on result 1.
 * Returns 0 (document written), 1 (output too small; *size set, nothing
 * copied) or 2 (a word could not be classified, e.g. segmentation failed;
 * output and *size untouched).
 */
TESQ_API int32_t TESQ_CALL Tesquin_Search(const char *query, char *output, uint32_t *size);

/*
 * Classifies one word and writes its label into `output`.
 *
 * Returns 0 (label written), 1 (classification failed; nothing written),
 * 2 (output too small; *size set to the label's length plus 1, nothing
 * copied) or 3 (no category, or a category for a leading part only; nothing
 * written, no "全文").
 */
TESQ_API int32_t TESQ_CALL Tesquin_Search_Singleword(const char *word, char *output, uint32_t *size);

/*
 * Segments `text` and merges every recognised person, place and organisation
 * name into one word tagged 21, 22 or 23 respectively.
 *
 * `word_ends` and `tags` are the caller's arrays of `count` entries each;
 * `count` is also the text's length in bytes as passed to the segmenter.
 * On return word_ends holds, per word, the byte offset just past its end,
 * followed by a 0 entry; tags holds one tag per word. `a` and `b` are passed
 * to the segmenter unchanged and choose its mode (see vornel.h): 0 and 0
 * segment as text, every word of the lexicon whole (the person names it
 * knows come back whole, tagged 21); -1 and 1 segment as the word classifier
 * does, leaving those names to the person recogniser. Nothing is written
 * beyond `count` entries.
 *
 * Returns 0 (done, names merged, also when none was found), 1 (segmentation
 * failed), 2 (text, word_ends or tags is NULL; nothing written) or 4 (too
 * many names; the arrays hold the plain segmentation).
 */
TESQ_API int32_t TESQ_CALL Tesquin_Search_Essay(const char *text, int32_t *word_ends, int32_t count,
                                                int32_t a, int32_t b, int16_t *tags);

#ifdef __cplusplus
}
#endif

#endif
