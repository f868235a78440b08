// The C surface: service start and shut-down, dictionary handles, lookups,
// the information-string fit rule, damaged files, and the bounds of
// KV_Word_Sect. Each test writes its own data directory.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform.h"
#include "test_support.h"
#include "vornel/vornel.h"

namespace {

using vornel_test::Gb;

const char *const kNames[] = {"foreign_dic", "name_dic", "org_dic", "fund_dic", "place"};

class Service : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = vornel_test::Temp_Dir("service");
    vornel_test::Write_Blob(dir_ + "/segmenter.vlex",
                            vornel_test::Make_Lexicon({{"北京", 3000, "ns"}, {"大学", 2000, "n"}, {"的", 9000, "uj"}},
                                                      100000));
    for (const char *name : kNames)
      vornel_test::Write_Blob(dir_ + "/" + name + ".vdic",
                              vornel_test::Make_Dictionary({{"北京", "f:1;"}, {"王", "x:0.6;fx:0.3;"}}));
    tesq::Set_Environment("TESQ_DATA_DIR", dir_.c_str());
    ASSERT_NE(Dict_Init_New(0, 100, 200, 0x80000, 4), 0);
  }
  void TearDown() override {
    Free_All_Space();
    tesq::Set_Environment("TESQ_DATA_DIR", nullptr);
  }
  std::string dir_;
};

TEST_F(Service, HandlesOfLoadedAndUnloadedDictionaries) {
  EXPECT_EQ(Dict_Get_Handle("place", ""), -1);
  const int32_t loaded = Dict_Load_New("place", "");
  ASSERT_GE(loaded, 0);
  const int32_t h = Dict_Get_Handle("place", "");
  EXPECT_EQ(h, loaded);
  EXPECT_EQ(Dict_Search_Word(Gb("北京").c_str(), h), 1);
  EXPECT_EQ(Dict_Search_Word(Gb("上海").c_str(), h), 0);
  EXPECT_EQ(Dict_Delete_Handle(h), 0);
  EXPECT_EQ(Dict_Delete_Handle(h), 0);  // releasing twice is harmless
  EXPECT_EQ(Dict_Search_Word(Gb("北京").c_str(), Dict_Get_Handle("place", "")), 1);
  // Loading again gives the same dictionary.
  EXPECT_EQ(Dict_Load_New("place", ""), loaded);
  EXPECT_EQ(Dict_Get_Handle("name_dic", ""), -1);
  EXPECT_EQ(Dict_Get_Handle(nullptr, ""), -1);
  EXPECT_EQ(Dict_Get_Handle("", ""), -1);
  // Only the loaded name itself: not a prefix of it, nor a longer name that
  // begins with it, nor another spelling.
  for (const char *other : {"p", "plac", "places", "place_", "place\xA1", "Place", "./place", "plade"})
    EXPECT_EQ(Dict_Get_Handle(other, ""), -1) << other;
}

// "foreign_dic" and "fund_dic" begin alike: each is found by its own name
// alone, and unloading one leaves the other's handle and lookups as they were.
TEST_F(Service, NamesBeginningAlikeAreTakenApart) {
  const int32_t foreign = Dict_Load_New("foreign_dic", "");
  const int32_t fund = Dict_Load_New("fund_dic", "");
  ASSERT_GE(foreign, 0);
  ASSERT_GE(fund, 0);
  EXPECT_NE(foreign, fund);
  EXPECT_EQ(Dict_Get_Handle("foreign_dic", ""), foreign);
  EXPECT_EQ(Dict_Get_Handle("fund_dic", ""), fund);
  EXPECT_EQ(Dict_Get_Handle("f", ""), -1);
  EXPECT_EQ(Dict_Get_Handle("fund", ""), -1);
  EXPECT_EQ(Dict_Unload_New(foreign), 0);
  EXPECT_EQ(Dict_Get_Handle("foreign_dic", ""), -1);
  EXPECT_EQ(Dict_Get_Handle("fund_dic", ""), fund);
  EXPECT_EQ(Dict_Search_Word(Gb("北京").c_str(), Dict_Get_Handle("fund_dic", "")), 1);
  // Loaded again, it takes a slot and a handle of its own.
  const int32_t again = Dict_Load_New("foreign_dic", "");
  ASSERT_GE(again, 0);
  EXPECT_NE(again, foreign);
  EXPECT_EQ(Dict_Get_Handle("foreign_dic", ""), again);
  EXPECT_EQ(Dict_Get_Handle("fund_dic", ""), fund);
}

// A slot emptied and filled again under a name of another length answers to
// the new name only, whole: neither the old name nor the new one's prefixes.
TEST_F(Service, ASlotRefilledUnderAnotherNameAnswersToThatNameAlone) {
  const int32_t fund = Dict_Load_New("fund_dic", "");
  ASSERT_GE(fund, 0);
  EXPECT_EQ(Dict_Unload_New(fund), 0);
  const int32_t place = Dict_Load_New("place", "");
  ASSERT_GE(place, 0);
  EXPECT_EQ(Dict_Get_Handle("place", ""), place);
  for (const char *other : {"fund_dic", "fund", "f", "p", "plac", "places", "place_dic"})
    EXPECT_EQ(Dict_Get_Handle(other, ""), -1) << other;
  EXPECT_EQ(Dict_Unload_New(place), 0);
  const int32_t fund_again = Dict_Load_New("fund_dic", "");
  ASSERT_GE(fund_again, 0);
  EXPECT_EQ(Dict_Get_Handle("fund_dic", ""), fund_again);
  EXPECT_EQ(Dict_Get_Handle("fund_di", ""), -1);
  EXPECT_EQ(Dict_Get_Handle("place", ""), -1);
}

TEST_F(Service, StaleAndForgedHandlesFindNothing) {
  const int32_t old = Dict_Load_New("org_dic", "");
  ASSERT_GE(old, 0);
  EXPECT_EQ(Dict_Unload_New(old), 0);
  EXPECT_EQ(Dict_Get_Handle("org_dic", ""), -1);
  EXPECT_EQ(Dict_Unload_New(old), -1);  // unloading twice
  char info[64] = "unchanged";
  EXPECT_EQ(Dict_Search_Word(Gb("北京").c_str(), old), 0);
  EXPECT_NE(Dict_Search_Get_Info(Gb("北京").c_str(), old, info, sizeof info), 1);
  // Reloaded into the same slot: the old handle stays stale.
  const int32_t fresh = Dict_Load_New("org_dic", "");
  ASSERT_GE(fresh, 0);
  EXPECT_NE(fresh, old);
  EXPECT_EQ(Dict_Search_Word(Gb("北京").c_str(), old), 0);
  EXPECT_EQ(Dict_Unload_New(old), -1);
  EXPECT_EQ(Dict_Search_Word(Gb("北京").c_str(), fresh), 1);
  const int32_t forged[] = {-1, -2, INT32_MIN, INT32_MAX, fresh + 1, fresh + 16, fresh - 16, 0, 15};
  for (int32_t h : forged) {
    if (h == fresh) continue;
    EXPECT_EQ(Dict_Search_Word(Gb("北京").c_str(), h), 0) << h;
    EXPECT_NE(Dict_Search_Get_Info(Gb("北京").c_str(), h, info, sizeof info), 1) << h;
    EXPECT_EQ(Dict_Delete_Handle(h), -1) << h;
    EXPECT_EQ(Dict_Unload_New(h), -1) << h;
  }
  EXPECT_EQ(Dict_Search_Word(Gb("北京").c_str(), Dict_Get_Handle("org_dic", "")), 1);
}

// A longest-match search asks for every prefix of one buffer, longest
// first; the answers are those of each prefix looked up on its own, also
// when the buffer is then given other text, another dictionary is asked, or
// the dictionary is loaded again with other words.
TEST_F(Service, PrefixWalksInOneBufferAnswerAsSingleLookups) {
  vornel_test::Write_Blob(dir_ + "/place.vdic", vornel_test::Make_Dictionary({{"北京", "1"}, {"北京市", "2"},
                                                                              {"北京市海淀区", "3"}, {"海淀", "4"}}));
  const int32_t place = Dict_Load_New("place", "");
  const int32_t names = Dict_Load_New("name_dic", "");
  ASSERT_GE(place, 0);
  ASSERT_GE(names, 0);
  struct Row {
    const char *text;
    int32_t handle;
    const char *present;  // the prefixes held, longest first, '|' between
  };
  const Row rows[] = {
      {"北京市海淀区中关村", place, "北京市海淀区|北京市|北京"},
      {"北京市海淀", place, "北京市|北京"},  // the same buffer, shorter text
      {"海淀区北京", place, "海淀"},         // other text in the same buffer
      {"北京市海淀区", names, "北京"},       // another dictionary, same buffer
      {"上海市", place, ""},
  };
  char buffer[64];
  for (const Row &row : rows) {
    const std::string text = Gb(row.text);
    std::string found;
    std::snprintf(buffer, sizeof buffer, "%s", text.c_str());
    for (size_t n = text.size(); n >= 1; --n) {
      buffer[n] = '\0';
      if (Dict_Search_Word(buffer, row.handle) == 1) found += (found.empty() ? "" : "|") + text.substr(0, n);
      EXPECT_EQ(Dict_Search_Word(text.substr(0, n).c_str(), row.handle), Dict_Search_Word(buffer, row.handle))
          << row.text << ", " << n << " bytes";
    }
    EXPECT_EQ(found, Gb(row.present)) << row.text;
  }
  // Loaded again with other words: the walk of the old load answers nothing.
  std::snprintf(buffer, sizeof buffer, "%s", Gb("北京市").c_str());
  EXPECT_EQ(Dict_Search_Word(buffer, place), 1);
  Dict_Unload_New(place);
  vornel_test::Write_Blob(dir_ + "/place.vdic", vornel_test::Make_Dictionary({{"海淀", "4"}}));
  const int32_t again = Dict_Load_New("place", "");
  ASSERT_GE(again, 0);
  EXPECT_EQ(Dict_Search_Word(buffer, again), 0);
  buffer[4] = '\0';
  EXPECT_EQ(Dict_Search_Word(buffer, again), 0);
  EXPECT_EQ(Dict_Search_Word(buffer, place), 0);
}

// Two walks through one handle, their lookups taken in turn, and two
// buffers of equal text: each answer is that of the prefix looked up alone,
// whichever walk the last lookup belonged to.
TEST_F(Service, InterleavedWalksThroughOneHandleAnswerAsSingleLookups) {
  vornel_test::Write_Blob(dir_ + "/place.vdic", vornel_test::Make_Dictionary({{"北京", "1"}, {"北京市", "2"},
                                                                              {"海淀", "3"}, {"海淀区", "4"}}));
  const int32_t place = Dict_Load_New("place", "");
  ASSERT_GE(place, 0);
  const std::string texts[] = {Gb("北京市海淀区"), Gb("海淀区北京市"), Gb("北京市海淀区")};
  char buffers[3][32];
  for (int k = 0; k < 3; ++k) std::snprintf(buffers[k], sizeof buffers[k], "%s", texts[k].c_str());
  for (size_t n = texts[0].size(); n >= 1; --n) {
    for (int k = 0; k < 3; ++k) {
      buffers[k][n] = '\0';
      const std::string alone = texts[k].substr(0, n);
      const bool held = alone == Gb("北京") || alone == Gb("北京市") || alone == Gb("海淀") || alone == Gb("海淀区");
      EXPECT_EQ(Dict_Search_Word(buffers[k], place), held ? 1 : 0) << "text " << k << ", " << n << " bytes";
    }
  }
}

TEST_F(Service, InformationStringFitsOrIsRefused) {
  const int32_t h = Dict_Load_New("name_dic", "");
  ASSERT_GE(h, 0);
  const std::string wang = Gb("王");
  const std::string want = "x:0.6;fx:0.3;";  // 13 bytes + NUL
  const struct {
    int32_t size;
    int32_t result;
  } cases[] = {{100, 1}, {14, 1}, {13, 2}, {1, 2}, {0, 0}, {-5, 0}};
  for (const auto &c : cases) {
    char buf[128];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(Dict_Search_Get_Info(wang.c_str(), h, buf, c.size), c.result) << c.size;
    if (c.result == 1) {
      EXPECT_STREQ(buf, want.c_str());
    }
    for (int k = c.size > 0 ? c.size : 0; k < 128; ++k) ASSERT_EQ(buf[k], '#') << "written past the buffer";
    if (c.result == 2) {
      EXPECT_EQ(buf[0], 0);  // nothing cut in the middle
    }
  }
  char buf[32];
  EXPECT_EQ(Dict_Search_Get_Info(Gb("上海").c_str(), h, buf, sizeof buf), 0);
  EXPECT_EQ(Dict_Search_Get_Info(nullptr, h, buf, sizeof buf), 0);
  EXPECT_EQ(Dict_Search_Get_Info(wang.c_str(), h, nullptr, 32), 0);
  EXPECT_EQ(Dict_Search_Word(nullptr, h), 0);
}

TEST_F(Service, FreeAllSpaceAndInitialiseAgain) {
  for (const char *name : kNames) ASSERT_GE(Dict_Load_New(name, ""), 0) << name;
  const int32_t old = Dict_Get_Handle("fund_dic", "");
  Free_All_Space();
  for (const char *name : kNames) EXPECT_EQ(Dict_Get_Handle(name, ""), -1) << name;
  EXPECT_EQ(Dict_Search_Word(Gb("北京").c_str(), old), 0);
  EXPECT_LT(Dict_Load_New("place", ""), 0);  // the service is stopped
  EXPECT_EQ(vornel_test::Segment_C(Gb("北京")).ok, 0);
  Free_All_Space();  // twice is harmless
  ASSERT_NE(Dict_Init_New(0, 100, 200, 0x80000, 4), 0);
  for (const char *name : kNames) EXPECT_GE(Dict_Load_New(name, ""), 0) << name;
  EXPECT_EQ(Dict_Search_Word(Gb("北京").c_str(), old), 0);
  EXPECT_EQ(Dict_Search_Word(Gb("北京").c_str(), Dict_Get_Handle("fund_dic", "")), 1);
  EXPECT_EQ(vornel_test::Segment_C(Gb("北京")).words.size(), 1u);
}

TEST_F(Service, BadNamesAndMissingOrDamagedFilesFailCleanly) {
  const char *bad_names[] = {"../place", "place/", "Place", "", "a b", nullptr};
  for (const char *name : bad_names) EXPECT_LT(Dict_Load_New(name, ""), 0) << (name ? name : "(null)");
  EXPECT_LT(Dict_Load_New("no_such_dic", ""), 0);
  const std::string path = dir_ + "/place.vdic";
  const std::string good = vornel_test::Read_Bytes(path);
  const std::string damaged[] = {good.substr(0, good.size() - 1), good.substr(0, 10), "",
                                 std::string(good).replace(8, 1, 1, '\x07'),
                                 std::string(good).replace(good.size() - 1, 1, 1, 'q')};
  for (const std::string &bytes : damaged) {
    vornel_test::Write_Bytes(path, bytes);
    EXPECT_LT(Dict_Load_New("place", ""), 0);
    EXPECT_EQ(Dict_Get_Handle("place", ""), -1);  // nothing half-loaded
  }
  // A lexicon file given as a dictionary.
  vornel_test::Write_Bytes(path, vornel_test::Read_Bytes(dir_ + "/segmenter.vlex"));
  EXPECT_LT(Dict_Load_New("place", ""), 0);
  vornel_test::Write_Bytes(path, good);
  EXPECT_GE(Dict_Load_New("place", ""), 0);
}

// Every failed start or load says why, naming the file; the next start or
// load that succeeds clears the reason, and no other call changes it.
TEST_F(Service, FailedLoadsSayWhyNamingTheFile) {
  EXPECT_STREQ(Dict_Last_Error(), "");
  const std::string path = dir_ + "/place.vdic";
  const std::string good = vornel_test::Read_Bytes(path);
  std::string flipped = good, stale = good;
  flipped[good.size() - 1] ^= 0x10;
  stale[8] = 2;
  const struct {
    const char *what;
    std::string bytes;
    std::string reason;
  } cases[] = {
      {"a payload byte flipped", flipped, path + ": checksum mismatch, the file is damaged; rebuild the data"},
      {"another format version", stale,
       path + ": format version 2, this library reads version 1; rebuild the data"},
      {"cut short", good.substr(0, good.size() - 1),
       path + ": the size in its header does not match, the file is truncated or extended; rebuild the data"},
      {"shorter than its header", good.substr(0, 10),
       path + ": too short for its header, the file is truncated; rebuild the data"},
  };
  for (const auto &c : cases) {
    vornel_test::Write_Bytes(path, c.bytes);
    EXPECT_EQ(Dict_Load_New("place", ""), -3) << c.what;
    EXPECT_EQ(std::string(Dict_Last_Error()), c.reason) << c.what;
  }
  std::remove(path.c_str());
  EXPECT_EQ(Dict_Load_New("place", ""), -3);
  EXPECT_EQ(std::string(Dict_Last_Error()), "cannot open " + path + ": No such file or directory");
  EXPECT_EQ(Dict_Load_New("../place", ""), -2);
  EXPECT_NE(std::string(Dict_Last_Error()).find("name"), std::string::npos) << Dict_Last_Error();
  // Lookups, unloads and shutting down leave the reason as it was.
  EXPECT_EQ(Dict_Get_Handle("place", ""), -1);
  Free_All_Space();
  EXPECT_NE(std::string(Dict_Last_Error()).find("name"), std::string::npos) << Dict_Last_Error();
  EXPECT_EQ(Dict_Load_New("place", ""), -5);
  EXPECT_EQ(std::string(Dict_Last_Error()), "the dictionary service is not started");
  const std::string lexicon = dir_ + "/segmenter.vlex";
  const std::string good_lexicon = vornel_test::Read_Bytes(lexicon);
  vornel_test::Write_Bytes(lexicon, good_lexicon.substr(0, 20));
  EXPECT_EQ(Dict_Init_New(0, 100, 200, 0x80000, 4), 0);
  EXPECT_EQ(std::string(Dict_Last_Error()),
            lexicon + ": too short for its header, the file is truncated; rebuild the data");
  vornel_test::Write_Bytes(lexicon, good_lexicon);
  ASSERT_NE(Dict_Init_New(0, 100, 200, 0x80000, 4), 0);
  EXPECT_STREQ(Dict_Last_Error(), "");
  EXPECT_EQ(Dict_Load_New("place", ""), -3);
  EXPECT_NE(std::string(Dict_Last_Error()), "");
  vornel_test::Write_Bytes(path, good);
  EXPECT_GE(Dict_Load_New("place", ""), 0);
  EXPECT_STREQ(Dict_Last_Error(), "");
}

TEST_F(Service, DamagedLexiconFailsTheStart) {
  Free_All_Space();
  const std::string path = dir_ + "/segmenter.vlex";
  const std::string good = vornel_test::Read_Bytes(path);
  vornel_test::Write_Bytes(path, good.substr(0, good.size() / 2));
  EXPECT_EQ(Dict_Init_New(0, 100, 200, 0x80000, 4), 0);
  std::remove(path.c_str());
  EXPECT_EQ(Dict_Init_New(0, 100, 200, 0x80000, 4), 0);
  vornel_test::Write_Bytes(path, good);
  EXPECT_NE(Dict_Init_New(0, 100, 200, 0x80000, 4), 0);
}

TEST_F(Service, SegmentationBounds) {
  const std::string bj = Gb("北京");
  // Only `length` bytes are read: 2 bytes are "北"; 4 or more the whole "北京".
  EXPECT_EQ(vornel_test::Segment_C(bj, 2).words, std::vector<std::string>{bj.substr(0, 2)});
  for (int32_t length = 4; length <= 6; ++length) {
    const vornel_test::Cut cut = vornel_test::Segment_C(bj, length);
    EXPECT_EQ(cut.ok, 1) << length;
    EXPECT_EQ(cut.words, std::vector<std::string>{bj}) << length;
  }
  // One entry cannot hold a word and the terminator.
  EXPECT_EQ(vornel_test::Segment_C(bj, 1).ok, 0);
  // Arrays exactly full: 4 one-byte words + terminator in 5 entries.
  EXPECT_EQ(vornel_test::Segment_C("a,b!", 5).words.size(), 4u);
  EXPECT_EQ(vornel_test::Segment_C("a,b!", 4).ok, 0);
  // Length shorter than the text: only `length` bytes are read.
  const vornel_test::Cut part = vornel_test::Segment_C(Gb("北京的大学"), 4);
  EXPECT_EQ(part.ok, 1);
  EXPECT_EQ(part.words, std::vector<std::string>{bj});
  // A length that splits a character: the lone lead byte is a word of its own.
  const vornel_test::Cut split = vornel_test::Segment_C(Gb("的北京"), 5);
  EXPECT_EQ(split.ok, 1);
  EXPECT_EQ(split.words, (std::vector<std::string>{Gb("的"), Gb("北"), bj.substr(2, 1)}));
  // Bad arguments.
  int32_t ends[8];
  int16_t tags[8];
  EXPECT_EQ(KV_Word_Sect(nullptr, ends, 8, -1, 1, tags, 2048, 0, 0, 0), 0);
  EXPECT_EQ(KV_Word_Sect("a", nullptr, 8, -1, 1, tags, 2048, 0, 0, 0), 0);
  EXPECT_EQ(KV_Word_Sect("a", ends, 8, -1, 1, nullptr, 2048, 0, 0, 0), 0);
  EXPECT_EQ(KV_Word_Sect("a", ends, 0, -1, 1, tags, 2048, 0, 0, 0), 0);
  EXPECT_EQ(KV_Word_Sect("a", ends, -3, -1, 1, tags, 2048, 0, 0, 0), 0);
  // The empty text: no words, just the terminator.
  EXPECT_EQ(KV_Word_Sect("", ends, 1, -1, 1, tags, 2048, 0, 0, 0), 1);
  EXPECT_EQ(ends[0], 0);
  // a, b and the trailing arguments do not change the result.
  const std::string text = Gb("北京的大学");
  int32_t e1[16], e2[16];
  int16_t t1[16], t2[16];
  ASSERT_EQ(KV_Word_Sect(text.c_str(), e1, 16, -1, 1, t1, 2048, 0, 0, 0), 1);
  ASSERT_EQ(KV_Word_Sect(text.c_str(), e2, 16, 7, -9, t2, 0, 1, 2, 3), 1);
  EXPECT_EQ(0, std::memcmp(e1, e2, 4 * sizeof(int32_t)));
  EXPECT_EQ(0, std::memcmp(t1, t2, 4 * sizeof(int16_t)));
}

TEST_F(Service, MalformedTextNeverOverflows) {
  const std::string bj = Gb("北京");
  const std::string texts[] = {"\xB1", bj + "\xB1", "\xB1\x41\xB1\x7F", "\x80\xFF\xFE", std::string(40, '\xA1'),
                               "\xFF" + bj + "\xFE"};
  for (const std::string &t : texts) {
    for (int32_t length = 1; length <= static_cast<int32_t>(t.size()) + 2; ++length) {
      const vornel_test::Cut cut = vornel_test::Segment_C(t, length);
      if (!cut.ok) continue;
      size_t covered = 0;
      for (const std::string &w : cut.words) covered += w.size();
      EXPECT_EQ(covered, std::min<size_t>(t.size(), static_cast<size_t>(length)));
    }
  }
}

TEST_F(Service, LookupsFromManyThreads) {
  for (const char *name : kNames) ASSERT_GE(Dict_Load_New(name, ""), 0);
  std::vector<std::thread> threads;
  std::vector<int> errors(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &errors] {
      const std::string bj = Gb("北京"), wang = Gb("王"), text = Gb("北京的大学");
      for (int i = 0; i < 2000; ++i) {
        const int32_t h = Dict_Get_Handle(kNames[i % 5], "");
        char info[100];
        errors[t] += Dict_Search_Word(bj.c_str(), h) != 1;
        errors[t] += Dict_Search_Get_Info(wang.c_str(), h, info, sizeof info) != 1;
        Dict_Delete_Handle(h);
        int32_t ends[16];
        int16_t tags[16];
        errors[t] += KV_Word_Sect(text.c_str(), ends, 16, -1, 1, tags, 2048, 0, 0, 0) != 1 || ends[2] != 10;
      }
    });
  }
  for (std::thread &th : threads) th.join();
  EXPECT_EQ(errors, std::vector<int>(4, 0));
}

}  // namespace
