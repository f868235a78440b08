#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dict_trainer.h"
#include "gb2312.h"
#include "gb_text.h"

namespace {

using tesq_test::Gb;

using tesq_tools::Dict_Entries;
using tesq_tools::Lexicon_Entry;

// Splits by a fixed table of words (UTF-8), longest first from the left;
// characters not covered become one-character parts.
tesq_tools::Word_Splitter Table_Splitter(const std::vector<std::string> &words) {
  std::vector<std::string> gb;
  for (const std::string &w : words) gb.push_back(Gb(w));
  return [gb](const std::string &word) {
    std::vector<std::string> parts;
    for (size_t at = 0; at < word.size();) {
      size_t best = 2;
      for (const std::string &w : gb)
        if (w.size() > best && w.size() < word.size() && word.compare(at, w.size(), w) == 0) best = w.size();
      parts.push_back(word.substr(at, best));
      at += best;
    }
    return parts;
  };
}

std::vector<Lexicon_Entry> Lexicon(const std::vector<std::vector<std::string>> &rows) {
  std::vector<Lexicon_Entry> out;
  for (const auto &r : rows) out.push_back({Gb(r[0]), std::strtoull(r[1].c_str(), nullptr, 10), r[2]});
  return out;
}

// The number of key `key` in the information string of `word`, or -1.
double Value(const Dict_Entries &dict, const std::string &word, const std::string &key) {
  for (const auto &e : dict) {
    if (e.first != Gb(word)) continue;
    const std::string &info = e.second;
    for (size_t at = 0; at < info.size();) {
      const size_t colon = info.find(':', at), semi = info.find(';', at);
      if (info.compare(at, colon - at, key) == 0) return std::atof(info.c_str() + colon + 1);
      at = semi + 1;
    }
    return -1;
  }
  return -1;
}

bool Has(const Dict_Entries &dict, const std::string &word) {
  for (const auto &e : dict)
    if (e.first == Gb(word)) return true;
  return false;
}

// Person entries: 王 starts only names; 高 starts names and many ordinary
// words; 医生 is a common word, so 陈医生 is a title, not a name.
std::vector<std::vector<std::string>> Person_Rows() {
  std::vector<std::vector<std::string>> rows = {
      {"王小明", "5", "nr"}, {"王大伟", "5", "nr"}, {"王丽华", "5", "nr"}, {"王建华", "5", "nr"},
      {"王明", "5", "nr"},   {"王芳", "5", "nr"},   {"陈丽华", "5", "nr"}, {"陈小明", "5", "nr"},
      {"陈医生", "5", "nr"}, {"陈大夫", "5", "nr"}, {"高丽华", "5", "nr"}, {"高小明", "5", "nr"}, {"高建国", "5", "nr"},
      {"高兴", "900", "a"},  {"高度", "900", "n"},  {"高山", "300", "n"},  {"高级", "800", "a"},
      {"高楼", "200", "n"},  {"高原", "300", "n"},  {"高速", "500", "a"},  {"高温", "200", "n"},
      {"医生", "5000", "n"}, {"大夫", "800", "n"},  {"明天", "900", "t"},  {"华丽", "300", "a"},
      {"欧阳修", "50", "nr"}, {"欧阳峰", "9", "nr"}, {"欧阳", "30", "nr"},
  };
  return rows;
}

TEST(Trainer, SurnameWeightIsSmoothedAgainstOrdinaryStarts) {
  const auto d = tesq_tools::Train_Dictionaries(Lexicon(Person_Rows()), Table_Splitter({}));
  const double wang = Value(d.name_dic, "王", "x"), gao = Value(d.name_dic, "高", "x");
  EXPECT_GT(wang, 0.6);
  EXPECT_GT(gao, 0.0);  // three names: still a surname
  EXPECT_LT(gao, wang - 0.2) << "高 starts many ordinary words";
  tesq_tools::Train_Parameters heavier;
  heavier.surname_other = 1.0;
  const auto h = tesq_tools::Train_Dictionaries(Lexicon(Person_Rows()), Table_Splitter({}), heavier);
  EXPECT_LT(Value(h.name_dic, "高", "x"), gao);
  EXPECT_DOUBLE_EQ(Value(h.name_dic, "王", "x"), wang) << "王 starts no ordinary word";
  EXPECT_EQ(Value(d.name_dic, "医", "x"), -1);
  EXPECT_GT(Value(d.name_dic, "欧阳", "fx"), 0.5);
}

TEST(Trainer, TitleEntriesWeighLessThanNames) {
  // 丽 and 小 are given-name characters; 医 only follows 陈 in a title.
  const auto d = tesq_tools::Train_Dictionaries(Lexicon(Person_Rows()), Table_Splitter({}));
  const double title = Value(d.name_dic, "医", "ss");
  const double given = Value(d.name_dic, "丽", "ss");
  ASSERT_GT(title, 0);
  EXPECT_LT(title, given);
  EXPECT_GT(Value(d.name_dic, "明", "dm"), 0);
  EXPECT_GT(Value(d.name_dic, "华", "sw"), 0);
}

TEST(Trainer, LastGivenCharacterWeighsItsEndsOfOrdinaryWords) {
  // 华 ends two ordinary words of three characters, as suffixes do (性, 界);
  // 明 ends none. Only the "sw" of 华 falls with the weight of such ends.
  auto rows = Person_Rows();
  rows.push_back({"新中华", "5", "n"});
  rows.push_back({"大中华", "5", "n"});
  tesq_tools::Train_Parameters none;
  none.suffix_weight = 0;
  const auto d = tesq_tools::Train_Dictionaries(Lexicon(rows), Table_Splitter({}));
  const auto n = tesq_tools::Train_Dictionaries(Lexicon(rows), Table_Splitter({}), none);
  ASSERT_GT(Value(n.name_dic, "华", "sw"), 0);
  EXPECT_LT(Value(d.name_dic, "华", "sw"), Value(n.name_dic, "华", "sw"));
  EXPECT_DOUBLE_EQ(Value(d.name_dic, "华", "ss"), Value(n.name_dic, "华", "ss")) << "only the last position";
  EXPECT_DOUBLE_EQ(Value(d.name_dic, "明", "sw"), Value(n.name_dic, "明", "sw"));
  EXPECT_GT(Value(d.name_dic, "明", "sw"), 0);
}

TEST(Trainer, ShortTransliteratedNamesTrainTheGivenName) {
  // 丽妮 and 安娜 fall apart into two one-character words, read as surname +
  // given character; 克林顿 is left to the foreign-name walk.
  auto rows = Person_Rows();
  for (const char *name : {"丽妮", "丽莎", "安娜", "安妮"}) rows.push_back({name, "5", "nrt"});
  rows.push_back({"克林顿", "5", "nrt"});
  const auto d = tesq_tools::Train_Dictionaries(Lexicon(rows), Table_Splitter({}));
  EXPECT_GT(Value(d.name_dic, "妮", "dm"), 0);
  EXPECT_GT(Value(d.name_dic, "娜", "dm"), 0);
  EXPECT_EQ(Value(d.name_dic, "林", "ss"), -1) << "three-character transliterations stay out";
  EXPECT_EQ(Value(d.name_dic, "顿", "sw"), -1);
  tesq_tools::Train_Parameters none;
  none.foreign_person_max_chars = 0;
  const auto n = tesq_tools::Train_Dictionaries(Lexicon(rows), Table_Splitter({}), none);
  EXPECT_EQ(Value(n.name_dic, "妮", "dm"), -1);
  EXPECT_DOUBLE_EQ(Value(n.name_dic, "王", "x"), Value(d.name_dic, "王", "x"));
}

TEST(Trainer, GluedSurnameWordGetsCompoundWeight) {
  // The splitter makes 王小 one word, as a segmenter may: it then begins names.
  auto rows = Person_Rows();
  const auto d = tesq_tools::Train_Dictionaries(Lexicon(rows), Table_Splitter({"王小"}));
  EXPECT_GT(Value(d.name_dic, "王小", "fx"), 0);
  EXPECT_GT(Value(d.name_dic, "明", "dm"), 0);
  const auto plain = tesq_tools::Train_Dictionaries(Lexicon(rows), Table_Splitter({}));
  EXPECT_EQ(Value(plain.name_dic, "王小", "fx"), -1);
}

TEST(Trainer, OrganisationRolesOrderBeginInnerEnd) {
  const std::vector<std::vector<std::string>> rows = {
      {"北京大学", "50", "nt"},     {"南京大学", "50", "nt"},         {"北京钢铁公司", "9", "nt"},
      {"上海钢铁公司", "9", "nt"},  {"北京人民政府", "9", "nt"},      {"上海人民政府", "9", "nt"},
      {"人民群众", "900", "n"},     {"人民币", "900", "n"},           {"人民日报", "900", "n"},
      {"人民公社", "900", "n"},     {"人民代表", "900", "n"},         {"国家大学", "5", "nt"},
      {"中国基金会", "5", "nt"},    {"科学基金", "5", "n"},           {"北京", "9000", "ns"},
      {"上海", "9000", "ns"},       {"京", "10", "j"},
  };
  const auto d = tesq_tools::Train_Dictionaries(
      Lexicon(rows), Table_Splitter({"北京", "南京", "上海", "大学", "钢铁", "公司", "人民", "政府", "国家",
                                     "中国", "基金", "基金会", "科学", "群众", "日报", "公社", "代表"}));
  EXPECT_GT(Value(d.org_dic, "北京", "b"), 0.1);
  EXPECT_GT(Value(d.org_dic, "大学", "e"), 0.4);
  EXPECT_GT(Value(d.org_dic, "钢铁", "i"), Value(d.org_dic, "钢铁", "e"));
  EXPECT_GT(Value(d.org_dic, "公司", "e"), 0.4);
  // 人民 continues two names but is a part of five ordinary words.
  const double renmin = Value(d.org_dic, "人民", "i");
  ASSERT_GT(renmin, 0);
  EXPECT_LT(renmin, Value(d.org_dic, "钢铁", "i"));
  // Fund names: their own closing word; organisation beginnings may begin them.
  EXPECT_GT(Value(d.fund_dic, "基金", "e"), 0.4);
  EXPECT_GT(Value(d.fund_dic, "基金会", "e"), 0.4);
  EXPECT_GT(Value(d.fund_dic, "北京", "b"), 0.1);
  EXPECT_EQ(Value(d.fund_dic, "大学", "e"), -1) << "only fund words close fund names";
  EXPECT_FALSE(Has(d.org_dic, "基金")) << "fund words are not organisation names";
  // Places: ns entries of two characters or more, with their frequency.
  EXPECT_EQ(Value(d.place, "北京", "f"), 9000);
  EXPECT_FALSE(Has(d.place, "京"));
}

TEST(Trainer, ForeignCharactersAgainstOrdinaryUses) {
  const std::vector<std::vector<std::string>> rows = {
      {"克林顿", "50", "nrt"}, {"克莱因", "50", "nrt"}, {"林肯", "50", "nrt"},  {"斯大林", "50", "nrt"},
      {"斯密", "9", "nrt"},    {"森林", "900", "n"},    {"树林", "900", "n"},   {"林业", "900", "n"},
      {"园林", "900", "n"},    {"林场", "900", "n"},    {"林木", "900", "n"},   {"竹林", "900", "n"},   {"林区", "900", "n"},   {"林荫", "900", "n"},
  };
  std::vector<std::vector<std::string>> more = rows;
  // 林 is a part of hundreds of ordinary words of the lexicon.
  for (const char *second : {"海", "地", "带", "立", "间", "下", "中", "边", "风", "子", "草", "木", "家", "道",
                             "园", "野", "丛", "谷", "泉", "涛", "口", "荫", "苑"})
    more.push_back({std::string("林") + second, "100", "n"});
  const auto d = tesq_tools::Train_Dictionaries(Lexicon(more), Table_Splitter({}));
  EXPECT_TRUE(Has(d.foreign_dic, "克"));
  EXPECT_TRUE(Has(d.foreign_dic, "斯"));
  EXPECT_FALSE(Has(d.foreign_dic, "肯")) << "used in one transliteration only";
  EXPECT_TRUE(Has(d.foreign_dic, "·"));
  // Its ordinary uses lower the share of 林, used in as many names as 克.
  const double lin = Value(d.foreign_dic, "林", "t");
  ASSERT_GT(lin, 0);
  EXPECT_LT(lin, Value(d.foreign_dic, "克", "t") / 4);
  const auto fewer = tesq_tools::Train_Dictionaries(Lexicon(rows), Table_Splitter({}));
  EXPECT_GT(Value(fewer.foreign_dic, "林", "t"), lin);
  // A minimum share keeps the characters that are mostly ordinary out.
  tesq_tools::Train_Parameters strict;
  strict.foreign_min_share = 0.2;
  const auto s = tesq_tools::Train_Dictionaries(Lexicon(more), Table_Splitter({}), strict);
  EXPECT_FALSE(Has(s.foreign_dic, "林")) << "林 is mostly an ordinary character";
  EXPECT_TRUE(Has(s.foreign_dic, "克"));
}

TEST(Trainer, SegmenterLeavesOutTransliterationFragments) {
  const std::vector<std::vector<std::string>> rows = {
      {"威尔", "52", "nrt"},    {"斯特", "110", "nrt"},    {"威尔斯", "20", "nrt"},  {"威尔斯特", "5", "nrt"},
      {"斯威", "3000", "nrt"},  {"克林", "9", "n"},        {"王克", "9", "nr"},      {"克", "900", "m"},
      {"威", "900", "v"},       {"尔", "900", "r"},        {"斯", "900", "nr"},      {"特", "900", "d"},
      {"斯吉", "5", "nrt"},     {"克尔", "71", "ns"},      {"特威", "9", "nz"},      {"克斯", "500", "ns"},
      {"威克尔", "9", "ns"},
  };
  const auto lexicon = Lexicon(rows);
  Dict_Entries foreign;
  for (const char *c : {"威", "尔", "斯", "特", "克", "林"}) foreign.emplace_back(Gb(c), "t:0.9;");
  foreign.emplace_back(Gb("吉"), "t:0.02;");  // below the fragment share
  std::set<std::string> kept;
  for (const Lexicon_Entry &e : tesq_tools::Segmenter_Entries(lexicon, foreign)) kept.insert(e.word);
  // Person entries of 2-3 transliteration characters go, and place and other
  // proper nouns of two (克尔, 特威); longer ones, common ones, other tags and
  // words with other characters (or characters of a low share) stay.
  for (const char *gone : {"威尔", "斯特", "威尔斯", "克尔", "特威"}) EXPECT_EQ(kept.count(Gb(gone)), 0u) << gone;
  for (const char *stays : {"威尔斯特", "斯威", "克林", "王克", "克", "威", "尔", "斯", "特", "斯吉", "克斯", "威克尔"})
    EXPECT_EQ(kept.count(Gb(stays)), 1u) << stays;
  tesq_tools::Train_Parameters off;
  off.fragment_max_chars = 0;
  off.proper_fragment_max_chars = 0;
  EXPECT_EQ(tesq_tools::Segmenter_Entries(lexicon, foreign, off).size(), lexicon.size());
  // A fragment inside the name of an organisation stays a word (the name is
  // read by its words), unless more such names are asked for.
  auto with_org = rows;
  with_org.push_back({"威尔大学", "5", "nt"});
  std::set<std::string> kept_org;
  for (const Lexicon_Entry &e : tesq_tools::Segmenter_Entries(Lexicon(with_org), foreign)) kept_org.insert(e.word);
  EXPECT_EQ(kept_org.count(Gb("威尔")), 1u);
  EXPECT_EQ(kept_org.count(Gb("斯特")), 0u);
  tesq_tools::Train_Parameters two_orgs;
  two_orgs.fragment_max_org_uses = 1;
  std::set<std::string> kept_two;
  for (const Lexicon_Entry &e : tesq_tools::Segmenter_Entries(Lexicon(with_org), foreign, two_orgs))
    kept_two.insert(e.word);
  EXPECT_EQ(kept_two.count(Gb("威尔")), 0u);
  tesq_tools::Train_Parameters low;
  low.fragment_min_share = 0.01;
  std::set<std::string> kept_low;
  for (const Lexicon_Entry &e : tesq_tools::Segmenter_Entries(lexicon, foreign, low)) kept_low.insert(e.word);
  EXPECT_EQ(kept_low.count(Gb("斯吉")), 0u) << "吉 is a fragment character above a share of 0.01";
  // Train_Foreign gives the foreign_dic of Train_Dictionaries.
  EXPECT_EQ(tesq_tools::Train_Foreign(lexicon), tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({})).foreign_dic);
}

TEST(Trainer, InformationStringsFitTheirBuffers) {
  auto rows = Person_Rows();
  rows.push_back({"北京大学", "50", "nt"});
  const auto d = tesq_tools::Train_Dictionaries(Lexicon(rows), Table_Splitter({"北京", "大学"}));
  for (const auto &e : d.name_dic) EXPECT_TRUE(tesq_tools::Info_String_Ok(e.second, tesq_tools::kMax_Info_Name));
  for (const Dict_Entries *dict : {&d.org_dic, &d.fund_dic, &d.foreign_dic, &d.place})
    for (const auto &e : *dict) EXPECT_TRUE(tesq_tools::Info_String_Ok(e.second, tesq_tools::kMax_Info_Org));
  std::set<std::string> words;
  for (const auto &e : d.name_dic) EXPECT_TRUE(words.insert(e.first).second) << "repeated word";
}

TEST(Trainer, ParametersBySettingName) {
  tesq_tools::Train_Parameters p;
  EXPECT_TRUE(tesq_tools::Set_Train_Parameter(&p, "org_other=0.75"));
  EXPECT_DOUBLE_EQ(p.org_other, 0.75);
  EXPECT_TRUE(tesq_tools::Set_Train_Parameter(&p, "surname_min=5"));
  EXPECT_EQ(p.surname_min, 5);
  EXPECT_TRUE(tesq_tools::Set_Train_Parameter(&p, "title_frequency=7"));
  EXPECT_EQ(p.title_frequency, 7u);
  for (const char *bad : {"org_other", "org_other=", "org_other=x", "org_other=1x", "nope=1", "=1"})
    EXPECT_FALSE(tesq_tools::Set_Train_Parameter(&p, bad)) << bad;
  EXPECT_DOUBLE_EQ(p.org_other, 0.75);
}

TEST(Trainer, FundWordsHaveTheWordAtACharacterBoundary) {
  const struct {
    const char *word;
    bool fund;
  } cases[] = {{"科学基金", true}, {"基金会", true}, {"国家自然科学基金", true}, {"基金", false}, {"王基", false}};
  for (const auto &c : cases) EXPECT_EQ(tesq_tools::Is_Fund_Word(Gb(c.word)), c.fund) << c.word;
  // 基金 straddling two characters (bytes 1..4) is not the word.
  const std::string fund = Gb("基金");
  EXPECT_FALSE(tesq_tools::Is_Fund_Word(std::string("\xB0") + fund + "\xA1"));
}

// Name lists as friso-dict gives them: surnames, given-name characters,
// places.
tesq_tools::Name_Lists Lists() {
  tesq_tools::Name_Lists lists;
  for (const char *c : {"王", "李", "张", "陈", "由"}) lists.surnames.insert(Gb(c));
  for (const char *c : {"丽", "明", "伟", "华", "芳", "旧"}) lists.given.insert(Gb(c));
  for (const char *c : {"北京", "海淀区", "宜昌"}) lists.places.insert(Gb(c));
  return lists;
}

// The tag of each word of segmenter entries, by its UTF-8 form, with
// " apart" for a word kept apart in query segmentation.
std::map<std::string, std::string> Tags_Of(const std::vector<Lexicon_Entry> &entries) {
  std::map<std::string, std::string> out;
  for (const Lexicon_Entry &e : entries) {
    std::string utf8;
    gb::Gb_To_Utf8(e.word, &utf8);
    out[utf8] = e.tag + (e.apart ? " apart" : "");
  }
  return out;
}

std::map<std::string, std::string> Segmenter_Tags(const std::vector<Lexicon_Entry> &lexicon, const Dict_Entries &foreign,
                                                  const tesq_tools::Name_Lists &lists) {
  return Tags_Of(tesq_tools::Segmenter_Entries(lexicon, foreign, {}, lists));
}

struct Tag_Case {
  const char *word, *tag;  // "" for a word left out
};

void Expect_Tags(const std::map<std::string, std::string> &tags, const std::vector<Tag_Case> &cases) {
  for (const Tag_Case &c : cases) {
    const auto it = tags.find(c.word);
    if (*c.tag == '\0')
      EXPECT_EQ(it, tags.end()) << c.word;
    else
      EXPECT_TRUE(it != tags.end() && it->second == c.tag) << c.word << " " << (it == tags.end() ? "-" : it->second);
  }
}

TEST(Trainer, NameTagsOfTheSegmenterMeanWhatTheySay) {
  const auto lexicon = Lexicon({{"王", "900", "nr"},     {"丽", "300", "nr"},     {"王丽", "20", "nr"},
                                {"李明", "500", "nr"},   {"陈旧", "300", "nr"},   {"张伟华", "9", "nr"},
                                {"张伟说", "9", "nr"},   {"招财猫", "9", "nr"},   {"东南", "900", "ns"},
                                {"新建", "900", "ns"},   {"北京", "900", "ns"},   {"黄石县", "9", "ns"},
                                {"荆州", "90", "ns"},    {"京", "90", "ns"},      {"高兴", "900", "a"},
                                {"太多", "3", "ns"},     {"罗马", "900", "ns"},   {"许可证", "900", "nr"},
                                {"许可", "900", "v"},    {"昭", "90", "nrt"},     {"圳", "90", "nt"},
                                {"二人", "900", "nrt"},  {"李丽", "9", "nrt"},    {"家里人", "90", "nrt"},
                                {"家里", "900", "n"},    {"罗太马", "2000", "nrt"}});
  Dict_Entries foreign;  // 太 and 多 occur in transliterations, 罗 and 马 mostly there
  for (const auto &m : {std::make_pair("太", "t:0.09;"), std::make_pair("多", "t:0.16;"), std::make_pair("罗", "t:0.86;"),
                        std::make_pair("马", "t:0.26;")})
    foreign.emplace_back(Gb(m.first), m.second);
  const std::map<std::string, std::string> tags = Segmenter_Tags(lexicon, foreign, Lists());
  const std::vector<Tag_Case> cases = {
      {"王", "n"},       // a lone surname is no name
      {"丽", "n"},       // nor a lone given-name character
      {"王丽", "nr apart"},  // a name: left to the recognisers as 王 + 丽 in query segmentation
      {"李明", "n"},     // name-shaped but too frequent to be only a name: kept whole
      {"陈旧", "n"},     // 旧 is given-name-like here, but the entry is frequent
      {"张伟华", "nr"},  // a name of three characters stays a name
      {"张伟说", "nr"},  // a surname and no ordinary word inside: a name, whatever the lists say of 说
      {"招财猫", "n"},   // no surname: an ordinary word
      {"东南", "f"},     // a direction
      {"新建", "n"},     // an ordinary word
      {"北京", "ns"},    // in the place list
      {"黄石县", "ns"},  // a place suffix
      {"荆州", "ns"},    // ..州
      {"京", "n"},       // one character
      {"昭", "n"},       // a transliteration syllable alone
      {"圳", "n"},       // an organisation's fragment alone
      // Tagged as transliterations: made of their characters, a name stays
      // one; made of others, a Chinese word.
      {"罗太马", "nrt"},
      {"二人", "n"},
      {"李丽", "nr apart"},  // surname + given name
      {"家里人", "n"},       // it holds an ordinary word
      {"高兴", "a"},     // untouched
      {"太多", "n"},     // characters of transliterations, but not well above chance
      {"罗马", "ns"},    // a transliterated place
      {"许可证", "n"},   // a surname, but it holds an ordinary word
  };
  Expect_Tags(tags, cases);
  // Without name lists the lexicon's tags stand.
  const std::map<std::string, std::string> plain = Segmenter_Tags(lexicon, foreign, {});
  EXPECT_EQ(plain.at("王丽"), "nr");
  EXPECT_EQ(plain.at("新建"), "ns");
}

TEST(Trainer, ThePlaceDictionaryHoldsPlaceNamesOnly) {
  const auto lexicon = Lexicon({{"太极", "276", "ns"}, {"新建", "900", "ns"}, {"北京", "900", "ns"},
                                {"黄石县", "9", "ns"}, {"东南", "900", "ns"}});
  const auto d = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), {}, Lists());
  for (const char *place : {"北京", "黄石县", "海淀区", "宜昌"}) EXPECT_TRUE(Has(d.place, place)) << place;
  for (const char *word : {"太极", "新建", "东南"}) EXPECT_FALSE(Has(d.place, word)) << word;
  EXPECT_TRUE(Has(tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({})).place, "太极"))
      << "without name lists every place entry stays";
}

TEST(Trainer, PersonWeightsAreTokenSharesOfCharactersStandingAlone) {
  // 由 opens a few names but stands alone as a word far more often; 王 opens
  // many. 丽 is mostly a name; 说 stands alone.
  const auto lexicon = Lexicon({{"王丽", "50", "nr"},   {"王明", "50", "nr"},   {"王说", "2", "nr"},
                                {"由明", "5", "nr"},    {"由丽", "5", "nr"},    {"由伟", "5", "nr"},
                                {"王伟华", "40", "nr"}, {"李丽华", "40", "nr"}, {"和丽华", "40", "nr"},
                                {"王", "100", "n"},     {"由", "50000", "p"},   {"丽", "20", "n"},
                                {"说", "90000", "v"},   {"明", "300", "a"},     {"和", "90000", "c"}});
  tesq_tools::Train_Parameters tokens_only;  // dm without its floor, the share of names among words
  tokens_only.given1_type_floor = 0;
  const auto d = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), tokens_only, Lists());
  // The recogniser's test for surname + one given character: S × D > 0.05.
  EXPECT_GT(Value(d.name_dic, "王", "x") * Value(d.name_dic, "丽", "dm"), 0.05);
  EXPECT_LT(Value(d.name_dic, "由", "x") * Value(d.name_dic, "丽", "dm"), 0.05);
  EXPECT_GT(Value(d.name_dic, "由", "x"), 0.0) << "由 is a surname of the lists";
  EXPECT_LT(Value(d.name_dic, "王", "x") * Value(d.name_dic, "说", "dm"), 0.05);
  EXPECT_GT(Value(d.name_dic, "王", "x") * Value(d.name_dic, "华", "dm"), 0.05)
      << "the last character of a three-character name reads as a given name";
  EXPECT_EQ(Value(d.name_dic, "和", "x"), -1) << "和 is no surname of the lists";
}

TEST(Trainer, ACommonCharacterClosesGivenNamesMoreReadilyThanItOpensThem) {
  // 和 opens as many names as it closes and stands alone far more often.
  // Standing alone counts less against closing a name (张志和) than against
  // opening one: after a surname and a given character, the reading as a
  // conjunction is already weighed by the one-character given name.
  const auto lexicon = Lexicon({{"张志和", "40", "nr"}, {"李元和", "40", "nr"}, {"张和志", "40", "nr"},
                                {"李和元", "40", "nr"}, {"和", "90000", "c"},   {"志", "900", "n"},
                                {"元", "900", "n"}});
  tesq_tools::Train_Parameters p;
  const auto d = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, Lists());
  EXPECT_GT(Value(d.name_dic, "和", "sw"), 2 * Value(d.name_dic, "和", "ss"));
  p.given2_closing_alone = p.given2_alone;
  const auto alike = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, Lists());
  EXPECT_NEAR(Value(alike.name_dic, "和", "sw"), Value(alike.name_dic, "和", "ss"), 1e-4);
}

TEST(Trainer, SurnamesPastTheCommonestOfTheListWeighLess) {
  // 王, 公 and 韦 open names and stand alone equally often; the list puts 王
  // first, 公 and 韦 far down. 公 also starts ordinary words, 韦 starts names
  // only.
  const auto lexicon = Lexicon({{"王丽", "50", "nr"}, {"王明", "50", "nr"}, {"王伟", "50", "nr"},
                                {"公丽", "50", "nr"}, {"公明", "50", "nr"}, {"公伟", "50", "nr"},
                                {"韦丽", "50", "nr"}, {"韦明", "50", "nr"}, {"韦伟", "50", "nr"},
                                {"公司", "900", "n"}, {"公园", "900", "n"}, {"公开", "900", "v"},
                                {"王", "100", "n"},   {"公", "100", "n"},   {"韦", "100", "n"}});
  tesq_tools::Name_Lists lists = Lists();
  lists.surnames.insert(Gb("公"));
  lists.surnames.insert(Gb("韦"));
  lists.surname_rank = {{Gb("王"), 0}, {Gb("李"), 1}, {Gb("公"), 200}, {Gb("韦"), 201}};
  tesq_tools::Train_Parameters p;
  p.surname_common = 100;
  p.surname_rare_factor = 0.5;
  p.surname_rare_name_share = 0.9;
  struct Case {
    const char *surname;
    double factor;  // of 王's x
  };
  const std::vector<Case> cases = {
      {"公", 0.5},  // rare, and half the entries it starts are ordinary words
      {"韦", 1.0},  // rare, but every entry it starts is a name
  };
  const auto d = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, lists);
  EXPECT_GT(Value(d.name_dic, "王", "x"), 0.0);
  for (const Case &c : cases)
    EXPECT_NEAR(Value(d.name_dic, c.surname, "x"), c.factor * Value(d.name_dic, "王", "x"), 1e-4) << c.surname;
  // Lists given without an order weigh every surname alike.
  lists.surname_rank.clear();
  const auto unordered = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, lists);
  EXPECT_EQ(Value(unordered.name_dic, "公", "x"), Value(unordered.name_dic, "王", "x"));
}

TEST(Trainer, PersonEntriesKeptWholeAreReadAgainWithTheTrainedWeights) {
  const auto lexicon = Lexicon({{"李白", "374", "nr"},   {"明白", "9000", "nr"}, {"高峰", "1500", "nr"},
                                {"高峰期", "300", "n"},  {"白居易", "155", "nr"}, {"居易", "20", "n"},
                                {"石家庄", "440", "nr"}, {"家庄", "30", "n"},    {"马德里", "300", "nr"},
                                {"德里", "90", "ns"},    {"李丽", "500", "nr"},  {"高兴", "900", "a"}});
  tesq_tools::Name_Lists lists = Lists();
  for (const char *c : {"明", "高", "白", "石", "马"}) lists.surnames.insert(Gb(c));
  tesq_tools::Trained_Dictionaries trained;
  for (const auto &e : std::vector<std::pair<const char *, const char *>>{
           {"李", "x:0.9;"}, {"明", "x:0.3;"}, {"高", "x:0.8;"}, {"白", "x:0.9;dm:0.5;"}, {"石", "x:0.9;"},
           {"马", "x:0.9;"}, {"峰", "dm:0.9;"}, {"居", "ss:0.6;"}, {"易", "sw:0.5;"}, {"家", "ss:0.9;"},
           {"庄", "sw:0.9;"}, {"德", "ss:0.9;"}, {"里", "sw:0.9;"}, {"丽", "dm:0.9;"}})
    trained.name_dic.emplace_back(Gb(e.first), e.second);
  for (const char *c : {"马", "德", "里"}) trained.foreign_dic.emplace_back(Gb(c), "t:0.5;");
  std::vector<Lexicon_Entry> seg = tesq_tools::Segmenter_Entries(lexicon, trained.foreign_dic, {}, lists);
  tesq_tools::Train_Parameters p;
  p.whole_name_split_min = 0.25;
  p.whole_name_tag_min = 0.3;
  ASSERT_TRUE(tesq_tools::Reread_Person_Entries(lexicon, trained, p, lists, &seg));
  const std::map<std::string, std::string> tags = Tags_Of(seg);
  const std::vector<Tag_Case> cases = {
      {"李白", "n apart"},  // 0.9 × 0.5: reaches the recogniser as 李 + 白 in query segmentation
      {"明白", "n"},     // 0.3 × 0.5 is too little
      {"高峰", "n"},     // stands inside the ordinary word 高峰期
      {"白居易", "nr"},  // 0.9 × √(0.6 × 0.5): a name of three characters again
      {"石家庄", "n"},   // names a place
      {"马德里", "n"},   // a transliteration
      {"李丽", "n apart"},  // a listed name too frequent for the first split
      {"高兴", "a"},     // no person entry
  };
  Expect_Tags(tags, cases);
  // A second reading changes nothing; without lists nothing is read.
  EXPECT_FALSE(tesq_tools::Reread_Person_Entries(lexicon, trained, p, lists, &seg));
  std::vector<Lexicon_Entry> plain = tesq_tools::Segmenter_Entries(lexicon, trained.foreign_dic, {}, {});
  EXPECT_FALSE(tesq_tools::Reread_Person_Entries(lexicon, trained, p, {}, &plain));
}

TEST(Trainer, ACharacterThatOpensManyGivenNamesIsAGivenNameAlone) {
  // 建 opens the given names of many three-character names, but stands
  // alone as a verb far more often than it ends a name of two.
  const auto lexicon = Lexicon({{"王建华", "50", "nr"}, {"李建明", "50", "nr"}, {"张建伟", "50", "nr"},
                                {"王建", "2", "nr"},    {"建", "90000", "v"},   {"王", "100", "n"}});
  tesq_tools::Train_Parameters p;
  p.given1_from_ss = 0;
  p.given1_type_floor = 0;
  p.given1_rare = p.given2_rare = 0;  // 建 is frequent anyway; only the rule under test
  const auto without = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, Lists());
  p.given1_from_ss = 0.15;
  const auto with = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, Lists());
  ASSERT_GT(Value(with.name_dic, "建", "ss"), 0.0);
  EXPECT_LT(Value(without.name_dic, "建", "dm"), 0.15 * Value(with.name_dic, "建", "ss"));
  EXPECT_NEAR(Value(with.name_dic, "建", "dm"), 0.15 * Value(with.name_dic, "建", "ss"), 1e-4);
}

// The lists with word senses (UTF-8 word, Sense bits).
tesq_tools::Name_Lists Lists_With_Senses(const std::vector<std::pair<const char *, unsigned>> &senses) {
  tesq_tools::Name_Lists lists = Lists();
  for (const auto &s : senses) lists.senses[Gb(s.first)] = s.second;
  return lists;
}

TEST(Trainer, WordSensesSettleTheNameAndPlaceTagsOfTheSegmenter) {
  using tesq_tools::kSense_Common;
  using tesq_tools::kSense_Person;
  using tesq_tools::kSense_Place;
  using tesq_tools::kSense_Proper;
  const auto lexicon = Lexicon({{"许可证", "900", "nr"}, {"哈希", "50", "nrt"},  {"王安", "900", "nr"},
                                {"白居易", "90", "n"},   {"周恩来", "900", "t"},  {"洛阳", "900", "n"},
                                {"眉山", "90", "ns"},    {"滕王阁", "9", "nr"},   {"新建", "900", "ns"},
                                {"太极", "276", "ns"},   {"唐代", "900", "t"},    {"美丽", "900", "ns"},
                                {"许可", "900", "v"},    {"全唐诗", "43", "nr"},  {"唐诗", "205", "nr"}});
  Dict_Entries foreign;  // 哈 and 希 mark transliterations: without senses 哈希 is a fragment
  for (const char *c : {"哈", "希"}) foreign.emplace_back(Gb(c), "t:0.9;");
  auto lists = Lists_With_Senses({{"许可证", kSense_Common},
                                        {"哈希", kSense_Common},
                                        {"王安", kSense_Person},
                                        {"白居易", kSense_Person},
                                        {"周恩来", kSense_Person},
                                        {"洛阳", kSense_Place},
                                        {"眉山", kSense_Place},
                                        {"滕王阁", kSense_Proper},
                                        {"新建", kSense_Common | kSense_Place},
                                        {"唐代", kSense_Proper},
                                        {"美丽", kSense_Common},
                                        {"唐诗", kSense_Proper}});
  lists.surnames.insert(Gb("全"));
  const std::map<std::string, std::string> tags = Segmenter_Tags(lexicon, foreign, lists);
  const std::vector<Tag_Case> cases = {
      {"许可证", "n"},  // an ordinary word the lexicon tags as a name stays a word, untagged
      {"哈希", "n"},    // ... also when its characters mark transliterations
      {"王安", "nr apart"},  // a real person with a listed surname: left to the recogniser
      {"白居易", "nr"}, // a real person of three characters: a word tagged as one
      {"周恩来", "nr"}, // a person whatever the lexicon's tag
      {"洛阳", "ns"},   // a place and nothing else, whatever the lexicon's tag
      {"眉山", "ns"},   // a place that no list holds stays a place
      {"滕王阁", "nz"}, // another proper noun
      {"新建", "n"},    // an ordinary word and a place: the lists decide
      {"太极", "n"},    // unknown to the senses: the lists decide
      {"唐代", "t"},    // a proper noun of another tag is untouched
      {"美丽", "n"},    // an ordinary word tagged ns
      {"唐诗", "nz"},   // a proper noun tagged nr
      {"全唐诗", "n"},  // holds a word that is no name (唐诗): no name either
  };
  Expect_Tags(tags, cases);
  lists.senses.erase(Gb("唐诗"));
  EXPECT_EQ(Segmenter_Tags(lexicon, foreign, lists).at("全唐诗"), "nr") << "唐诗 a person entry the senses do not know";
  lists.senses[Gb("唐诗")] = kSense_Proper;
  const auto d = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), {}, lists);
  for (const char *place : {"洛阳", "眉山", "北京"}) EXPECT_TRUE(Has(d.place, place)) << place;
  for (const char *word : {"新建", "美丽", "太极", "滕王阁", "唐代"}) EXPECT_FALSE(Has(d.place, word)) << word;
  // A place of the senses that the lexicon lacks.
  const auto more = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), {},
                                                   Lists_With_Senses({{"润州", kSense_Place}, {"眉州", kSense_Place | kSense_Common}}));
  EXPECT_TRUE(Has(more.place, "润州"));
  EXPECT_FALSE(Has(more.place, "眉州")) << "also an ordinary word";
}

TEST(Trainer, ARealPersonOfTwoCharactersPassesTheThresholdWithItsSurname) {
  // 王 opens names; 愈 stands alone as a word far more often than it ends one.
  const auto lexicon = Lexicon({{"王丽", "50", "nr"}, {"王明", "50", "nr"},  {"王芳", "50", "nr"},
                                {"王愈", "5", "nr"},  {"愈", "90000", "d"}, {"王", "100", "n"},
                                {"李愈", "5", "nr"}});
  tesq_tools::Train_Parameters p;
  p.given1_type_floor = 0;
  p.given1_rare = p.given2_rare = 0;  // only the rule under test
  const auto plain = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, Lists());
  const double x = Value(plain.name_dic, "王", "x");
  ASSERT_GT(x, p.known_person_min_surname);
  ASSERT_LT(x * Value(plain.name_dic, "愈", "dm"), tesq_tools::kPerson_Given1_Threshold);
  const auto known = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p,
                                                    Lists_With_Senses({{"王愈", tesq_tools::kSense_Person}}));
  EXPECT_NEAR(Value(known.name_dic, "愈", "dm"), p.known_person_margin * tesq_tools::kPerson_Given1_Threshold / x, 1e-4);
  // An ordinary word or a name that is also one does not count.
  const auto common = tesq_tools::Train_Dictionaries(
      lexicon, Table_Splitter({}), p,
      Lists_With_Senses({{"王愈", tesq_tools::kSense_Person | tesq_tools::kSense_Common}}));
  EXPECT_EQ(Value(common.name_dic, "愈", "dm"), Value(plain.name_dic, "愈", "dm"));
}

TEST(Trainer, ACharacterRareAsAWordIsLikelyAGivenName) {
  // 鸾 stands alone rarely and in few words; 能 is among the commonest words.
  const auto lexicon = Lexicon({{"王丽", "50", "nr"}, {"王明", "50", "nr"}, {"王芳", "50", "nr"}, {"鸾", "250", "nr"},
                                {"鸾凤", "20", "n"},  {"能", "93096", "v"}, {"能力", "900", "n"},
                                {"王", "100", "n"}});
  struct Case {
    const char *character;
    double alone, words;  // its frequency as a word alone, the lexicon words it is in (besides names)
  };
  tesq_tools::Train_Parameters p;
  const auto d = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, Lists());
  for (const Case &c : {Case{"鸾", 250, 1}, Case{"能", 93096, 1}}) {
    const double rare = p.rare_frequency / (p.rare_frequency + c.alone + p.rare_type_weight * (c.words + 1));
    EXPECT_GE(Value(d.name_dic, c.character, "dm"), p.given1_rare * rare - 1e-4) << c.character;
    EXPECT_GE(Value(d.name_dic, c.character, "ss"), p.given2_rare * rare - 1e-4) << c.character;
    EXPECT_GE(Value(d.name_dic, c.character, "sw"), p.given2_rare * rare - 1e-4) << c.character;
  }
  EXPECT_GT(Value(d.name_dic, "鸾", "dm"), 10 * Value(d.name_dic, "能", "dm"));
  EXPECT_GT(Value(d.name_dic, "王", "x") * Value(d.name_dic, "鸾", "dm"), tesq_tools::kPerson_Given1_Threshold);
  EXPECT_LT(Value(d.name_dic, "王", "x") * Value(d.name_dic, "能", "dm"), tesq_tools::kPerson_Given1_Threshold);
  p.given1_rare = p.given2_rare = 0;
  EXPECT_LT(Value(tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, Lists()).name_dic, "鸾", "dm"), 0.0)
      << "without the rule a character that opens no name has no dm";
}

}  // namespace

namespace {

TEST(Trainer, ASurnameThatStartsManyOrdinaryWordsWeighsLess) {
  // 王 and 石 open the same names and stand alone as often; 石 also starts
  // many ordinary words.
  const auto lexicon = Lexicon({{"王丽", "50", "nr"}, {"王明", "50", "nr"}, {"王芳", "50", "nr"},
                                {"石丽", "50", "nr"}, {"石明", "50", "nr"}, {"石芳", "50", "nr"},
                                {"王", "100", "n"},   {"石", "100", "n"},   {"石头", "900", "n"},
                                {"石油", "900", "n"}, {"石灰", "900", "n"}, {"石器", "900", "n"}});
  tesq_tools::Name_Lists lists = Lists();
  lists.surnames.insert(Gb("石"));
  lists.surname_rank = {{Gb("王"), 0}, {Gb("石"), 1}};
  tesq_tools::Train_Parameters p;
  p.surname_type_power = 0;
  const auto flat = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, lists);
  EXPECT_NEAR(Value(flat.name_dic, "王", "x"), Value(flat.name_dic, "石", "x"), 1e-4);
  p.surname_type_power = 1;
  const auto typed = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, lists);
  EXPECT_LT(Value(typed.name_dic, "石", "x"), 0.9 * Value(typed.name_dic, "王", "x"));
  EXPECT_GT(Value(typed.name_dic, "石", "x"), 0.0);
}

}  // namespace

namespace {

TEST(Trainer, ACharacterTheListsPutOnlyFirstInGivenNamesClosesFewNames) {
  // 诗 and 文 end as many entries as 华, but the lists know them only as the
  // first character of a given name (诗涵, 文静); 明 they know in both
  // places. A real person of the word senses ends in 文, none in 诗.
  const auto lexicon = Lexicon({{"王丽诗", "50", "nr"}, {"李明诗", "50", "nr"}, {"王丽华", "50", "nr"},
                                {"李明华", "50", "nr"}, {"王丽文", "50", "nr"}, {"李明文", "50", "nr"},
                                {"王明明", "50", "nr"}, {"诗", "900", "n"},     {"华", "900", "n"},
                                {"文", "900", "n"},     {"明", "900", "a"},     {"王", "100", "n"}});
  tesq_tools::Name_Lists lists = Lists();
  lists.given.insert(Gb("诗"));
  lists.given.insert(Gb("文"));
  lists.given_first = {Gb("诗"), Gb("文"), Gb("明")};
  lists.given_second = {Gb("华"), Gb("明")};
  lists.senses[Gb("张仲文")] = tesq_tools::kSense_Person;
  tesq_tools::Train_Parameters p;
  p.given2_opening_only = p.given2_opening_unattested = 1;
  const auto flat = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, lists);
  p.given2_opening_only = 0.45;
  p.given2_opening_unattested = 0.3;
  const auto placed = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, lists);
  struct Row {
    const char *character;
    double factor;
  } rows[] = {{"诗", 0.3}, {"文", 0.45}, {"华", 1}, {"明", 1}};
  for (const Row &row : rows) {
    ASSERT_GT(Value(flat.name_dic, row.character, "sw"), 0.0) << row.character;
    EXPECT_NEAR(Value(placed.name_dic, row.character, "sw"), row.factor * Value(flat.name_dic, row.character, "sw"),
                1e-4)
        << row.character;
  }
  EXPECT_EQ(Value(placed.name_dic, "诗", "ss"), Value(flat.name_dic, "诗", "ss")) << "it still opens names";
  lists.given_first.clear();  // lists without places: nothing is scaled
  EXPECT_EQ(Value(tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, lists).name_dic, "诗", "sw"),
            Value(flat.name_dic, "诗", "sw"));
}

TEST(Trainer, ATwoCharacterSurnameOfTheListsStaysOne) {
  // Entries of a novel start with 令狐 (令狐冲举: a name and a verb) and
  // outnumber its names; 上官 is also an ordinary word.
  const auto lexicon = Lexicon({{"令狐冲", "900", "nr"}, {"令狐冲举", "4", "i"}, {"令狐冲久", "2", "i"},
                                {"令狐冲伸", "10", "i"}, {"令狐公子", "132", "n"}, {"令狐", "486", "nr"},
                                {"上官", "67", "n"},     {"上官仪", "4", "nr"},   {"欧阳修", "90", "nr"},
                                {"欧阳", "257", "ns"},   {"欧阳峰", "9", "n"}});
  tesq_tools::Name_Lists lists = Lists();
  tesq_tools::Train_Parameters p;
  const auto plain = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, lists);
  const double share = Value(plain.name_dic, "令狐", "fx");
  ASSERT_GT(share, 0.0);
  ASSERT_LT(share, p.compound_surname_listed);
  EXPECT_EQ(Segmenter_Tags(lexicon, {}, lists).at("上官仪"), "n") << "上官 unknown as a surname";
  EXPECT_FALSE(Has(plain.name_dic, "长孙"));
  for (const char *surname : {"令狐", "上官", "长孙"}) lists.surnames.insert(Gb(surname));
  const auto listed = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), p, lists);
  EXPECT_NEAR(Value(listed.name_dic, "令狐", "fx"), p.compound_surname_listed, 1e-4);
  EXPECT_NEAR(Value(listed.name_dic, "长孙", "fx"), p.compound_surname_listed, 1e-4) << "no name entry needed";
  EXPECT_NEAR(Value(listed.name_dic, "上官", "fx"), 1 / 1.1, 1e-4) << "a higher share stands";
  EXPECT_EQ(Value(listed.name_dic, "欧阳", "fx"), Value(plain.name_dic, "欧阳", "fx")) << "not listed: its share";
  EXPECT_EQ(Segmenter_Tags(lexicon, {}, lists).at("上官仪"), "nr") << "a listed surname and a given character";
}

TEST(Trainer, AKnownNameIsKeptWholeThoughItsCharactersTransliterate) {
  // Every character of 王日休 marks transliterations too; the lexicon knows the
  // name well, so it stays a word, tagged a person. A rare entry of the same
  // shape is a fragment and goes.
  Dict_Entries foreign;
  for (const char *c : {"王", "日", "休", "丽"}) foreign.emplace_back(Gb(c), "t:0.9;");
  const tesq_tools::Name_Lists lists = Lists();
  tesq_tools::Train_Parameters p;
  struct Case {
    const char *word, *frequency, *tag;  // "" for a word left out
  } cases[] = {
      {"王日休", "275", "nr"},
      {"王休日", "30", "nr"},  // at the bound
      {"王丽日", "29", ""},    // below it: a fragment
      {"丽日休", "275", "n"},  // no surname of the lists: no person, and no fragment of one
  };
  std::vector<std::vector<std::string>> rows;
  for (const Case &c : cases) rows.push_back({c.word, c.frequency, "nr"});
  const auto tags = Tags_Of(tesq_tools::Segmenter_Entries(Lexicon(rows), foreign, p, lists));
  for (const Case &c : cases) Expect_Tags(tags, {{c.word, c.tag}});
  EXPECT_EQ(Tags_Of(tesq_tools::Segmenter_Entries(Lexicon(rows), foreign, p)).count("王日休"), 0u)
      << "without name lists every fragment goes";
}

TEST(Trainer, APlaceAndACharacterTaggedAsAPersonTrainsNoGivenName) {
  // The lexicon tags places nr: 张明郡 ends in a word for a division, 张郡北
  // holds one in the middle (a place and a character). Neither trains its
  // given-name characters, while 张明丽 does.
  // The characters are common words, so that no floor of a rare character
  // hides what the entries train.
  const std::vector<std::vector<std::string>> names = {{"张明华", "50", "nr"}, {"郡", "9000", "n"}, {"华", "9000", "n"},
                                                       {"明", "9000", "a"},    {"北", "9000", "f"}, {"丽", "9000", "n"}};
  struct Case {
    const char *entry, *character, *key;
    bool trains;
  };
  const std::vector<Case> cases = {
      {"张明郡", "明", "ss", false},
      {"张郡北", "北", "sw", false},
      {"张明丽", "丽", "sw", true},
  };
  const tesq_tools::Name_Lists lists = Lists();
  const tesq_tools::Train_Parameters p;
  const auto without = tesq_tools::Train_Dictionaries(Lexicon(names), Table_Splitter({}), p, lists);
  for (const Case &c : cases) {
    auto rows = names;
    rows.push_back({c.entry, "500", "nr"});
    const auto with = tesq_tools::Train_Dictionaries(Lexicon(rows), Table_Splitter({}), p, lists);
    if (c.trains)
      EXPECT_GT(Value(with.name_dic, c.character, c.key), Value(without.name_dic, c.character, c.key)) << c.entry;
    else
      EXPECT_EQ(Value(with.name_dic, c.character, c.key), Value(without.name_dic, c.character, c.key)) << c.entry;
  }
}

TEST(Trainer, AWordForADivisionIsNoGivenName) {
  // After a surname 郡 and 州 name a place (赵郡, 魏州), however many person
  // entries hold them as given names; 丽 in the same roles is one.
  const auto lexicon = Lexicon({{"张郡", "50", "nr"}, {"王郡华", "50", "nr"}, {"李明郡", "50", "nr"},
                                {"张州", "50", "nr"}, {"王州华", "50", "nr"}, {"张丽", "50", "nr"},
                                {"王丽华", "50", "nr"}, {"李明丽", "50", "nr"}, {"郡", "90", "n"},
                                {"州", "90", "n"},    {"丽", "90", "n"},     {"华", "90", "n"},
                                {"明", "90", "a"}});
  const auto d = tesq_tools::Train_Dictionaries(lexicon, Table_Splitter({}), {}, Lists());
  for (const char *key : {"dm", "ss", "sw"}) {
    EXPECT_EQ(Value(d.name_dic, "郡", key), -1) << key;
    EXPECT_EQ(Value(d.name_dic, "州", key), -1) << key;
    EXPECT_GT(Value(d.name_dic, "丽", key), 0) << key;
  }
}

}  // namespace
