// Writes the seed inputs of fuzz_dict_loader into the directory given: small
// dictionaries and lexicons compiled by vornel_core, each both as a whole
// file (modes 0, 1) and as header counts plus payload (modes 2, 3).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dictionary.h"
#include "format.h"
#include "lexicon.h"

namespace {

bool Write(const std::string &path, uint8_t mode, const vornel::Blob &blob, bool split) {
  std::string bytes(1, static_cast<char>(mode));
  const char *data = reinterpret_cast<const char *>(blob.Data());
  if (split) {
    vornel::File_Header h;
    std::memcpy(&h, data, sizeof h);
    bytes.append(reinterpret_cast<const char *>(&h.count), 4);
    bytes.append(reinterpret_cast<const char *>(&h.aux1), 4);
    bytes.append(reinterpret_cast<const char *>(&h.aux2), 4);
    bytes.append(data + vornel::kHeader_Size, blob.Size() - vornel::kHeader_Size);
  } else {
    bytes.append(data, blob.Size());
  }
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_make_loader_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::string error;
  // 王 (CD F5), 张三 (D5 C5 C8 FD), 北京 (B1 B1 BE A9): entries with the
  // information strings the name and organisation dictionaries carry.
  const std::vector<std::pair<std::string, std::string>> entries = {
      {"\xCD\xF5", "x:12;dm:3;ss:1;"},
      {"\xD5\xC5\xC8\xFD", "b:0.5;i:0.25;e:0.125;"},
      {"\xB1\xB1\xBE\xA9", "sw:7;fx:2;"},
  };
  vornel::Blob dict;
  if (!vornel::Compile_Dictionary(entries, &dict, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const std::vector<vornel::Lexicon_Word> words = {
      {{static_cast<uint16_t>(vornel::Han_Code(0xB1, 0xB1)), static_cast<uint16_t>(vornel::Han_Code(0xBE, 0xA9))},
       50, 22},
      {{static_cast<uint16_t>(vornel::Han_Code(0xB1, 0xB1))}, 20, 3},
      {{static_cast<uint16_t>(vornel::Han_Code(0xCD, 0xF5))}, 10, 21},
  };
  vornel::Blob lexicon;
  if (!vornel::Compile_Lexicon(words, 100, &lexicon, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const bool ok = Write(dir + "/dictionary_file", 0, dict, false) && Write(dir + "/lexicon_file", 1, lexicon, false) &&
                  Write(dir + "/dictionary_payload", 2, dict, true) &&
                  Write(dir + "/lexicon_payload", 3, lexicon, true);
  return ok ? 0 : 1;
}
