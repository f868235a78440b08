// Placeholder service: knows the five dictionary names but holds no words, and
// cuts text into single characters. Replaced by the real service.
#include "vornel/vornel.h"

#include <cstring>

#include "gb2312.h"

namespace {
const char *const kNames[] = {"foreign_dic", "name_dic", "org_dic", "fund_dic", "place"};
int Name_Index(const char *name) {
  for (int i = 0; i < 5; ++i)
    if (name != nullptr && std::strcmp(name, kNames[i]) == 0) return i;
  return -1;
}
bool g_loaded[5];
}  // namespace

extern "C" {
int32_t Dict_Init_New(int32_t, int32_t, int32_t, int32_t, int32_t) { return 1; }
int32_t Dict_Load_New(const char *name, const char *) {
  const int i = Name_Index(name);
  if (i < 0) return -1;
  g_loaded[i] = true;
  return i;
}
int32_t Dict_Get_Handle(const char *name, const char *) {
  const int i = Name_Index(name);
  return i >= 0 && g_loaded[i] ? i : -1;
}
int32_t Dict_Delete_Handle(int32_t) { return 0; }
int32_t Dict_Unload_New(int32_t handle) {
  if (handle >= 0 && handle < 5) g_loaded[handle] = false;
  return 0;
}
void Free_All_Space(void) {}
int32_t Dict_Search_Word(const char *, int32_t) { return 0; }
int32_t Dict_Search_Get_Info(const char *, int32_t, char *, int32_t) { return 0; }
int32_t KV_Word_Sect(const char *text, int32_t *word_ends, int32_t length, int32_t, int32_t, int16_t *tags,
                     int32_t, int32_t, int32_t, int32_t) {
  if (text == nullptr || word_ends == nullptr || tags == nullptr || length <= 0) return 0;
  const size_t n = strnlen(text, static_cast<size_t>(length));
  int32_t words = 0;
  for (size_t i = 0; i < n;) {
    if (words + 1 >= length) return 0;
    i += gb::Char_Length(text + i, n - i);
    word_ends[words] = static_cast<int32_t>(i);
    tags[words] = 0;
    ++words;
  }
  word_ends[words] = 0;
  tags[words] = 0;
  return 1;
}
}
