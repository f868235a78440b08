// An immutable copy of the term table in memory, so that a lookup costs a
// hash and a comparison instead of a database search.
//
// Built once from every row of a store, then only read: any number of
// threads look words up at once without a lock, and a newer copy replaces
// an older one as a whole (the holder swaps a shared pointer), so a reader
// sees one table or the other, never a mixture.
//
// Layout: the words and the distinct labels (a table holds few) in one
// block of bytes each; one 8-byte entry per word (its offset, its length
// and its label's number); an open-addressing table of entry numbers at
// most half full. About 8 + 8 bytes per word beside the words themselves.
// Words and labels are GB2312, as lookups ask and answer.
#ifndef KARVEL_SRC_TERM_INDEX_H
#define KARVEL_SRC_TERM_INDEX_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace karvel {

class Term_Index {
 public:
  // A row whose label cannot be handed out: the word is in the table (so a
  // lookup of the word column finds it) but it has no label.
  static constexpr uint32_t kNoLabel = 0xFFFFFFu;

  class Builder {
   public:
    Builder();
    // Adds a row; a word added again keeps its last label. Words longer
    // than 255 bytes are left out (no lookup can ask for one).
    void Add(std::string_view word, std::string_view label);
    void Add_Without_Label(std::string_view word);
    std::shared_ptr<const Term_Index> Finish();

   private:
    void Add_Row(std::string_view word, uint32_t label);
    std::unique_ptr<Term_Index> index_;
    std::unordered_map<std::string, uint32_t> label_numbers_;
  };

  // True when the table holds `word`; *label is then its label, or null
  // when the row has none (kNoLabel). The view lives as long as the index.
  bool Find(std::string_view word, const std::string *&label) const;

  size_t Size() const { return entries_.size(); }
  // Bytes held by the index's own arrays.
  size_t Bytes() const;

 private:
  struct Entry {
    uint32_t word_offset;
    uint32_t length_and_label;  // low 8 bits: the word's length; the rest: the label's number
  };
  Term_Index() = default;
  int64_t Slot_Of(std::string_view word) const;  // the entry's number, or -1

  std::string words_;
  std::vector<std::string> labels_;
  std::vector<Entry> entries_;
  std::vector<uint32_t> slots_;  // entry number + 1; 0: empty
  uint64_t mask_ = 0;
};

}  // namespace karvel

#endif
