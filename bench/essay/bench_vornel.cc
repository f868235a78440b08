#include "bench_vornel.h"

#include <cstring>
#include <string>
#include <unordered_map>

#include "vornel/vornel.h"

namespace bench_vornel {
namespace {

const char *const kNames[] = {"foreign_dic", "name_dic", "org_dic", "fund_dic", "place"};
constexpr int32_t kDictionaries = 5;

std::unordered_map<std::string, std::string> g_words[kDictionaries];
bool g_loaded[kDictionaries];
std::vector<int32_t> g_ends;
std::vector<int16_t> g_tags;

int32_t Index_Of(const char *name) {
  for (int32_t i = 0; i < kDictionaries; ++i)
    if (std::strcmp(name, kNames[i]) == 0) return i;
  return -1;
}

const std::unordered_map<std::string, std::string> *Words(int32_t handle) {
  return handle >= 0 && handle < kDictionaries && g_loaded[handle] ? &g_words[handle] : nullptr;
}

}  // namespace

void Add(const std::string &dictionary, const std::string &word, const std::string &info) {
  const int32_t i = Index_Of(dictionary.c_str());
  if (i >= 0) g_words[i][word] = info;
}

void Script(std::vector<int32_t> ends, std::vector<int16_t> tags) {
  g_ends = std::move(ends);
  g_tags = std::move(tags);
}

}  // namespace bench_vornel

using bench_vornel::g_loaded;

extern "C" {

int32_t Dict_Init_New(int32_t, int32_t, int32_t, int32_t, int32_t) { return 1; }
int32_t Dict_Load_New(const char *name, const char *) {
  const int32_t i = bench_vornel::Index_Of(name);
  if (i >= 0) g_loaded[i] = true;
  return i;
}
int32_t Dict_Get_Handle(const char *name, const char *) {
  const int32_t i = bench_vornel::Index_Of(name);
  return i >= 0 && g_loaded[i] ? i : -1;
}
int32_t Dict_Delete_Handle(int32_t) { return 0; }
int32_t Dict_Unload_New(int32_t handle) {
  if (handle >= 0 && handle < bench_vornel::kDictionaries) g_loaded[handle] = false;
  return 0;
}
void Free_All_Space(void) {}
int32_t Dict_Search_Word(const char *word, int32_t handle) {
  const auto *words = bench_vornel::Words(handle);
  return words != nullptr && words->count(word) ? 1 : 0;
}
int32_t Dict_Search_Get_Info(const char *word, int32_t handle, char *info, int32_t info_size) {
  const auto *words = bench_vornel::Words(handle);
  if (words == nullptr) return 0;
  const auto it = words->find(word);
  if (it == words->end() || static_cast<int32_t>(it->second.size()) + 1 > info_size) return 0;
  std::memcpy(info, it->second.c_str(), it->second.size() + 1);
  return 1;
}
int32_t KV_Word_Sect(const char *, int32_t *word_ends, int32_t length, int32_t, int32_t, int16_t *tags, int32_t,
                     int32_t, int32_t, int32_t) {
  const size_t words = bench_vornel::g_ends.size();
  if (static_cast<int64_t>(words) + 1 > length) return 0;
  std::memcpy(word_ends, bench_vornel::g_ends.data(), words * sizeof(int32_t));
  std::memcpy(tags, bench_vornel::g_tags.data(), words * sizeof(int16_t));
  word_ends[words] = 0;
  tags[words] = 0;
  return 1;
}

}  // extern "C"
