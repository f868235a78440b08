#include "segmenter.h"

#include <cstring>
#include <vector>

#include "gb2312.h"
#include "tags.h"

namespace vornel {

namespace {

inline bool Is_Word_Ascii(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '+' || c == '#' ||
         c == '&' || c == '.' || c == '_' || c == '%' || c == '-';
}

inline bool Is_Space(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The tag of a two-byte character that is not a Han character of the
// lexicon, by its GB2312 row.
int16_t Symbol_Tag(unsigned char lead, unsigned char trail) {
  switch (lead) {
    case 0xA1:
    case 0xA9:
      return VORNEL_TAG_PUNCTUATION;
    case 0xA2:
      return VORNEL_TAG_NUMERAL;
    case 0xA3:
      if (trail >= 0xB0 && trail <= 0xB9) return VORNEL_TAG_NUMERAL;
      if ((trail >= 0xC1 && trail <= 0xDA) || (trail >= 0xE1 && trail <= 0xFA)) return VORNEL_TAG_LETTERS;
      return VORNEL_TAG_PUNCTUATION;
    case 0xA4:
    case 0xA5:
    case 0xA6:
    case 0xA7:
    case 0xA8:
      return VORNEL_TAG_LETTERS;
    default:
      return VORNEL_TAG_UNKNOWN;
  }
}

// Working arrays for the Han runs of one segmentation, grown as needed and
// reused from run to run. One per call rather than per thread: a
// thread-exit destructor is what a DLL must not have (in a Windows DLL it
// runs on storage already freed, and the fault is swallowed while the
// thread holds the heap's lock).
struct Work {
  std::vector<uint16_t> codes;
  std::vector<double> score;
  std::vector<uint32_t> end;
  std::vector<int16_t> tag;
};

class Writer {
 public:
  Writer(int32_t *ends, int16_t *tags, size_t capacity) : ends_(ends), tags_(tags), capacity_(capacity) {}
  bool Add(size_t end, int16_t tag) {
    if (count_ >= capacity_) {
      overflow_ = true;
      return false;
    }
    ends_[count_] = static_cast<int32_t>(end);
    tags_[count_] = tag;
    ++count_;
    return true;
  }
  long Result() const { return overflow_ ? -1 : static_cast<long>(count_); }

 private:
  int32_t *ends_;
  int16_t *tags_;
  size_t capacity_;
  size_t count_ = 0;
  bool overflow_ = false;
};

// Maximum-probability segmentation of one Han run of `n` characters starting
// at byte `start`.
bool Segment_Han(const Lexicon &lex, Work &w, size_t n, size_t start, bool whole_word, bool names_apart,
                 Writer &out) {
  if (w.score.size() < n + 1) {
    w.score.resize(n + 1);
    w.end.resize(n + 1);
    w.tag.resize(n + 1);
  }
  double *score = w.score.data();
  uint32_t *end = w.end.data();
  int16_t *tag = w.tag.data();
  const uint16_t *codes = w.codes.data();
  const double unknown = lex.Unknown_Weight();
  score[n] = 0.0;
  for (size_t i = n; i-- > 0;) {
    double best = 0;
    long best_end = -1;
    int16_t best_tag = VORNEL_TAG_UNKNOWN;
    uint32_t node = lex.Root(codes[i]);
    for (size_t j = i; node != 0;) {
      if (lex.Is_Word(node) && !(names_apart && lex.Is_Apart(node)) && (whole_word || i != 0 || j + 1 != n)) {
        const double s = lex.Weight(node) + score[j + 1];
        // Ends grow along the walk, so >= keeps the longer word on a tie.
        if (best_end < 0 || s >= best) {
          best = s;
          best_end = static_cast<long>(j);
          best_tag = lex.Tag(node);
        }
      }
      if (++j == n) break;
      node = lex.Child(node, codes[j]);
    }
    if (best_end < 0) {
      best = unknown + score[i + 1];
      best_end = static_cast<long>(i);
      best_tag = VORNEL_TAG_UNKNOWN;
    }
    score[i] = best;
    end[i] = static_cast<uint32_t>(best_end);
    tag[i] = best_tag;
  }
  for (size_t i = 0; i < n;) {
    const size_t j = end[i] + 1;
    if (!out.Add(start + 2 * j, tag[i])) return false;
    i = j;
  }
  return true;
}

}  // namespace

long Segment(const Lexicon &lexicon, const char *text, size_t size, int32_t *ends, int16_t *tags,
             size_t capacity, bool whole_word, bool names_apart) {
  Work work;
  Writer out(ends, tags, capacity);
  const unsigned char *t = reinterpret_cast<const unsigned char *>(text);
  size_t i = 0;
  while (i < size) {
    const unsigned char c = t[i];
    if (c < 0x80) {
      size_t j = i + 1;
      int16_t tag;
      if (Is_Word_Ascii(c)) {
        bool letter = false, digit = false;
        for (j = i; j < size && Is_Word_Ascii(t[j]); ++j) {
          letter |= (t[j] >= 'a' && t[j] <= 'z') || (t[j] >= 'A' && t[j] <= 'Z');
          digit |= t[j] >= '0' && t[j] <= '9';
        }
        tag = letter ? VORNEL_TAG_LETTERS : digit ? VORNEL_TAG_NUMERAL : VORNEL_TAG_PUNCTUATION;
      } else if (Is_Space(c)) {
        while (j < size && Is_Space(t[j])) ++j;
        tag = VORNEL_TAG_PUNCTUATION;
      } else {
        tag = (c < 0x20 || c == 0x7F) ? VORNEL_TAG_UNKNOWN : VORNEL_TAG_PUNCTUATION;
      }
      if (!out.Add(j, tag)) return -1;
      i = j;
      continue;
    }
    if (gb::Char_Length(text + i, size - i) != gb::kWide_Char_Bytes) {
      // A GBK character beyond GB2312 is one word; any other byte is a
      // malformed byte, a word of its own.
      const size_t length = i + 1 < size && gb::Is_Gbk_Pair(c, t[i + 1]) ? 2 : 1;
      if (!out.Add(i + length, VORNEL_TAG_UNKNOWN)) return -1;
      i += length;
      continue;
    }
    int code = Han_Code(c, t[i + 1]);
    if (code < 0) {
      if (!out.Add(i + 2, Symbol_Tag(c, t[i + 1]))) return -1;
      i += 2;
      continue;
    }
    work.codes.clear();
    const size_t start = i;
    while (code >= 0) {
      work.codes.push_back(static_cast<uint16_t>(code));
      i += 2;
      if (i + 1 >= size) break;
      code = Han_Code(t[i], t[i + 1]);
    }
    const bool whole = whole_word || start != 0 || i != size;
    if (!Segment_Han(lexicon, work, work.codes.size(), start, whole, names_apart, out)) return -1;
  }
  return out.Result();
}

}  // namespace vornel
