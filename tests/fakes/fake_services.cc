#include "fake_services.h"

#include <cstring>

#include "gb2312.h"
#include "karvel/karvel.h"
#include "vornel/vornel.h"

namespace fake {
namespace {

Vornel_State g_vornel;
Karvel_State g_karvel;
// Handle -> dictionary name for every outstanding dictionary handle.
std::map<int32_t, std::string> g_handles;
int32_t g_next_handle = 1;
std::map<int32_t, std::string> g_queries;  // query id -> statement
int32_t g_next_query = 1;

const char kStatementHead[] = "select \xB8\xBD\xBC\xD3\xD0\xC5\xCF\xA2 from 420_DIC where \xB4\xCA= ' ";

int32_t New_Handle(const std::string &name) {
  const int32_t handle = g_next_handle++;
  g_handles[handle] = name;
  ++g_vornel.outstanding_handles;
  return handle;
}

const std::map<std::string, std::string> *Dictionary_Of(int32_t handle) {
  auto it = g_handles.find(handle);
  if (it == g_handles.end() || !g_vornel.loaded.count(it->second)) return nullptr;
  return &g_vornel.contents[it->second];
}

std::string Name_Of(int32_t handle) {
  auto it = g_handles.find(handle);
  return it == g_handles.end() ? std::string("?") : it->second;
}

}  // namespace

Vornel_State &Vornel() { return g_vornel; }
Karvel_State &Karvel() { return g_karvel; }

void Reset() {
  g_vornel = Vornel_State();
  g_karvel = Karvel_State();
  g_handles.clear();
  g_queries.clear();
}

void Dictionary_Add(const std::string &dictionary, const std::string &word, const std::string &info) {
  g_vornel.contents[dictionary][word] = info;
  g_vornel.loaded.insert(dictionary);
}

void Segment(const std::string &text, std::vector<int32_t> ends, std::vector<int16_t> tags) {
  g_vornel.segmentations[text] = Segmentation{std::move(ends), std::move(tags)};
}

int Lookup_Count(const std::string &dictionary) {
  int n = 0;
  for (const auto &lookup : g_vornel.lookups) n += lookup.first == dictionary;
  return n;
}

}  // namespace fake

using fake::g_handles;
using fake::g_karvel;
using fake::g_vornel;

extern "C" {

int32_t Dict_Init_New(int32_t setting, int32_t p1, int32_t p2, int32_t p3, int32_t p4) {
  g_vornel.calls.push_back("Dict_Init_New(" + std::to_string(setting) + "," + std::to_string(p1) + "," +
                           std::to_string(p2) + "," + std::to_string(p3) + "," + std::to_string(p4) + ")");
  return g_vornel.init_succeeds ? 1 : 0;
}

int32_t Dict_Load_New(const char *name, const char *path) {
  g_vornel.calls.push_back(std::string("Dict_Load_New(") + name + (path[0] ? ",path" : "") + ")");
  if (g_vornel.failing_loads.count(name)) return -7;
  g_vornel.loaded.insert(name);
  return fake::New_Handle(name);
}

int32_t Dict_Get_Handle(const char *name, const char *path) {
  if (path[0] != '\0') g_vornel.calls.push_back("Dict_Get_Handle with a path");
  const int32_t handle = g_vornel.loaded.count(name) ? fake::New_Handle(name) : -1;
  g_vornel.handle_calls.push_back({"Dict_Get_Handle", std::string(name) + "," + path, handle});
  return handle;
}

int32_t Dict_Delete_Handle(int32_t handle) {
  g_vornel.handle_calls.push_back({"Dict_Delete_Handle", "", handle});
  if (g_handles.erase(handle) == 1) {
    --g_vornel.outstanding_handles;
  } else {
    ++g_vornel.bad_releases;
  }
  return 0;
}

int32_t Dict_Unload_New(int32_t handle) {
  const std::string name = fake::Name_Of(handle);
  g_vornel.calls.push_back("Dict_Unload_New(" + name + ")");
  g_vornel.loaded.erase(name);
  return 0;
}

void Free_All_Space(void) { g_vornel.calls.push_back("Free_All_Space()"); }

int32_t Dict_Search_Word(const char *word, int32_t handle) {
  g_vornel.handle_calls.push_back({"Dict_Search_Word", word, handle});
  g_vornel.lookups.emplace_back(fake::Name_Of(handle), word);
  const auto *dictionary = fake::Dictionary_Of(handle);
  return dictionary != nullptr && dictionary->count(word) ? 1 : 0;
}

int32_t Dict_Search_Get_Info(const char *word, int32_t handle, char *info, int32_t info_size) {
  g_vornel.handle_calls.push_back({"Dict_Search_Get_Info", word, handle});
  g_vornel.lookups.emplace_back(fake::Name_Of(handle), word);
  const auto *dictionary = fake::Dictionary_Of(handle);
  if (dictionary == nullptr) return 0;
  auto it = dictionary->find(word);
  if (it == dictionary->end()) return 0;
  if (static_cast<int32_t>(it->second.size()) + 1 > info_size) return 2;
  std::memcpy(info, it->second.c_str(), it->second.size() + 1);
  return 1;
}

int32_t KV_Word_Sect(const char *text, int32_t *word_ends, int32_t length, int32_t a, int32_t b, int16_t *tags,
                     int32_t p7, int32_t p8, int32_t p9, int32_t p10) {
  ++g_vornel.segment_calls;
  g_vornel.last_segment_args = {length, a, b, p7, p8, p9, p10};
  if (g_vornel.segment_fails) return 0;
  fake::Segmentation result;
  auto it = g_vornel.segmentations.find(text);
  if (it != g_vornel.segmentations.end()) {
    result = it->second;
  } else {
    // Unscripted text: one word per character, tag 0.
    const size_t n = std::strlen(text);
    for (size_t i = 0; i < n;) {
      i += gb::Char_Length(text + i, n - i);
      result.ends.push_back(static_cast<int32_t>(i));
      result.tags.push_back(0);
    }
  }
  // Like the real segmenter, never write beyond `length` entries.
  if (g_vornel.segment_unterminated) {
    if (static_cast<int32_t>(result.ends.size()) > length) return 0;
    for (size_t i = 0; i < result.ends.size(); ++i) {
      word_ends[i] = result.ends[i];
      tags[i] = i < result.tags.size() ? result.tags[i] : 0;
    }
    return 1;
  }
  if (static_cast<int32_t>(result.ends.size()) + 1 > length) return 0;
  for (size_t i = 0; i < result.ends.size(); ++i) {
    word_ends[i] = result.ends[i];
    tags[i] = i < result.tags.size() ? result.tags[i] : 0;
  }
  word_ends[result.ends.size()] = 0;
  tags[result.ends.size()] = 0;
  return 1;
}

Karvel_Query Karvel_ExecSql(const char *sql) {
  g_karvel.calls.push_back("ExecSql");
  g_karvel.statements.push_back(sql);
  const int32_t id = fake::g_next_query++;
  fake::g_queries[id] = sql;
  ++g_karvel.open_queries;
  return Karvel_Query{{id, 0x4B56, 0}};
}

int32_t Karvel_GetColDataByName(Karvel_Query query, const char *column, int32_t flags, char *buf, int32_t buf_size) {
  g_karvel.calls.push_back("GetCol");
  g_karvel.columns.push_back(column);
  auto it = fake::g_queries.find(query.w[0]);
  if (it == fake::g_queries.end() || flags != 0) return -1;
  // Recover the word: the statement is the head, the word with apostrophes
  // doubled, and a closing apostrophe.
  const std::string &sql = it->second;
  const size_t head = sizeof fake::kStatementHead - 1;
  if (sql.compare(0, head, fake::kStatementHead) != 0 || sql.size() < head + 1 || sql.back() != '\'') return -1;
  std::string word;
  for (size_t i = head; i + 1 < sql.size(); ++i) {
    word += sql[i];
    if (sql[i] == '\'') ++i;
  }
  auto term = g_karvel.terms.find(word);
  if (term == g_karvel.terms.end()) return -1;
  if (static_cast<int32_t>(term->second.size()) + 1 > buf_size) return -1;
  std::memcpy(buf, term->second.c_str(), term->second.size() + 1);
  return static_cast<int32_t>(term->second.size());
}

int32_t Karvel_CloseIdle(void) {
  ++g_karvel.close_idle_calls;
  return 0;
}

int32_t Karvel_CloseQuery(Karvel_Query query) {
  g_karvel.calls.push_back("Close");
  if (fake::g_queries.erase(query.w[0]) == 1) --g_karvel.open_queries;
  return 0;
}

}  // extern "C"
