// tesq eval: held-out evaluation of the trained dictionaries, beside jieba.
//
//   tesq eval [--lexicon FILE] [--fold N] [--work DIR] [--no-jieba]
//             [--python PATH] [--param NAME=VALUE]...
//
// A deterministic hash of each word (FNV-1a of its GB2312 bytes, modulo 10)
// holds out the words of one tenth of the lexicon (the fold, 0 by default).
// The segmenter lexicon and the dictionaries are built from the other nine
// tenths (eval_split.h), the library is started on them, and the held-out
// words are classified one by one (Tesquin_Search_Singleword) and inside
// sentence templates (Tesquin_Search_Essay). The same items go through
// jieba's posseg, with the held-out words taken out of jieba's dictionary.
// Prints the table in Markdown.
#if defined(_WIN32)
// The evaluation drives python jieba beside the library and is a tool of the
// Linux development machine; the Windows tool says so.
#include <cstdio>

#include "commands.h"

int Command_Eval(int, char **) {
  std::fprintf(stderr, "tesq eval: not available on Windows; run it on the Linux build\n");
  return 2;
}
#else
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "commands.h"
#include "data_dir.h"
#include "dict_sources.h"
#include "dict_trainer.h"
#include "eval_split.h"
#include "gb2312.h"
#include "tesqsrch/tesqsrch.h"
#include "vornel/vornel.h"

namespace {

using tesq_tools::Lexicon_Entry;

const char kDefault_Lexicon[] = "/usr/lib/python3/dist-packages/jieba/dict.txt";

// The sentence templates; {} marks the name.
const char *const kTemplates[] = {"记者{}报道", "在{}召开", "{}发布通知"};

// jieba's side: reads the items, writes one 0/1 per item.
const char kJieba_Script[] = R"PY(
import sys
import jieba, jieba.posseg
jieba.setLogLevel(60)
dict_file, items_file, out_file = sys.argv[1:4]
tok = jieba.Tokenizer(dictionary=dict_file)
pos = jieba.posseg.POSTokenizer(tok)
NAME = {'nr', 'nrt', 'nrfg', 'ns', 'nt'}
WANT = {'person': ('nr', 'nrt', 'nrfg'), 'foreign': ('nr', 'nrt', 'nrfg'), 'foreign_known': ('nr', 'nrt', 'nrfg'),
        'org': ('nt',), 'fund': ('nt',),
        'place_known': ('ns',), 'place_new': ('ns',)}
with open(items_file, encoding='utf-8') as f, open(out_file, 'w') as out:
    for line in f:
        kind, text, s, e = line.rstrip('\n').split('\t')
        s, e = int(s), int(e)
        at, hit = 0, 0
        for w in pos.cut(text):
            a, b = at, at + len(w.word)
            at = b
            if kind == 'ordinary':
                if w.flag in NAME and a < e and b > s:
                    hit = 1
            elif a == s and b == e and w.flag in WANT[kind]:
                hit = 1
        out.write('%d\n' % hit)
)PY";

struct Item {
  std::string kind;  // person, foreign, foreign_known, org, fund, ordinary, place_known, place_new
  bool sentence;
  std::string text;  // GB2312
  int32_t start, end;  // the name's bytes in text
  int ours = 0, jieba = 0;
  int ours_merge = 0;  // ordinary words: a name span that the segmenter did not give
  int ours_cover = 0;  // ... and that covers the whole word
};

std::string Gb(const char *utf8) {
  std::string out;
  gb::Utf8_To_Gb(utf8, &out);
  return out;
}

std::string Utf8(const std::string &gbtext) {
  std::string out;
  gb::Gb_To_Utf8(gbtext, &out);
  return out;
}

const char *Expected_Label(const std::string &kind) {
  if (kind == "person" || kind == "foreign" || kind == "foreign_known") return "人名";
  if (kind == "org") return "机构名";
  if (kind == "fund") return "基金";
  return nullptr;
}

int Expected_Tag(const std::string &kind) {
  if (kind == "person") return 21;
  if (kind == "org") return 23;
  return 22;
}

struct Span {
  int32_t start, end;
  int16_t tag;
};

std::vector<Span> Essay_Words(const std::string &text, bool merged) {
  const int32_t count = static_cast<int32_t>(text.size()) + 1;
  std::vector<int32_t> ends(count);
  std::vector<int16_t> tags(count);
  std::vector<Span> out;
  const int32_t result = merged ? Tesquin_Search_Essay(text.c_str(), ends.data(), count, -1, 1, tags.data())
                                : (KV_Word_Sect(text.c_str(), ends.data(), count - 1, -1, 1, tags.data(), 2048, 0,
                                                0, 0) != 0
                                       ? 0
                                       : 1);
  if (result != 0) return out;
  for (int32_t i = 0, start = 0; i < count && ends[i] > 0; start = ends[i++]) out.push_back({start, ends[i], tags[i]});
  return out;
}

void Run_Ours(Item *item) {
  if (!item->sentence) {
    char label[256];
    uint32_t size = sizeof label;
    const int32_t r = Tesquin_Search_Singleword(item->text.c_str(), label, &size);
    const char *want = Expected_Label(item->kind);
    if (item->kind == "ordinary")
      item->ours = r == 0;
    else
      item->ours = r == 0 && Gb(want) == label;
    return;
  }
  const std::vector<Span> words = Essay_Words(item->text, true);
  if (item->kind == "ordinary") {
    std::vector<Span> plain;
    for (const Span &w : words) {
      if (w.tag < 21 || w.tag > 23 || w.start >= item->end || w.end <= item->start) continue;
      item->ours = 1;
      if (plain.empty()) plain = Essay_Words(item->text, false);
      bool given = false;
      for (const Span &p : plain) given |= p.start == w.start && p.end == w.end && p.tag == w.tag;
      if (given) continue;
      item->ours_merge = 1;
      if (w.start <= item->start && w.end >= item->end) item->ours_cover = 1;
    }
    return;
  }
  for (const Span &w : words)
    if (w.start == item->start && w.end == item->end && w.tag == Expected_Tag(item->kind)) item->ours = 1;
}

bool Known_Surname(const std::string &gbchar) {
  static const std::string list = Gb(
      "赵钱孙李周吴郑王冯陈褚卫蒋沈韩杨朱秦尤许何吕施张孔曹严华金魏陶姜戚谢邹喻柏水窦章云苏潘葛奚范彭郎鲁韦昌"
      "马苗凤花方俞任袁柳酆鲍史唐费廉岑薛雷贺倪汤滕殷罗毕郝邬安常乐于时傅皮卞齐康伍余元卜顾孟平黄和穆萧尹姚邵"
      "湛汪祁毛禹狄米贝明臧计伏成戴谈宋茅庞熊纪舒屈项祝董梁杜阮蓝闵席季麻强贾路娄危江童颜郭梅盛林刁钟徐邱骆高"
      "夏蔡田樊胡凌霍虞万支柯昝管卢莫经房裘缪干解应宗丁宣贲邓郁单杭洪包诸左石崔吉钮龚程嵇邢滑裴陆荣翁荀羊於惠"
      "甄曲家封芮羿储靳汲邴糜松井段富巫乌焦巴弓牧隗山谷车侯宓蓬全郗班仰秋仲伊宫宁仇栾暴甘钭厉戎祖武符刘景詹束"
      "龙叶幸司韶郜黎蓟薄印宿白怀蒲邰从鄂索咸籍赖卓蔺屠蒙池乔阴胥能苍双闻莘党翟谭贡劳逄姬申扶堵冉宰郦雍璩桑桂"
      "濮牛寿通边扈燕冀郏浦尚农温别庄晏柴瞿阎充慕连茹习宦艾鱼容向古易慎戈廖庾终暨居衡步都耿满弘匡国文寇广禄阙"
      "东欧殳沃利蔚越夔隆师巩厍聂晁勾敖融冷訾辛阚那简饶空曾毋沙乜养鞠须丰巢关蒯相查后荆红游竺权逯盖益桓公");
  for (size_t i = 0; i + 1 < list.size(); i += 2)
    if (list.compare(i, 2, gbchar) == 0) return true;
  return false;
}

int Fail(const std::string &what) {
  std::fprintf(stderr, "tesq eval: %s\n", what.c_str());
  return 1;
}

void Usage(FILE *out) {
  std::fprintf(out,
               "usage: tesq eval [--lexicon FILE] [--fold N] [--work DIR] [--no-jieba] [--python PATH]\n"
               "                 [--param NAME=VALUE]... [--dump FILE]\n\n"
               "Holds out the lexicon words whose hash falls in fold N (0-9, default 0), trains\n"
               "the dictionaries on the rest, and prints the recall of the held-out names and\n"
               "the false labels of held-out ordinary words, ours beside jieba's posseg (run by\n"
               "PATH, default /usr/bin/python3, with the held-out words out of its dictionary).\n"
               "The lexicon defaults to %s.\n"
               "--dump writes every item with its two verdicts (1 = recognised or labelled) and,\n"
               "for ordinary words in sentences, whether our recognisers merged a name over part\n"
               "of it and over the whole of it.\n"
               "--help shows this help.\n",
               kDefault_Lexicon);
}

}  // namespace

int Command_Eval(int argc, char **argv) {
  std::string lexicon_path = kDefault_Lexicon, work_dir, python = "/usr/bin/python3", dump_path;
  int fold = 0;
  bool with_jieba = true;
  std::vector<std::string> params;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    }
    if (arg == "--no-jieba") {
      with_jieba = false;
      continue;
    }
    if (i + 1 < argc && (arg == "--lexicon" || arg == "--work" || arg == "--python" || arg == "--param" || arg == "--dump" ||
                         arg == "--fold")) {
      const std::string v = argv[++i];
      if (arg == "--lexicon") lexicon_path = v;
      if (arg == "--work") work_dir = v;
      if (arg == "--python") python = v;
      if (arg == "--dump") dump_path = v;
      if (arg == "--param") params.push_back(v);
      if (arg == "--fold") {
        if (v.size() != 1 || v[0] < '0' || v[0] > '9') return Fail("--fold takes 0 to 9");
        fold = v[0] - '0';
      }
      continue;
    }
    std::fprintf(stderr, "tesq eval: unexpected argument '%s'\n", argv[i]);
    Usage(stderr);
    return 2;
  }
  bool remove_work = false;
  if (work_dir.empty()) {
    char templ[] = "/tmp/tesq-eval-XXXXXX";
    if (mkdtemp(templ) == nullptr) return Fail("cannot create a working directory");
    work_dir = templ;
    remove_work = true;
  }
  std::error_code ec;
  std::filesystem::create_directories(work_dir, ec);
  if (ec) return Fail("cannot create " + work_dir + ": " + ec.message());
  const std::string data_dir = tesq::Join_Path(work_dir, "data");

  tesq_tools::Lexicon_Source src;
  std::string error;
  if (!tesq_tools::Read_Lexicon_Text(lexicon_path, &src, &error)) return Fail(error);
  tesq_tools::Lexicon_Source train;
  train.total = src.total;
  std::vector<Lexicon_Entry> held;
  for (const Lexicon_Entry &e : src.entries)
    (tesq_tools::Held_Out(e.word, fold) ? held : train.entries).push_back(e);
  const std::string train_path = tesq::Join_Path(work_dir, "train_lexicon.txt");
  if (!tesq_tools::Write_Lexicon_Text(train_path, train, &error)) return Fail(error);

  // Train and build on nine tenths.
  std::vector<std::string> args = {"build-dicts", "--lexicon", train_path, "--out", data_dir};
  for (const std::string &p : params) {
    args.push_back("--param");
    args.push_back(p);
  }
  std::vector<char *> argv_build;
  for (std::string &a : args) argv_build.push_back(&a[0]);
  argv_build.push_back(nullptr);
  std::fflush(stdout);
  {
    // The builder's summary goes to stderr here, to keep stdout for the table.
    const int saved = dup(1);
    if (dup2(2, 1) < 0) return Fail("cannot redirect output");
    const int built = Command_Build_Dicts(static_cast<int>(args.size()), argv_build.data());
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    if (built != 0) return Fail("building the dictionaries failed");
  }

  // The items.
  std::vector<Item> items;
  auto add = [&items](const std::string &kind, const std::string &word, bool single, bool sentences) {
    if (single) items.push_back({kind, false, word, 0, static_cast<int32_t>(word.size())});
    if (!sentences) return;
    for (const char *t : kTemplates) {
      const size_t at = std::string(t).find("{}");
      const std::string before = Gb(std::string(t).substr(0, at).c_str());
      const std::string after = Gb(std::string(t).substr(at + 2).c_str());
      items.push_back({kind, true, before + word + after, static_cast<int32_t>(before.size()),
                       static_cast<int32_t>(before.size() + word.size())});
    }
  };
  const std::set<std::string> ordinary_tags = {"n", "v", "a", "vn", "l", "i"};
  for (const Lexicon_Entry &e : held) {
    const size_t chars = e.word.size() / 2;
    if (tesq_tools::Is_Fund_Word(e.word))
      add("fund", e.word, true, false);
    else if (e.tag == "nr" && (chars == 2 || chars == 3) && Known_Surname(e.word.substr(0, 2)))
      add("person", e.word, true, true);
    else if (e.tag == "nrt" && chars >= 2)
      add("foreign", e.word, true, false);
    else if (e.tag == "nt" && chars >= 2)
      add("org", e.word, true, true);
    else if (e.tag == "ns" && chars >= 2)
      add("place_new", e.word, false, true);
    else if (ordinary_tags.count(e.tag) > 0)
      add("ordinary", e.word, true, true);
  }
  // Known places and transliterated names: a tenth of the trained ones.
  for (const Lexicon_Entry &e : train.entries) {
    if (!tesq_tools::Held_Out(e.word, (fold + 1) % 10)) continue;
    if (e.tag == "ns" && e.word.size() >= 4) add("place_known", e.word, false, true);
    if (e.tag == "nrt" && e.word.size() >= 4) add("foreign_known", e.word, true, false);
  }

  // Ours.
  setenv("TESQ_DATA_DIR", data_dir.c_str(), 1);
  setenv("TESQ_DB", tesq::Join_Path(work_dir, "no-terms.db").c_str(), 1);
  if (Tesquin_Init(0) != 0) return Fail("the library does not start on the trained data");
  for (Item &item : items) Run_Ours(&item);
  Tesquin_UnInit();

  // jieba, with the held-out words out of its dictionary.
  if (with_jieba) {
    std::unordered_set<std::string> held_utf8;
    for (const Lexicon_Entry &e : held) held_utf8.insert(Utf8(e.word));
    std::ifstream in(lexicon_path);
    const std::string jieba_dict = tesq::Join_Path(work_dir, "jieba_dict.txt");
    std::ofstream dict_out(jieba_dict);
    for (std::string line; std::getline(in, line);)
      if (held_utf8.count(line.substr(0, line.find(' '))) == 0) dict_out << line << '\n';
    dict_out.close();
    const std::string items_path = tesq::Join_Path(work_dir, "items.tsv");
    std::ofstream items_out(items_path);
    for (const Item &item : items)
      items_out << item.kind << '\t' << Utf8(item.text) << '\t' << item.start / 2 << '\t' << item.end / 2 << '\n';
    items_out.close();
    const std::string script = tesq::Join_Path(work_dir, "jieba_eval.py");
    std::ofstream(script) << kJieba_Script;
    const std::string results = tesq::Join_Path(work_dir, "jieba_results.txt");
    const std::string command = python + " '" + script + "' '" + jieba_dict + "' '" + items_path + "' '" + results + "'";
    if (std::system(command.c_str()) != 0) return Fail("jieba's run failed: " + command);
    std::ifstream res(results);
    size_t k = 0;
    for (std::string line; std::getline(res, line) && k < items.size(); ++k) items[k].jieba = line == "1";
    if (k != items.size()) return Fail("jieba's results are incomplete");
  }

  if (!dump_path.empty()) {
    std::ofstream dump(dump_path);
    for (const Item &item : items) {
      std::string text = item.text;
      if (item.sentence) text.insert(item.end, "]").insert(item.start, "[");
      dump << item.kind << '\t' << (item.sentence ? "sentence" : "word") << '\t' << Utf8(text) << '\t' << item.ours
           << '\t' << item.jieba << '\t' << item.ours_merge << '\t' << item.ours_cover << '\n';
    }
  }

  // The table.
  struct Row {
    const char *title, *kind;
    bool sentence;
    const char *target;
  };
  const Row rows[] = {
      {"Person names (2-3 chars, known surname), single word: 人名", "person", false, ">= 75%"},
      {"Person names, in sentences: merged span, tag 21", "person", true, ">= 70%"},
      {"Transliterated names (nrt), single word: 人名", "foreign", false, ">= 45%"},
      {"Known transliterated names (trained nrt), single word: 人名", "foreign_known", false, ""},
      {"Organisations (nt), single word: 机构名", "org", false, ">= 35%"},
      {"Organisations, in sentences: merged span, tag 23", "org", true, ">= 25%"},
      {"Funds (基金 words), single word: 基金", "fund", false, ""},
      {"Known places (trained ns), in sentences: span, tag 22", "place_known", true, ">= 98%"},
      {"Held-out places (ns), in sentences: span, tag 22", "place_new", true, ""},
      {"Ordinary words (n v a vn l i), single word: any label (false)", "ordinary", false, "<= 0.5%"},
      {"Ordinary words, in sentences: name span over the word (false)", "ordinary", true, "<= 0.05%"},
  };
  std::printf("Held-out fold %d of 10: %zu of %zu lexicon words held out; %zu items.\n\n", fold, held.size(),
              src.entries.size(), items.size());
  std::printf("| Measure | Items | Ours | jieba | Target |\n|---|---:|---:|---:|---|\n");
  for (const Row &row : rows) {
    size_t n = 0, ours = 0, jieba = 0;
    for (const Item &item : items)
      if (item.kind == row.kind && item.sentence == row.sentence) {
        ++n;
        ours += item.ours;
        jieba += item.jieba;
      }
    const bool fine = std::string(row.kind) == "ordinary";
    const double d = n > 0 ? 100.0 * ours / n : 0, j = n > 0 ? 100.0 * jieba / n : 0;
    std::printf("| %s | %zu | %.*f%% | ", row.title, n, fine ? 2 : 1, d);
    if (with_jieba)
      std::printf("%.*f%% | %s |\n", fine ? 2 : 1, j, row.target);
    else
      std::printf("- | %s |\n", row.target);
  }
  size_t n = 0, merges = 0, covers = 0;
  for (const Item &item : items)
    if (item.kind == "ordinary" && item.sentence) {
      ++n;
      merges += item.ours_merge;
      covers += item.ours_cover;
    }
  std::printf("| ... of which merged by the recognisers (not a segmenter word) | %zu | %.2f%% | | |\n", n,
              n > 0 ? 100.0 * merges / n : 0);
  std::printf("| ... of which the merged span covers the whole word | %zu | %.2f%% | | |\n", n,
              n > 0 ? 100.0 * covers / n : 0);
  if (remove_work) std::filesystem::remove_all(work_dir, ec);
  return 0;
}
#endif
