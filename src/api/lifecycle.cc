// Tesquin_Init / Tesquin_UnInit: they alone write the library's state (the
// initialised flag and the table of valid CN region codes, core/).
#include <mutex>

#include "api/exports.h"
#include "core/library_state.h"
#include "services/services.h"

namespace {

// Init and shut-down are serialised against each other; searches never take
// this lock.
std::mutex g_lifecycle_mutex;

// Load order and the Tesquin_Init code of each dictionary's failure.
struct Dictionary_Entry {
  const char *name;
  int32_t failure_code;
};
const Dictionary_Entry kDictionaries[] = {
    {"foreign_dic", -2}, {"name_dic", -3}, {"org_dic", -4}, {"fund_dic", -5}, {"place", -6},
};
// Unload order.
const char *const kUnloadOrder[] = {"fund_dic", "org_dic", "name_dic", "foreign_dic", "place"};

// Unloads the five dictionaries (those loaded; the others are skipped) and
// stops the dictionary service.
void Release_Dictionaries() {
  for (const char *name : kUnloadOrder) services::Dictionary_Unload(name);
  services::Dictionary_Service_Free();
}

}  // namespace

int32_t Lifecycle_Init(int32_t setting) {
  std::lock_guard<std::mutex> lock(g_lifecycle_mutex);
  if (Library_Initialised) return 0;
  if (!services::Dictionary_Service_Start(setting)) return -1;
  for (const Dictionary_Entry &dictionary : kDictionaries) {
    if (services::Dictionary_Load(dictionary.name) < 0) {
      // A host that gives up after a failure must not keep the dictionaries
      // that did load for the rest of its life; a later call starts afresh.
      Release_Dictionaries();
      return dictionary.failure_code;
    }
  }
  Region_Table_Fill();
  Library_Initialised = 1;
  return 0;
}

int32_t Lifecycle_UnInit() {
  std::lock_guard<std::mutex> lock(g_lifecycle_mutex);
  // The term database's idle connections are closed whatever the state:
  // searches may have run without a successful Tesquin_Init.
  services::Term_Store_Release();
  if (!Library_Initialised) return 0;
  Release_Dictionaries();
  Library_Initialised = 0;
  return 0;
}
