// Scriptable stand-ins for libvornel and libkarvel, linked into the unit
// tests in place of the real service libraries. They define the same C
// functions, record every call, count outstanding handles and queries, and
// answer from tables the test fills in.
#ifndef TESQ_TESTS_FAKE_SERVICES_H
#define TESQ_TESTS_FAKE_SERVICES_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fake {

struct Segmentation {
  std::vector<int32_t> ends;  // word ends, without the terminating 0
  std::vector<int16_t> tags;  // one per word
};

// One call that takes, uses or releases a dictionary handle, in the order
// made: "Dict_Get_Handle" (argument: the name and the second string, joined
// by a comma; handle: the one returned), "Dict_Search_Word" and
// "Dict_Search_Get_Info" (argument: the word), "Dict_Delete_Handle".
struct Handle_Call {
  std::string call;
  std::string argument;
  int32_t handle;
};

struct Vornel_State {
  // Dictionary service.
  bool init_succeeds = true;
  std::set<std::string> failing_loads;                                 // names whose load fails
  std::map<std::string, std::map<std::string, std::string>> contents;  // name -> word -> info
  std::set<std::string> loaded;
  std::vector<std::string> calls;  // lifecycle calls, e.g. "Dict_Load_New(org_dic)"
  std::vector<std::pair<std::string, std::string>> lookups;  // (dictionary, word) per search call
  std::vector<Handle_Call> handle_calls;
  int outstanding_handles = 0;
  int bad_releases = 0;  // releases of handles that were not outstanding

  // Segmenter.
  bool segment_fails = false;
  // A faulty segmenter: reports success but writes the scripted words with
  // no terminating 0 entry (still never beyond `length` entries).
  bool segment_unterminated = false;
  std::map<std::string, Segmentation> segmentations;  // text -> scripted result
  int segment_calls = 0;
  std::vector<int32_t> last_segment_args;  // length, a, b, p7, p8, p9, p10
};

struct Karvel_State {
  std::map<std::string, std::string> terms;  // word -> label (GB2312)
  std::vector<std::string> statements;
  std::vector<std::string> calls;  // "ExecSql", "GetCol", "Close" in order
  std::vector<std::string> columns;
  int open_queries = 0;
  int close_idle_calls = 0;  // Karvel_CloseIdle
};

Vornel_State &Vornel();
Karvel_State &Karvel();

// Clears both services' scripts and records.
void Reset();

// Puts a word with its information string into a dictionary and marks the
// dictionary loaded.
void Dictionary_Add(const std::string &dictionary, const std::string &word, const std::string &info);

// Scripts the segmentation of `text`: word ends and tags.
void Segment(const std::string &text, std::vector<int32_t> ends, std::vector<int16_t> tags);

// Number of lookups (search calls of any kind) made in `dictionary`.
int Lookup_Count(const std::string &dictionary);

}  // namespace fake

#endif
