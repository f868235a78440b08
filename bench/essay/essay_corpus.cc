#include "essay_corpus.h"

#include "gb2312.h"

namespace bench_essay {
namespace {

std::string Gb(const char *utf8) {
  std::string out;
  gb::Utf8_To_Gb(utf8, &out);
  return out;
}

struct Token {
  const char *utf8;
  int16_t tag;
};

const Token kCommonWords[] = {
    {"研究", 5}, {"发展", 5}, {"经济", 5}, {"社会", 5}, {"文化", 5}, {"历史", 5}, {"问题", 5},
    {"方法", 5}, {"理论", 5}, {"结果", 5}, {"分析", 5}, {"数据", 5}, {"系统", 5}, {"我们", 3},
    {"他们", 3}, {"时间", 5}, {"文学", 5}, {"作品", 5}, {"中国", 5}, {"现代", 6}, {"传统", 6},
};
const Token kOneCharWords[] = {
    {"的", 7}, {"了", 7}, {"在", 8}, {"是", 9}, {"和", 10}, {"也", 11}, {"很", 11}, {"，", 41}, {"。", 41},
};
const Token kPersons[][2] = {{{"张", 21}, {"伟", 21}}, {{"王", 21}, {"芳", 21}}, {{"李", 21}, {"明", 21}}};
const Token kPlaces[] = {{"北京", 22}, {"上海", 22}, {"南京", 22}};
const Token kOrganisations[] = {{"人民银行", 23}, {"作家协会", 23}};

// A small linear congruential generator: the same essay on every run.
struct Random {
  uint32_t state = 12345;
  uint32_t Next(uint32_t bound) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % bound;
  }
};

void Add(Corpus *c, const Token &t, Cut cut) {
  const std::string word = Gb(t.utf8);
  if (cut == Cut::kWords) {
    c->text += word;
    c->ends.push_back(static_cast<int32_t>(c->text.size()));
    c->tags.push_back(t.tag);
    return;
  }
  for (size_t k = 0; k < word.size(); k += 2) {
    c->text += word.substr(k, 2);
    c->ends.push_back(static_cast<int32_t>(c->text.size()));
    c->tags.push_back(0);
  }
}

template <size_t N>
const Token &Pick(Random &r, const Token (&list)[N]) {
  return list[r.Next(N)];
}

}  // namespace

Corpus Make_Corpus(size_t bytes, Cut cut) {
  Corpus c;
  Random r;
  while (c.text.size() < bytes) {
    const uint32_t roll = r.Next(100);
    if (roll < 60) {
      Add(&c, Pick(r, kCommonWords), cut);
    } else if (roll < 85) {
      Add(&c, Pick(r, kOneCharWords), cut);
    } else if (roll < 90) {
      const auto &person = kPersons[r.Next(3)];
      Add(&c, person[0], cut);
      Add(&c, person[1], cut);
    } else if (roll < 95) {
      Add(&c, Pick(r, kPlaces), cut);
    } else {
      Add(&c, Pick(r, kOrganisations), cut);
    }
  }
  return c;
}

std::vector<Dictionary_Word> Corpus_Dictionary() {
  return {
      {"name_dic", Gb("张"), "x:0.9;"}, {"name_dic", Gb("王"), "x:0.9;"}, {"name_dic", Gb("李"), "x:0.9;"},
      {"name_dic", Gb("伟"), "dm:0.5;"}, {"name_dic", Gb("芳"), "dm:0.5;"}, {"name_dic", Gb("明"), "dm:0.5;"},
      {"place", Gb("北京"), ""},          {"place", Gb("上海"), ""},          {"place", Gb("南京"), ""},
      {"org_dic", Gb("人民"), "b:0.5;"},  {"org_dic", Gb("银行"), "e:0.6;"},  {"foreign_dic", Gb("斯"), ""},
  };
}

}  // namespace bench_essay
