// The text sources of the lexicon and the dictionaries: the information
// string rule, parse errors with line numbers, and the GB2312 filter. And
// the whole build through its one call: what it writes, what it reports,
// and that a failed build leaves the output directory as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dict_builder.h"
#include "dict_sources.h"
#include "dictionary.h"
#include "test_support.h"

namespace {

using tesq_tools::Info_String_Ok;

TEST(Sources, InformationStringRule) {
  const struct {
    const char *info;
    size_t max;
    bool ok;
  } cases[] = {
      {"", 99, true},
      {"b:0.5;i:0.25;e:0.125;", 299, true},
      {"x:0.6;fx:0.3;", 99, true},
      {"x:0.6;fx:0.3;", 12, false},  // longer than the buffer allows
      {"x:0.6", 99, false},          // no closing semicolon
      {"x0.6;", 99, false},
      {":0.6;", 99, false},
      {"x:;", 99, false},
      {"x:abc;", 99, false},
      {"x:1e-3;dm:-2;", 99, true},
      {"x:0.6;;", 99, false},
  };
  for (const auto &c : cases) EXPECT_EQ(Info_String_Ok(c.info, c.max), c.ok) << c.info;
}

TEST(Sources, LexiconTextKeepsGbHanWordsAndTheTotal) {
  const std::string dir = vornel_test::Temp_Dir("sources");
  vornel_test::Write_Bytes(dir + "/lex.txt",
                           "# comment\n北京 100 ns\nT恤 5 n\n龘 3 n\n北京 200 ns\n大学 50 n\r\n\n");
  tesq_tools::Lexicon_Source lex;
  std::string error;
  ASSERT_TRUE(tesq_tools::Read_Lexicon_Text(dir + "/lex.txt", &lex, &error)) << error;
  EXPECT_EQ(lex.total, 358u);  // every line counts towards the total
  EXPECT_EQ(lex.dropped, 2u);  // T恤 (ASCII), 龘 (no GB2312 form)
  ASSERT_EQ(lex.entries.size(), 2u);
  EXPECT_EQ(lex.entries[0].word, vornel_test::Gb("北京"));
  EXPECT_EQ(lex.entries[0].frequency, 200u);
  // Written back and read again: the same words and the same total.
  ASSERT_TRUE(tesq_tools::Write_Lexicon_Text(dir + "/out.txt", lex, &error)) << error;
  tesq_tools::Lexicon_Source again;
  ASSERT_TRUE(tesq_tools::Read_Lexicon_Text(dir + "/out.txt", &again, &error)) << error;
  EXPECT_EQ(again.total, 358u);
  EXPECT_EQ(again.entries.size(), 2u);
}

TEST(Sources, LexiconWordsKeptApartAreMarkedAndReadBack) {
  const std::string dir = vornel_test::Temp_Dir("sources");
  vornel_test::Write_Bytes(dir + "/lex.txt", "李白 400 nr apart\n大学 50 n\n");
  tesq_tools::Lexicon_Source lex;
  std::string error;
  ASSERT_TRUE(tesq_tools::Read_Lexicon_Text(dir + "/lex.txt", &lex, &error)) << error;
  ASSERT_EQ(lex.entries.size(), 2u);
  EXPECT_TRUE(lex.entries[0].apart);
  EXPECT_FALSE(lex.entries[1].apart);
  ASSERT_TRUE(tesq_tools::Write_Lexicon_Text(dir + "/out.txt", lex, &error)) << error;
  tesq_tools::Lexicon_Source again;
  ASSERT_TRUE(tesq_tools::Read_Lexicon_Text(dir + "/out.txt", &again, &error)) << error;
  ASSERT_EQ(again.entries.size(), 2u);
  EXPECT_TRUE(again.entries[0].apart);
  EXPECT_FALSE(again.entries[1].apart);
}

TEST(Sources, WordSensesKeepGbWordsAndNameTheLineOfAnError) {
  const std::string dir = vornel_test::Temp_Dir("sources");
  vornel_test::Write_Bytes(dir + "/senses.tsv",
                           "# comment\n韩愈\tperson\n新建\tcommon,place\n龘龘\tplace\n唐代\tproper\r\n\n");
  tesq_tools::Name_Lists lists;
  std::string error;
  ASSERT_TRUE(tesq_tools::Read_Word_Senses(dir + "/senses.tsv", &lists, &error)) << error;
  EXPECT_EQ(lists.senses.size(), 3u);  // 龘龘 has no GB2312 form
  EXPECT_EQ(lists.Senses_Of(vornel_test::Gb("韩愈")), unsigned{tesq_tools::kSense_Person});
  EXPECT_EQ(lists.Senses_Of(vornel_test::Gb("新建")), unsigned{tesq_tools::kSense_Common | tesq_tools::kSense_Place});
  EXPECT_EQ(lists.Senses_Of(vornel_test::Gb("唐代")), unsigned{tesq_tools::kSense_Proper});
  EXPECT_EQ(lists.Senses_Of(vornel_test::Gb("北京")), 0u);
  // A surname of the senses joins the list after the list's own.
  tesq_tools::Name_Lists listed;
  listed.surnames = {vornel_test::Gb("王"), vornel_test::Gb("金")};
  listed.surname_rank = {{vornel_test::Gb("王"), 0}, {vornel_test::Gb("金"), 1}};
  vornel_test::Write_Bytes(dir + "/surnames.tsv", "金\tsurname\n庾\tsurname\n韩愈\tperson\n令狐\tplace,surname\n");
  ASSERT_TRUE(tesq_tools::Read_Word_Senses(dir + "/surnames.tsv", &listed, &error)) << error;
  EXPECT_EQ(listed.surnames.size(), 4u);
  EXPECT_EQ(listed.surname_rank.at(vornel_test::Gb("金")), 1) << "a listed surname keeps its place";
  EXPECT_EQ(listed.surname_rank.at(vornel_test::Gb("庾")), 3);
  EXPECT_EQ(listed.surname_rank.at(vornel_test::Gb("令狐")), 2) << "a two-character surname joins too";
  EXPECT_EQ(listed.surnames.count(vornel_test::Gb("韩愈")), 0u);
  const struct {
    const char *text, *where;
  } bad[] = {{"韩愈\tperson\n许可证 common\n", ":2:"},
             {"韩愈\tperson\n新建\tcommon,town\n", ":2: unknown kind 'town'"},
             {"韩愈\t\n", ":1: unknown kind ''"}};
  for (const auto &c : bad) {
    vornel_test::Write_Bytes(dir + "/bad.tsv", c.text);
    tesq_tools::Name_Lists untouched;
    EXPECT_FALSE(tesq_tools::Read_Word_Senses(dir + "/bad.tsv", &untouched, &error)) << c.text;
    EXPECT_NE(error.find(c.where), std::string::npos) << error;
    EXPECT_TRUE(untouched.senses.empty());
  }
  EXPECT_FALSE(tesq_tools::Read_Word_Senses(dir + "/missing.tsv", &lists, &error));
}

TEST(Sources, NameListsKeepWhereAGivenNameCharacterStands) {
  const std::string dir = vornel_test::Temp_Dir("lists");
  const struct {
    const char *file, *text;
  } files[] = {{"lex-lname.lex", "#surnames\n王\n令狐/ns\n"}, {"lex-sname.lex", "丽\n"},
               {"lex-dname-1.lex", "诗\n明\n"},           {"lex-dname-2.lex", "明\n华\n"},
               {"lex-cn-place.lex", "北京\n"},              {"lex-nation.lex", "汉族\n"}};
  for (const auto &f : files) vornel_test::Write_Bytes(dir + "/" + f.file, f.text);
  tesq_tools::Name_Lists lists;
  std::string error;
  ASSERT_TRUE(tesq_tools::Read_Name_Lists(dir, &lists, &error)) << error;
  using vornel_test::Gb;
  EXPECT_EQ(lists.surnames, (std::unordered_set<std::string>{Gb("王"), Gb("令狐")}));
  EXPECT_EQ(lists.given, (std::unordered_set<std::string>{Gb("丽"), Gb("诗"), Gb("明"), Gb("华")}));
  EXPECT_EQ(lists.given_first, (std::unordered_set<std::string>{Gb("诗"), Gb("明")}));
  EXPECT_EQ(lists.given_second, (std::unordered_set<std::string>{Gb("明"), Gb("华")}));
  EXPECT_EQ(lists.places.size(), 2u);
}

TEST(Sources, ErrorsNameTheLine) {
  const std::string dir = vornel_test::Temp_Dir("sources");
  const struct {
    const char *text;
    bool lexicon;
    const char *where;
  } cases[] = {
      {"北京 100 ns\n大学 x n\n", true, ":2:"},
      {"北京 100 ns\n大学 5 zzz\n", true, ":2:"},
      {"北京 100 ns extra\n", true, ":1:"},
      {"北京 100 ns apart extra\n", true, ":1:"},
      {"#total 0\n", true, ":1:"},
      {"北京\tf:1;\n上海 f:2;\n", false, ":2:"},
      {"北京\tf:1;\n北京\tf:2;\n", false, ":2:"},
      {"# c\n北京\tf:1\n", false, ":2:"},
      {"北京\tf:1;\n\xE9\xBE\x98\tf:1;\n", false, ":2:"},
  };
  for (const auto &c : cases) {
    vornel_test::Write_Bytes(dir + "/src.txt", c.text);
    std::string error;
    bool ok;
    if (c.lexicon) {
      tesq_tools::Lexicon_Source lex;
      ok = tesq_tools::Read_Lexicon_Text(dir + "/src.txt", &lex, &error);
    } else {
      tesq_tools::Dict_Entries entries;
      ok = tesq_tools::Read_Dict_Text(dir + "/src.txt", 99, &entries, &error);
    }
    EXPECT_FALSE(ok) << c.text;
    EXPECT_NE(error.find(c.where), std::string::npos) << c.text << " -> " << error;
  }
}

// Every file of a directory: name, bytes.
std::map<std::string, std::string> Snapshot(const std::string &dir) {
  std::map<std::string, std::string> files;
  for (const auto &entry : std::filesystem::directory_iterator(dir))
    files[entry.path().filename().string()] = vornel_test::Read_Bytes(entry.path().string());
  return files;
}

const char kTagged_Lexicon[] =
    "王小明 100 nr\n北京大学 200 nt\n北京 300 ns\n上海 300 ns\n学习 500 v\n张 50 nr\n"
    "克林顿 30 nrt\n浙江省自然科学基金 5 nt\n南京大学出版社 40 nt\n李晓燕 20 nr\n";

const char *const kDictionaries[] = {"foreign_dic", "name_dic", "org_dic", "fund_dic", "place"};

// A build from `lexicon` or `sources` (one may be empty) into `out`: its
// error, empty when it succeeded.
std::string Build(const std::string &lexicon, const std::string &sources, const std::string &out,
                  tesq_tools::Build_Report *report, std::function<void(int)> progress = nullptr) {
  tesq_tools::Build_Request request;
  request.lexicon_path = lexicon;
  request.sources_dir = sources;
  request.out_dir = out;
  request.progress = std::move(progress);
  std::string error;
  if (!tesq_tools::Build_Dictionaries(request, report, &error) && error.empty()) error = "failed with no reason";
  return error;
}

// kTagged_Lexicon written to DIR/lex.txt and trained into DIR/out.
tesq_tools::Build_Report Train_Into(const std::string &dir) {
  vornel_test::Write_Bytes(dir + "/lex.txt", kTagged_Lexicon);
  tesq_tools::Build_Report report;
  EXPECT_EQ(Build(dir + "/lex.txt", "", dir + "/out", &report), "");
  return report;
}

TEST(Builder, TrainingWritesSourcesAndCompiledFilesThatMatchItsReport) {
  const std::string dir = vornel_test::Temp_Dir("build");
  vornel_test::Write_Bytes(dir + "/lex.txt", kTagged_Lexicon);
  const std::string out = dir + "/out/new";  // made when missing
  std::vector<int> stages;
  tesq_tools::Build_Report report;
  ASSERT_EQ(Build(dir + "/lex.txt", "", out, &report, [&stages](int stage) { stages.push_back(stage); }), "");
  EXPECT_EQ(stages, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(report.trained);

  tesq_tools::Lexicon_Source lexicon, segmenter;
  std::string error;
  ASSERT_TRUE(tesq_tools::Read_Lexicon_Text(dir + "/lex.txt", &lexicon, &error)) << error;
  ASSERT_TRUE(tesq_tools::Read_Lexicon_Text(out + "/segmenter.txt", &segmenter, &error)) << error;
  EXPECT_EQ(report.segmenter_words, segmenter.entries.size());
  EXPECT_EQ(report.segmenter_words + report.fragments, lexicon.entries.size());
  EXPECT_EQ(report.total_frequency, lexicon.total);
  EXPECT_EQ(report.dropped, 0u);

  ASSERT_EQ(report.dictionaries.size(), 5u);
  std::string summary = "segmenter.vlex: " + std::to_string(report.segmenter_words) +
                        " words (0 dropped: not GB2312 Han; " + std::to_string(report.fragments) +
                        " transliteration fragments), total frequency " + std::to_string(lexicon.total) + "\n";
  for (size_t k = 0; k < 5; ++k) {
    const std::string name = kDictionaries[k];
    EXPECT_EQ(report.dictionaries[k].first, name);
    tesq_tools::Dict_Entries source;
    ASSERT_TRUE(tesq_tools::Read_Dict_Text(out + "/" + name + ".txt", 299, &source, &error)) << error;
    const std::unique_ptr<vornel::Dictionary> compiled =
        vornel::Dictionary::Load(out + "/" + name + ".vdic", &error);
    ASSERT_NE(compiled, nullptr) << name << ": " << error;
    EXPECT_EQ(report.dictionaries[k].second, source.size()) << name;
    EXPECT_EQ(compiled->Entry_Count(), source.size()) << name;
    summary += name + ".vdic: " + std::to_string(source.size()) + " entries\n";
  }
  EXPECT_EQ(report.Text(), summary);
  // The six sources and six compiled files, and no temporary left behind.
  EXPECT_EQ(Snapshot(out).size(), 12u);
}

TEST(Builder, CompilingTheWrittenSourcesGivesTheSameCompiledFiles) {
  const std::string dir = vornel_test::Temp_Dir("build");
  const tesq_tools::Build_Report trained = Train_Into(dir);
  tesq_tools::Build_Report report;
  ASSERT_EQ(Build("", dir + "/out", dir + "/again", &report), "");
  EXPECT_FALSE(report.trained);
  EXPECT_EQ(report.segmenter_words, trained.segmenter_words);
  EXPECT_EQ(report.dictionaries, trained.dictionaries);
  const auto sources = Snapshot(dir + "/out");
  const auto compiled = Snapshot(dir + "/again");
  ASSERT_EQ(compiled.size(), 6u);  // no text sources are written
  for (const auto &file : compiled) EXPECT_EQ(file.second, sources.at(file.first)) << file.first;
}

TEST(Builder, AFailedBuildReturnsItsReasonAndLeavesTheOutputAsItWas) {
  const struct {
    const char *file;     // the source replaced in an edited copy of the sources
    const char *text;     // its new text; null removes it
    bool lexicon;         // the request names a lexicon as well
    const char *message;  // in the error
  } cases[] = {
      {"name_dic.txt", "# c\n王\tx:0.5\n", false, "name_dic.txt:2:"},
      {"segmenter.txt", nullptr, false, "cannot open"},
      {"place.txt", "北京\tf:1;\n北京\tf:2;\n", false, "word given twice"},
      {"org_dic.txt", "# c\n", true, "either a lexicon or a sources directory"},
  };
  for (const auto &c : cases) {
    const std::string dir = vornel_test::Temp_Dir("build");
    Train_Into(dir);
    const auto before = Snapshot(dir + "/out");
    std::filesystem::copy(dir + "/out", dir + "/edited");
    if (c.text != nullptr)
      vornel_test::Write_Bytes(dir + "/edited/" + c.file, c.text);
    else
      std::filesystem::remove(dir + "/edited/" + c.file);
    tesq_tools::Build_Report report;
    const std::string error = Build(c.lexicon ? dir + "/lex.txt" : "", dir + "/edited", dir + "/out", &report);
    EXPECT_NE(error.find(c.message), std::string::npos) << c.file << " -> " << error;
    EXPECT_EQ(Snapshot(dir + "/out"), before) << c.file;
  }
}

}  // namespace
