// A driver for the fuzz targets in builds without libFuzzer: runs the target
// once on every file named on the command line, or in a directory named
// there. The ordinary test suite replays the seed corpus and every input that
// once failed, so a fixed fault stays fixed without a fuzzing build.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

namespace {

void Collect(const std::string &path, std::vector<std::string> *files) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    files->push_back(path);
    return;
  }
  DIR *dir = opendir(path.c_str());
  if (dir == nullptr) return;
  while (dirent *e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") Collect(path + "/" + name, files);
  }
  closedir(dir);
}

}  // namespace

int main(int argc, char **argv) {
  // Paths are made absolute first: a target may change directory when it
  // starts.
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    char resolved[PATH_MAX];
    if (realpath(argv[i], resolved) != nullptr) Collect(resolved, &files);
  }
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "no input files\n");
    return 1;
  }
  for (const std::string &file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());  // exactly sized, as the fuzzer hands it
    LLVMFuzzerTestOneInput(copy.data(), copy.size());
  }
  std::printf("replayed %zu inputs\n", files.size());
  return 0;
}
