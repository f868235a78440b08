#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "dictionary.h"
#include "gb2312.h"
#include "platform.h"
#include "lexicon.h"
#include "tags.h"
#include "vornel/vornel.h"

namespace vornel_test {

vornel::Blob Make_Lexicon(const std::vector<Word_Spec> &words, uint64_t total) {
  std::vector<vornel::Lexicon_Word> list;
  for (const Word_Spec &w : words) {
    const std::string g = Gb(w.word);
    vornel::Lexicon_Word lw;
    for (size_t i = 0; i + 1 < g.size(); i += 2) {
      const int code = vornel::Han_Code(static_cast<unsigned char>(g[i]), static_cast<unsigned char>(g[i + 1]));
      EXPECT_GE(code, 0) << w.word;
      lw.codes.push_back(static_cast<uint16_t>(code));
    }
    lw.frequency = w.frequency;
    lw.tag = vornel::Tag_Number(w.tag);
    lw.apart = w.apart;
    list.push_back(lw);
  }
  vornel::Blob blob;
  std::string error;
  EXPECT_TRUE(vornel::Compile_Lexicon(list, total, &blob, &error)) << error;
  return blob;
}

vornel::Blob Make_Dictionary(const std::vector<std::pair<std::string, std::string>> &entries) {
  std::vector<std::pair<std::string, std::string>> gb_entries;
  for (const auto &e : entries) gb_entries.emplace_back(Gb(e.first), e.second);
  vornel::Blob blob;
  std::string error;
  EXPECT_TRUE(vornel::Compile_Dictionary(gb_entries, &blob, &error)) << error;
  return blob;
}

void Write_Blob(const std::string &path, const vornel::Blob &blob) {
  std::string error;
  ASSERT_TRUE(vornel::Write_File_Atomic(path, blob.Data(), blob.Size(), &error)) << error;
}

std::string Read_Bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write_Bytes(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string Temp_Dir(const std::string &tag) {
  namespace fs = std::filesystem;
  static int counter = 0;
  const fs::path dir = fs::temp_directory_path() /
                       ("vornel_test_" + tag + "_" + std::to_string(tesq::Process_Id()) + "_" + std::to_string(counter++));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

Cut Segment_C(const std::string &gbtext, int32_t length, int32_t a, int32_t b) {
  if (length < 0) length = static_cast<int32_t>(gbtext.size()) + 1;
  // Guard entries after the arrays catch any write past `length`.
  const int kGuard = 4;
  std::vector<int32_t> ends(static_cast<size_t>(length) + kGuard, 0x5A5A5A5A);
  std::vector<int16_t> tags(static_cast<size_t>(length) + kGuard, 0x5A5A);
  Cut cut;
  cut.ok = KV_Word_Sect(gbtext.c_str(), ends.data(), length, a, b, tags.data(), 2048, 0, 0, 0);
  for (int k = 0; k < kGuard; ++k) {
    EXPECT_EQ(ends[static_cast<size_t>(length) + k], 0x5A5A5A5A) << "word-end array written past its length";
    EXPECT_EQ(tags[static_cast<size_t>(length) + k], 0x5A5A) << "tag array written past its length";
  }
  if (!cut.ok) return cut;
  int32_t start = 0;
  for (int32_t k = 0; k < length && ends[k] != 0; ++k) {
    EXPECT_GT(ends[k], start);
    cut.words.push_back(gbtext.substr(start, ends[k] - start));
    cut.tags.push_back(tags[k]);
    start = ends[k];
  }
  return cut;
}

}  // namespace vornel_test
