// The extension's work over the library; see tesq_pg_core.h.
#include "tesq_pg_core.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "cli_options.h"
#include "gb2312.h"
#include "library_calls.h"
#include "tesqsrch/tesqsrch.h"
#include "trace_rotation.h"
#include "vornel/vornel.h"

namespace tesqpg {
namespace {

struct Kind_Info {
  const char *alias, *description;
};
constexpr Kind_Info kKinds[kLast_Kind] = {
    {"person", "Person name"},           {"place", "Place name"},
    {"organisation", "Organisation name"}, {"fund", "Fund name"},
    {"isbn", "ISBN"},                    {"issn", "ISSN"},
    {"cn", "CN serial number"},          {"patent", "Patent number"},
    {"term", "Known term"},              {"word", "Word"},
    {"numeral", "Numeral"},              {"latin", "Latin letters"},
    {"blank", "Punctuation and white space"}, {"nogb2312", "Character without a GB2312 form"},
};

// The library's labels (UTF-8) and the kinds they give a word.
struct Label_Kind {
  const char *label;
  int kind;
};
constexpr Label_Kind kLabel_Kinds[] = {
    {"人名", kPerson}, {"地名", kPlace}, {"机构名", kOrganisation}, {"基金", kFund},
    {"ISBN", kIsbn},   {"ISSN", kIssn},  {"CN", kCn},                {"专利号", kPatent},
};

int Kind_Of_Tag(int tag) {
  switch (tag) {
    case VORNEL_TAG_PERSON: return kPerson;
    case VORNEL_TAG_PLACE: return kPlace;
    case VORNEL_TAG_ORGANISATION: return kOrganisation;
    case VORNEL_TAG_NUMERAL: return kNumeral;
    case VORNEL_TAG_PUNCTUATION: return kBlank;
    case VORNEL_TAG_LETTERS: return kLatin;
    default: return kWord;
  }
}

int Kind_Of_Label(const std::string &label) {
  for (const Label_Kind &k : kLabel_Kinds)
    if (label == k.label) return k.kind;
  return kTerm;  // any other label is a category of the term table
}

// The GB2312 form of a UTF-8 character, or false (no form, or malformed).
// *length is the character's UTF-8 length (at least 1).
bool Gb_Form(const char *text, size_t size, size_t pos, std::string *out, size_t *length) {
  const unsigned char c = static_cast<unsigned char>(text[pos]);
  if (c < 0x80) {
    *length = 1;
    out->push_back(static_cast<char>(c));
    return true;
  }
  uint32_t cp = 0;
  const size_t n = gb::Decode_Utf8(std::string_view(text, size), pos, &cp);
  *length = n == 0 ? 1 : n;
  unsigned char two[2];
  if (n == 0 || !gb::From_Unicode(cp, two)) return false;
  out->push_back(static_cast<char>(two[0]));
  out->push_back(static_cast<char>(two[1]));
  return true;
}

// The whole text in GB2312, or a fault naming its first bad character.
bool To_Gb(const char *text, size_t size, std::string *gb, Text_Fault *fault) {
  gb->clear();
  size_t chars = 0;
  for (size_t pos = 0; pos < size; ++chars) {
    size_t length = 1;
    if (!Gb_Form(text, size, pos, gb, &length)) {
      fault->failed = true;
      fault->char_offset = chars;
      uint32_t cp = 0;
      char code[16] = "";
      if (gb::Decode_Utf8(std::string_view(text, size), pos, &cp) != 0)
        std::snprintf(code, sizeof code, " (U+%04X)", static_cast<unsigned>(cp));
      fault->message = "the character \"" + std::string(text + pos, length) + "\"" + code + " at offset " +
                       std::to_string(chars) + " has no GB2312 form";
      return false;
    }
    pos += length;
  }
  return true;
}

bool To_Utf8(const std::string &gb, std::string *out) { return gb::Gb_To_Utf8(gb, out, nullptr, true); }

int32_t g_started = 1;  // 1: not tried yet; else Tesquin_Init's result

uint32_t Word_Hash(const char *word, size_t size) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (size_t i = 0; i < size; ++i) hash = (hash ^ static_cast<unsigned char>(word[i])) * 16777619u;
  return hash;
}

// The kinds the words of classified walks were given, by GB2312 word; 0 is a
// word with no category, which keeps the kind of its tag. Every token of a
// document is looked up here, so it is an open-addressed table of fixed
// size whose slots hold the word's hash and the word itself when it is short,
// else its place in one buffer of bytes: a word met again costs a hash, one
// slot and one comparison. Only one thread runs in a backend.
class Kept_Kinds_Table {
 public:
  // The kept kind of a word (of 1 to kMost_Kept_Bytes bytes), or false.
  bool Find(const char *word, size_t size, int *kind) const {
    const int at = Char_At(word, size);
    if (at >= 0) {
      if (char_kinds_[at] == 0) return false;
      *kind = char_kinds_[at] - 1;
      return true;
    }
    if (slots_.empty()) return false;
    const uint32_t hash = Word_Hash(word, size);
    for (size_t i = hash & kMask;; i = (i + 1) & kMask) {
      const Slot &slot = slots_[i];
      if (slot.era != era_) return false;
      if (slot.hash == hash && slot.size == size && std::memcmp(Bytes_Of(slot), word, size) == 0) {
        *kind = slot.kind;
        return true;
      }
    }
  }
  // Keeps a word not kept yet (of 1 to kMost_Kept_Bytes bytes); a full table
  // starts afresh.
  void Keep(const char *word, size_t size, int kind) {
    if (count_ >= kMost_Kept_Words) Clear();
    const int at = Char_At(word, size);
    if (at >= 0) {
      char_kinds_[at] = static_cast<int8_t>(kind + 1);
      ++count_;
      ++chars_kept_;
      return;
    }
    if (slots_.empty()) {
      slots_.resize(kSlots);
      bytes_.reserve(kMost_Kept_Words * 8);
    }
    const uint32_t hash = Word_Hash(word, size);
    size_t i = hash & kMask;
    while (slots_[i].era == era_) i = (i + 1) & kMask;
    Slot &slot = slots_[i];
    slot = Slot{};
    slot.hash = hash;
    slot.size = static_cast<uint8_t>(size);
    slot.kind = static_cast<int8_t>(kind);
    slot.era = era_;
    if (size <= sizeof slot.inline_bytes) {
      std::memcpy(slot.inline_bytes, word, size);
    } else {
      slot.offset = static_cast<uint32_t>(bytes_.size());
      bytes_.append(word, size);
    }
    ++count_;
  }
  // Empties the table at once, however full: every transaction ends with
  // it. The slots of earlier eras count as empty; only when the era counter
  // comes round again are they wiped.
  void Clear() {
    if (count_ == 0) return;
    if (chars_kept_ != 0) std::memset(char_kinds_, 0, sizeof char_kinds_);
    chars_kept_ = 0;
    if (++era_ == 0) {
      std::fill(slots_.begin(), slots_.end(), Slot{});
      era_ = 1;
    }
    bytes_.clear();
    count_ = 0;
  }
  size_t Count() const { return count_; }

 private:
  // A word of one character (a byte below 0x80, or a GB2312 pair) is the
  // commonest token: its kind sits in a small array, at its code, which
  // stays in the cache where the slots of the table cannot. -1 for a longer
  // word.
  static int Char_At(const char *word, size_t size) {
    const unsigned char first = static_cast<unsigned char>(word[0]);
    if (size == 1) return first < 0x80 ? first : -1;
    if (size != 2) return -1;
    const unsigned char second = static_cast<unsigned char>(word[1]);
    if (first < 0xA1 || first > 0xFE || second < 0xA1 || second > 0xFE) return -1;
    return 0x80 + (first - 0xA1) * 94 + (second - 0xA1);
  }
  // A word of up to 8 bytes (most words: a Han word of four characters)
  // is held in its slot, so that finding it reads no other memory.
  struct Slot {
    uint32_t hash = 0;
    union {
      uint32_t offset;  // in bytes_, for a longer word
      char inline_bytes[8] = {};
    };
    uint8_t size = 0;
    int8_t kind = 0;
    uint16_t era = 0;  // the slot is in use when this is the table's era
  };
  // Twice the most words kept, so that a probe ends soon.
  static constexpr size_t kSlots = kMost_Kept_Words * 2;
  static constexpr size_t kMask = kSlots - 1;
  static_assert((kSlots & kMask) == 0, "a power of two");
  static_assert(kMost_Kept_Bytes <= UINT8_MAX && kLast_Kind <= INT8_MAX, "a slot holds a word's size and kind");
  const char *Bytes_Of(const Slot &slot) const {
    return slot.size <= sizeof slot.inline_bytes ? slot.inline_bytes : bytes_.data() + slot.offset;
  }
  std::vector<Slot> slots_;
  std::string bytes_;
  int8_t char_kinds_[0x80 + 94 * 94] = {};  // a character's kind + 1; 0 when not kept
  size_t count_ = 0, chars_kept_ = 0;
  uint16_t era_ = 1;
};

Kept_Kinds_Table &Kept() {
  static Kept_Kinds_Table *kept = new Kept_Kinds_Table();
  return *kept;
}

// The kind a classified word's category gives it, or 0 for none.
int Kind_Of_Word(const std::string &gbword) {
  std::string gblabel, label;
  if (cli::Word_Label(gbword, &gblabel) != 0 || !To_Utf8(gblabel, &label)) return 0;
  return Kind_Of_Label(label);
}

int Kept_Kind_Of_Word(const char *gb, size_t size) {
  if (size == 0 || size > kMost_Kept_Bytes) return Kind_Of_Word(std::string(gb, size));
  Kept_Kinds_Table &kept = Kept();
  int kind = 0;
  if (kept.Find(gb, size, &kind)) return kind;
  kind = Kind_Of_Word(std::string(gb, size));
  kept.Keep(gb, size, kind);
  return kind;
}

}  // namespace

const char *Kind_Alias(int kind) { return kind >= 1 && kind <= kLast_Kind ? kKinds[kind - 1].alias : "?"; }
const char *Kind_Description(int kind) {
  return kind >= 1 && kind <= kLast_Kind ? kKinds[kind - 1].description : "?";
}

int32_t Start(const char *data_dir, const char *db, bool term_copy) {
  if (g_started != 1) return g_started;
  if (data_dir != nullptr && *data_dir != '\0') setenv("TESQ_DATA_DIR", data_dir, 1);
  if (db != nullptr && *db != '\0') setenv("TESQ_DB", db, 1);
  // The copy's thread takes no signal, so a backend's cancel and termination
  // still reach the backend's own thread, and it calls nothing of
  // PostgreSQL's (only SQLite or libpq, and malloc).
  if (!term_copy) setenv("TESQ_DB_COPY", "off", 1);
  g_started = Tesquin_Init(0);
  return g_started;
}

const char *Start_Failure(int32_t result) {
  switch (result) {
    case -1: return "the dictionary service failed to start (the segmenter lexicon or the term database)";
    case -2: return "the dictionary \"foreign_dic\" failed to load";
    case -3: return "the dictionary \"name_dic\" failed to load";
    case -4: return "the dictionary \"org_dic\" failed to load";
    case -5: return "the dictionary \"fund_dic\" failed to load";
    case -6: return "the dictionary \"place\" failed to load";
    default: return "the library failed to start";
  }
}

int Label(const char *text, size_t size, std::string *label, Text_Fault *fault) noexcept {
  try {
    std::string gb, gblabel;
    if (!To_Gb(text, size, &gb, fault)) return -1;
    const int32_t result = cli::Word_Label(gb, &gblabel);
    if (result == 0 && !To_Utf8(gblabel, label)) return 1;
    return result == 0 || result == 3 ? result : 1;
  } catch (...) {
    return 1;
  }
}

int Analyze(const char *text, size_t size, std::vector<Item> *items, Text_Fault *fault) noexcept {
  try {
    items->clear();
    std::string gb, document;
    if (!To_Gb(text, size, &gb, fault)) return -1;
    uint32_t needed = 0;
    if (cli::Query_Document(gb, &document, &needed) != 0) return 2;
    std::vector<cli::Query_Item> found;
    if (!cli::Document_Items(gb, document, &found)) return -2;
    for (const cli::Query_Item &f : found) {
      Item item;
      item.word_index = static_cast<int>(f.word_index + 1);
      if (!To_Utf8(f.word, &item.word) || !To_Utf8(f.label, &item.label)) return -2;
      items->push_back(std::move(item));
    }
    return 0;
  } catch (...) {
    return -2;
  }
}

// What a reader reads into: the piece in GB2312, the library's words of it
// and the tokens they give. Each is bounded by a piece.
struct Reader_Buffers {
  std::string piece;
  std::vector<cli::Essay_Word> words;
  std::vector<Token> tokens;
};

namespace {

// The buffers of the last reader, for the next one (a backend runs one
// thread). A reader made while another reads gets buffers of its own.
Reader_Buffers *g_spare_buffers = nullptr;

const std::vector<Token> &No_Tokens() {
  static const std::vector<Token> none;
  return none;
}

// The UTF-8 length of a character whose GB2312 form was found (a valid
// sequence), from its first byte.
size_t Utf8_Length(unsigned char first) {
  if (first < 0x80) return 1;
  if ((first & 0xE0) == 0xC0) return 2;
  return (first & 0xF0) == 0xE0 ? 3 : 4;
}

// Follows a GB2312 piece and the UTF-8 text it came from together, from a
// character where both begin: Seek gives, for a byte of the piece, the
// UTF-8 byte and the character at which its character begins. Bytes are
// sought in the order of the piece.
struct Piece_Cursor {
  const std::string &gb;
  const char *utf8;
  size_t gb_at, utf8_at, chars_at;
  void Seek(size_t gb_byte) {
    while (gb_at < gb_byte) {
      const size_t gb_length = static_cast<unsigned char>(gb[gb_at]) < 0x80 ? 1 : 2;
      if (gb_at + gb_length > gb_byte) break;  // inside a character: where it begins
      gb_at += gb_length;
      utf8_at += Utf8_Length(static_cast<unsigned char>(utf8[utf8_at]));
      ++chars_at;
    }
  }
};

}  // namespace

Essay_Reader::Essay_Reader(const char *text, size_t size, size_t piece_bytes) noexcept
    : text_(text), size_(size), piece_bytes_(piece_bytes < 2 ? 2 : piece_bytes) {}

Essay_Reader::~Essay_Reader() {
  if (buffers_ != nullptr && g_spare_buffers == nullptr) {
    g_spare_buffers = buffers_;
  } else {
    delete buffers_;
  }
}

const std::vector<Token> &Essay_Reader::Tokens() const {
  return buffers_ != nullptr ? buffers_->tokens : No_Tokens();
}

int Essay_Reader::Next() noexcept {
  try {
    if (buffers_ == nullptr) {
      if (g_spare_buffers != nullptr) {
        buffers_ = g_spare_buffers;
        g_spare_buffers = nullptr;
      } else {
        buffers_ = new Reader_Buffers();
      }
    }
    std::vector<Token> &out = buffers_->tokens;
    out.clear();
    if (pos_ >= size_) return 1;
    std::string &gb = buffers_->piece;
    gb.clear();
    size_t length = 1;
    if (!Gb_Form(text_, size_, pos_, &gb, &length)) {
      // A run of characters without a GB2312 form: one token, so that no
      // text is lost and indexing goes on.
      const size_t start = pos_, char_start = chars_;
      // At most this many characters in one token: PostgreSQL keeps a
      // token's length in 16 bits.
      constexpr size_t kMost_Chars = 1024;
      while (pos_ < size_ && chars_ - char_start < kMost_Chars) {
        gb.clear();
        if (Gb_Form(text_, size_, pos_, &gb, &length)) break;
        pos_ += length;
        ++chars_;
      }
      gb.clear();
      out.push_back({start, pos_, char_start, chars_, kNo_Gb2312_Tag, kNo_Gb2312, 0, 0});
      return 0;
    }
    // The piece goes on from its first character, already converted.
    size_t pos = pos_ + length;
    while (pos < size_ && gb.size() < piece_bytes_) {
      const size_t before = gb.size();
      if (!Gb_Form(text_, size_, pos, &gb, &length)) {
        gb.resize(before);
        break;
      }
      pos += length;
    }
    if (gb.size() >= piece_bytes_ && pos < size_) {
      const size_t cut = cli::Next_Piece_End(gb.data(), gb.size(), piece_bytes_);
      if (cut > 0 && cut < gb.size()) gb.resize(cut);
    }
    std::vector<cli::Essay_Word> &words = buffers_->words;
    cli::Piece_Segmentation how;
    if (!cli::Segment_Piece(gb, &words, &how)) return -1;
    Piece_Cursor cursor{gb, text_, 0, pos_, chars_};
    for (const cli::Essay_Word &w : words) {
      cursor.Seek(w.start);
      const size_t byte_start = cursor.utf8_at, char_start = cursor.chars_at;
      cursor.Seek(w.end);
      out.push_back({byte_start, cursor.utf8_at, char_start, cursor.chars_at, w.tag, Kind_Of_Tag(w.tag), w.start,
                     w.end});
    }
    cursor.Seek(gb.size());
    pos_ = cursor.utf8_at;
    chars_ = cursor.chars_at;
    return 0;
  } catch (const std::bad_alloc &) {
    return -2;
  } catch (...) {
    return -1;
  }
}

void Forget_Kinds() noexcept { Kept().Clear(); }
size_t Kept_Kinds() noexcept { return Kept().Count(); }

int Essay_Reader::Classified_Kind(const Token &token) noexcept {
  if (token.kind == kBlank || token.kind == kNo_Gb2312 || buffers_ == nullptr || token.gb_end <= token.gb_start ||
      token.gb_end > buffers_->piece.size())
    return token.kind;
  try {
    const int kind = Kept_Kind_Of_Word(buffers_->piece.data() + token.gb_start, token.gb_end - token.gb_start);
    return kind != 0 ? kind : token.kind;
  } catch (...) {
    return -2;
  }
}

bool Rotate_Trace(uint64_t max_bytes, int keep, std::string *failure) noexcept {
  try {
    // One rotation per backend, remade when the settings change, so that a
    // failure is told once and not at every query.
    static cli::Trace_Rotation *rotation = nullptr;
    static uint64_t rotation_max = 0;
    static int rotation_keep = 0;
    if (rotation == nullptr || rotation_max != max_bytes || rotation_keep != keep) {
      delete rotation;
      rotation = new cli::Trace_Rotation(max_bytes, keep);
      rotation_max = max_bytes;
      rotation_keep = keep;
    }
    *failure = rotation->Check();
    return failure->empty();
  } catch (...) {
    return true;  // the trace is left to grow until the next search rotates it
  }
}

void Tag_Name(int tag, char *out, size_t size) noexcept {
  if (size == 0) return;
  try {
    const std::string name = tag == kNo_Gb2312_Tag ? "no GB2312 form" : cli::Tag_Name(tag);
    std::snprintf(out, size, "%s", name.c_str());
  } catch (...) {
    std::snprintf(out, size, "%d", tag);
  }
}

}  // namespace tesqpg
