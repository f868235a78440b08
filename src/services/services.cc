#include "services/services.h"

#include <cstring>

#include "karvel/karvel.h"
#include "vornel/vornel.h"

namespace services {

bool Dictionary_Service_Start(int32_t setting) { return Dict_Init_New(setting, 100, 200, 0x80000, 4) != 0; }

int32_t Dictionary_Load(const char *name) {
  const int32_t handle = Dict_Load_New(name, "");
  if (handle >= 0) Dict_Delete_Handle(handle);
  return handle;
}

void Dictionary_Unload(const char *name) {
  const int32_t handle = Dict_Get_Handle(name, "");
  if (handle == -1) return;
  Dict_Unload_New(handle);
  Dict_Delete_Handle(handle);
}

void Dictionary_Service_Free() { Free_All_Space(); }

void Term_Store_Release() { Karvel_CloseIdle(); }

bool Word_Sect(const char *text, int32_t *word_ends, int32_t length, int32_t a, int32_t b, int16_t *tags) {
  return KV_Word_Sect(text, word_ends, length, a, b, tags, 2048, 0, 0, 0) != 0;
}

int32_t Term_Lookup(const char *statement, char *column, int32_t column_size) {
  static const char kLabelColumn[] = "\xB8\xBD\xBC\xD3\xD0\xC5\xCF\xA2";  // 附加信息
  const Karvel_Query query = Karvel_ExecSql(statement);
  std::memset(column, 0, static_cast<size_t>(column_size));
  const int32_t result = Karvel_GetColDataByName(query, kLabelColumn, 0, column, column_size);
  Karvel_CloseQuery(query);
  // Whatever the engine wrote, the label read from the buffer ends inside it.
  column[column_size - 1] = '\0';
  return result;
}

}  // namespace services
