// The C surface of libvornel over the dictionary, lexicon and segmenter
// modules.
//
// State: the segmenter lexicon (loaded by Dict_Init_New) and a fixed table of
// dictionary slots. A handle is slot + kSlots * generation, where the
// generation is a counter advanced by every load: a handle names one load of
// one dictionary, so after an unload (or an unload and a new load into the
// same slot) the old handle matches nothing. Handles are plain values: taking
// one allocates nothing and takes no lock, and releasing one does nothing, so
// releasing twice is harmless.
//
// Dict_Search_Word answers a longest-match search from its last walk: the
// first lookup of a word finds which of its prefixes are entries in one pass
// over it (Dictionary::Prefix_Lengths), and a following lookup, on the same
// thread, through the same handle and the same buffer, of a prefix of that
// word is answered from that mask. The walk is per thread and remembers the
// load epoch, so no answer outlives a load or unload.
//
// Each start and load records why it failed (Dict_Last_Error), for a tool
// or host to show; the service itself prints nothing.
//
// Loading, unloading and Free_All_Space change the table; lookups and
// segmentation only read it and the immutable loaded data, so any number of
// them may run at once while nothing is being loaded or unloaded.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "data_dir.h"
#include "dictionary.h"
#include "lexicon.h"
#include "segmenter.h"
#include "vornel/vornel.h"

namespace {

constexpr int kSlots = 16;
constexpr size_t kMax_Name = 64;
constexpr int32_t kMax_Generation = (INT32_MAX - kSlots) / kSlots;

constexpr int32_t kLoad_Bad_Name = -2;
constexpr int32_t kLoad_Failed = -3;
constexpr int32_t kLoad_No_Slot = -4;
constexpr int32_t kLoad_No_Service = -5;

struct Slot {
  char name[kMax_Name + 1];
  size_t name_size;  // strlen(name); 0 when the slot is empty
  int32_t generation;  // 0 when the slot is empty
  std::unique_ptr<const vornel::Dictionary> dict;
};

// What a search call needs of a slot, 16 bytes a slot: every lookup starts
// by telling a live handle from a stale one, so this table is all it reads
// before the dictionary itself.
struct Live_Handle {
  int32_t handle = -1;  // Handle_Of the slot while it holds a dictionary, else -1
  const vornel::Dictionary *dict = nullptr;  // owned by the slot; set exactly when handle is
};

struct Service {
  bool initialised = false;
  std::unique_ptr<const vornel::Lexicon> lexicon;
  Slot slots[kSlots] = {};
  Live_Handle live[kSlots];
  // For each first byte of a name, the mask of the loaded slots whose name
  // begins with it: a handle is taken for every single lookup, and this
  // narrows the names compared to one or two.
  uint16_t slots_by_first_byte[256] = {};
  int32_t last_generation = 0;
  // Advanced by every load, unload and Free_All_Space; never wraps.
  uint64_t load_epoch = 1;
  // Why the last start or load failed, "" after one that succeeded. A fixed
  // buffer: recording a failure never allocates, so it cannot fail itself.
  char last_error[4096 + 256] = "";
};

Service g_service;

// The last word this thread looked up with Dict_Search_Word, and which of
// its prefix lengths are entries.
struct Prefix_Walk {
  uint64_t epoch = 0;  // 0: no walk
  int32_t handle = -1;
  const char *word = nullptr;
  size_t size = 0;
  uint64_t lengths = 0;
  char bytes[vornel::kMax_Prefix_Walk];
};

thread_local Prefix_Walk t_walk;

const char *Self() { return reinterpret_cast<const char *>(&g_service); }

// A dictionary name is 1 to 64 characters of [a-z0-9_]: it names a file in
// the data directory and must not reach outside it.
bool Name_Ok(const char *name) {
  if (name == nullptr) return false;
  size_t n = 0;
  for (; name[n] != '\0'; ++n) {
    const char c = name[n];
    if (n >= kMax_Name || !((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return n > 0;
}

// Handles are taken once per lookup, so this runs very often: the names are
// short, the first byte is already matched by the mask, and the stored size
// ends the comparison without testing the stored name for its terminator.
// Reads `name` no further than its first byte that differs from a stored
// name: each byte read follows bytes equal to a stored name's, none of them
// NUL.
inline int Find_Slot(const char *name) {
  for (unsigned mask = g_service.slots_by_first_byte[static_cast<unsigned char>(name[0])]; mask != 0;
       mask &= mask - 1) {
    const int i = __builtin_ctz(mask);
    const Slot &s = g_service.slots[i];
    size_t k = 1;
    while (k < s.name_size && s.name[k] == name[k]) ++k;
    if (k == s.name_size && name[k] == '\0') return i;
  }
  return -1;
}

uint16_t &Slots_Beginning_Like(const Slot &s) {
  return g_service.slots_by_first_byte[static_cast<unsigned char>(s.name[0])];
}

// Empties a slot; its dictionary is released.
void Clear_Slot(int slot) {
  Slot &s = g_service.slots[slot];
  Slots_Beginning_Like(s) &= static_cast<uint16_t>(~(1u << slot));
  ++g_service.load_epoch;
  g_service.live[slot] = Live_Handle{};
  s.dict.reset();
  s.generation = 0;
  s.name[0] = '\0';
  s.name_size = 0;
}

int32_t Handle_Of(int slot) { return g_service.slots[slot].generation * kSlots + slot; }

const vornel::Dictionary *Dict_Of(int32_t handle, int *slot_out = nullptr) {
  if (handle < 0) return nullptr;
  // Every search call starts here: one comparison with the slot's current
  // handle tells a live handle from a stale, forged or released one.
  const int slot = handle & (kSlots - 1);
  const Live_Handle &live = g_service.live[slot];
  if (live.handle != handle) return nullptr;
  if (slot_out != nullptr) *slot_out = slot;
  return live.dict;
}

// Dict_Search_Word past the filters: answered from this thread's last walk
// when `word` is a prefix of the word it looked up, in the same buffer
// through the same handle, with nothing loaded or unloaded since.
__attribute__((noinline)) int32_t Search_Walk(const vornel::Dictionary &d, const char *word, int32_t handle) {
  const size_t size = strnlen(word, vornel::kMax_Prefix_Walk + 1);
  if (size > vornel::kMax_Prefix_Walk) {
    size_t info_size;
    return d.Find_Terminated(word, &info_size) != nullptr ? 1 : 0;
  }
  Prefix_Walk &walk = t_walk;
  if (!(walk.epoch == g_service.load_epoch && walk.handle == handle && walk.word == word && size <= walk.size &&
        std::memcmp(word, walk.bytes, size) == 0)) {
    walk.epoch = g_service.load_epoch;
    walk.handle = handle;
    walk.word = word;
    walk.size = size;
    std::memcpy(walk.bytes, word, size);
    walk.lengths = d.Prefix_Lengths(word, size);
  }
  return (walk.lengths >> size) & 1u;
}

void Set_Error(const char *text) { std::snprintf(g_service.last_error, sizeof g_service.last_error, "%s", text); }

void Unload_All() {
  for (int i = 0; i < kSlots; ++i) Clear_Slot(i);
}

}  // namespace

extern "C" {

int32_t VORNEL_CALL Dict_Init_New(int32_t, int32_t, int32_t, int32_t, int32_t) {
  Set_Error("");
  if (g_service.initialised) return 1;
  try {
    std::string error;
    const std::string path = tesq::Join_Path(tesq::Data_Directory(Self()), "segmenter.vlex");
    std::unique_ptr<vornel::Lexicon> lexicon = vornel::Lexicon::Load(path, &error);
    if (lexicon == nullptr) {
      Set_Error(error.c_str());
      return 0;
    }
    g_service.lexicon = std::move(lexicon);
    g_service.initialised = true;
    return 1;
  } catch (...) {
    Set_Error("the segmenter lexicon could not be loaded: out of memory");
    return 0;
  }
}

int32_t VORNEL_CALL Dict_Load_New(const char *name, const char *) {
  Set_Error("");
  if (!g_service.initialised) {
    Set_Error("the dictionary service is not started");
    return kLoad_No_Service;
  }
  if (!Name_Ok(name)) {
    Set_Error("a dictionary name is 1 to 64 characters of a-z, 0-9 and _");
    return kLoad_Bad_Name;
  }
  const int existing = Find_Slot(name);
  if (existing >= 0) return Handle_Of(existing);
  int free_slot = -1;
  for (int i = 0; i < kSlots && free_slot < 0; ++i)
    if (g_service.slots[i].generation == 0) free_slot = i;
  if (free_slot < 0) {
    Set_Error("no free dictionary slot: 16 dictionaries are loaded");
    return kLoad_No_Slot;
  }
  try {
    std::string error;
    const std::string path =
        tesq::Join_Path(tesq::Data_Directory(Self()), std::string(name) + ".vdic");
    std::unique_ptr<vornel::Dictionary> dict = vornel::Dictionary::Load(path, &error);
    if (dict == nullptr) {
      Set_Error(error.c_str());
      return kLoad_Failed;
    }
    Slot &s = g_service.slots[free_slot];
    g_service.last_generation = g_service.last_generation >= kMax_Generation ? 1 : g_service.last_generation + 1;
    s.generation = g_service.last_generation;
    std::snprintf(s.name, sizeof s.name, "%s", name);
    s.name_size = std::strlen(s.name);
    s.dict = std::move(dict);
    g_service.live[free_slot] = Live_Handle{Handle_Of(free_slot), s.dict.get()};
    Slots_Beginning_Like(s) |= static_cast<uint16_t>(1u << free_slot);
    ++g_service.load_epoch;
    return Handle_Of(free_slot);
  } catch (...) {
    Set_Error("the dictionary could not be loaded: out of memory");
    return kLoad_Failed;
  }
}

const char *VORNEL_CALL Dict_Last_Error(void) { return g_service.last_error; }

int32_t VORNEL_CALL Dict_Get_Handle(const char *name, const char *) {
  // A name equal to a loaded dictionary's is valid: only valid names are
  // ever loaded.
  if (name == nullptr) return -1;
  const int slot = Find_Slot(name);
  return slot < 0 ? -1 : g_service.live[slot].handle;
}

int32_t VORNEL_CALL Dict_Delete_Handle(int32_t handle) { return Dict_Of(handle) != nullptr ? 0 : -1; }

int32_t VORNEL_CALL Dict_Unload_New(int32_t handle) {
  int slot;
  if (Dict_Of(handle, &slot) == nullptr) return -1;
  Clear_Slot(slot);
  return 0;
}

void VORNEL_CALL Free_All_Space(void) {
  Unload_All();
  g_service.lexicon.reset();
  g_service.initialised = false;
}

int32_t VORNEL_CALL Dict_Search_Word(const char *word, int32_t handle) {
  // The common answer, a word no entry can begin like, takes no more than
  // the handle check and the filters on the first four bytes.
  const vornel::Dictionary *d = Dict_Of(handle);
  if (d == nullptr || word == nullptr || d->Rejects_Start(word)) return 0;
  return Search_Walk(*d, word, handle);
}

int32_t VORNEL_CALL Dict_Search_Get_Info(const char *word, int32_t handle, char *info, int32_t info_size) {
  const vornel::Dictionary *d = Dict_Of(handle);
  if (d == nullptr || word == nullptr || info == nullptr || info_size <= 0) return 0;
  size_t size;
  const char *found = d->Find_Terminated(word, &size);
  if (found == nullptr) {
    info[0] = '\0';
    return 0;
  }
  if (size + 1 > static_cast<size_t>(info_size)) {
    info[0] = '\0';
    return 2;
  }
  std::memcpy(info, found, size + 1);
  return 1;
}

int32_t VORNEL_CALL KV_Word_Sect(const char *text, int32_t *word_ends, int32_t length, int32_t a, int32_t b,
                                 int16_t *tags, int32_t, int32_t, int32_t, int32_t) {
  if (text == nullptr || word_ends == nullptr || tags == nullptr || length <= 0) return 0;
  if (g_service.lexicon == nullptr) {
    word_ends[0] = 0;
    tags[0] = 0;
    return 0;
  }
  try {
    const size_t size = strnlen(text, static_cast<size_t>(length));
    const bool query = a == VORNEL_QUERY_MODE_A && b == VORNEL_QUERY_MODE_B;
    const long words = vornel::Segment(*g_service.lexicon, text, size, word_ends, tags,
                                       static_cast<size_t>(length) - 1, true, query);
    if (words < 0) {
      word_ends[0] = 0;
      tags[0] = 0;
      return 0;
    }
    word_ends[words] = 0;
    tags[words] = 0;
    return 1;
  } catch (...) {
    word_ends[0] = 0;
    tags[0] = 0;
    return 0;
  }
}

}  // extern "C"
