// The library's only door to the dictionary and segmentation service
// (libvornel) and the database engine (libkarvel). Raw handles never leave
// this module; everything else calls these wrappers.
//
// The wrappers add no policy of their own: every call the library makes
// reaches the service exactly as the algorithms describe it (the same calls,
// in the same order, with the same arguments), which is what the fake
// services in the unit tests record and check.
#ifndef TESQ_SERVICES_SERVICES_H
#define TESQ_SERVICES_SERVICES_H

#include <cstdint>

#include "vornel/vornel.h"

namespace services {

// --- lifecycle -------------------------------------------------------------

// Dict_Init_New(setting, 100, 200, 0x80000, 4); true on success.
bool Dictionary_Service_Start(int32_t setting);
// Loads a dictionary by name and releases the handle the load returned.
// Returns the load's result: 0 or more on success, negative on failure.
int32_t Dictionary_Load(const char *name);
// Unloads a dictionary by name when it has a handle; silently skips it when
// it is not loaded.
void Dictionary_Unload(const char *name);
// Free_All_Space().
void Dictionary_Service_Free();

// Lets the database engine close its idle connections (Karvel_CloseIdle),
// so that the library out of use holds no file of the term database open.
void Term_Store_Release();

// --- dictionary lookups ------------------------------------------------------

// One dictionary handle, taken by name for one lookup or one recogniser call
// and released exactly once when the lease ends. The handle is not tested: a
// dictionary that is not loaded gives -1, which the service answers with
// "not present". Inline throughout: a lease is taken for nearly every
// feature lookup of every word of an essay.
class Dict_Lease {
 public:
  explicit Dict_Lease(const char *dictionary_name) : handle_(Dict_Get_Handle(dictionary_name, "")) {}
  ~Dict_Lease() { Dict_Delete_Handle(handle_); }
  Dict_Lease(const Dict_Lease &) = delete;
  Dict_Lease &operator=(const Dict_Lease &) = delete;

  // Dict_Search_Word: true when the word is present. A longest-match search
  // asks it for every prefix length of a text.
  bool Contains(const char *word) const { return Dict_Search_Word(word, handle_) != 0; }
  // Dict_Search_Get_Info: returns the service's result (1 = written).
  int32_t Get_Info(const char *word, char *info, int32_t info_size) const {
    return Dict_Search_Get_Info(word, handle_, info, info_size);
  }

 private:
  int32_t handle_;
};

// --- segmentation ------------------------------------------------------------

// KV_Word_Sect(text, word_ends, length, a, b, tags, 2048, 0, 0, 0); true on
// success.
bool Word_Sect(const char *text, int32_t *word_ends, int32_t length, int32_t a, int32_t b, int16_t *tags);

// --- term table ----------------------------------------------------------------

// Runs `statement` through Karvel_ExecSql, reads the column 附加信息 into the
// 128-byte `column` buffer (cleared first) with Karvel_GetColDataByName, and
// closes the query with Karvel_CloseQuery before the result is looked at.
// Returns Karvel_GetColDataByName's result: 0 or more when the value was
// written, negative when there is none.
int32_t Term_Lookup(const char *statement, char *column, int32_t column_size);

}  // namespace services

#endif
