#include "data_dir.h"

#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#endif

namespace tesq {

std::string Join_Path(const std::string &dir, const std::string &name) {
  if (dir.empty()) return name;
  const char last = dir.back();
  if (last == '/' || last == '\\') return dir + name;
  return dir + "/" + name;
}

std::string Data_Directory(const void *self) {
  const char *env = std::getenv("TESQ_DATA_DIR");
  if (env != nullptr && env[0] != '\0') return env;
#if defined(_WIN32)
  // Windows: the data lives in "data" beside the DLL.
  HMODULE module = nullptr;
  char path[MAX_PATH];
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCSTR>(self), &module) &&
      GetModuleFileNameA(module, path, sizeof path) > 0) {
    std::string dir(path);
    const size_t slash = dir.find_last_of("\\/");
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
    return Join_Path(dir, "data");
  }
  return "data";
#else
  Dl_info info;
  if (dladdr(self, &info) != 0 && info.dli_fname != nullptr) {
    char *real = realpath(info.dli_fname, nullptr);
    if (real != nullptr) {
      const std::string path(real);
      std::free(real);
      const std::string build_root = TESQ_BUILD_ROOT;
      if (path.compare(0, build_root.size() + 1, build_root + "/") == 0) return TESQ_BUILD_DATADIR;
      // An installed library finds the data relative to itself, so that an
      // installation can be moved or made with another prefix.
      const size_t slash = path.rfind('/');
      if (slash != std::string::npos) {
        const std::string relative = Join_Path(path.substr(0, slash), TESQ_LIBDIR_TO_DATADIR);
        struct stat info_buf;
        if (stat(relative.c_str(), &info_buf) == 0 && S_ISDIR(info_buf.st_mode)) return relative;
      }
    }
  }
  return TESQ_INSTALL_DATADIR;
#endif
}

bool Is_Postgres_Uri(const char *location) {
  return location != nullptr &&
         (std::strncmp(location, "postgresql://", 13) == 0 || std::strncmp(location, "postgres://", 11) == 0);
}

}  // namespace tesq
