// Placeholder engine: an empty term table. Replaced by the SQLite engine.
#include "karvel/karvel.h"

extern "C" {
Karvel_Query Karvel_ExecSql(const char *) { return Karvel_Query{{0, 0, 0}}; }
int32_t Karvel_GetColDataByName(Karvel_Query, const char *, int32_t, char *, int32_t) { return -1; }
int32_t Karvel_CloseQuery(Karvel_Query) { return 0; }
}
