#include "term_index.h"

#include <cstring>

namespace karvel {
namespace {

constexpr size_t kMaxWordBytes = 255;

// FNV-1a over the word's bytes, then a final mix so that the low bits used
// for the slot depend on every byte.
uint64_t Hash(std::string_view word) {
  uint64_t h = 14695981039346656037ull;
  for (const unsigned char c : word) {
    h ^= c;
    h *= 1099511628211ull;
  }
  h ^= h >> 32;
  h *= 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}

}  // namespace

Term_Index::Builder::Builder() : index_(new Term_Index) {}

void Term_Index::Builder::Add(std::string_view word, std::string_view label) {
  const std::string key(label);
  auto found = label_numbers_.find(key);
  if (found == label_numbers_.end()) {
    if (index_->labels_.size() >= kNoLabel) return;  // more distinct labels than an entry can number
    found = label_numbers_.emplace(key, static_cast<uint32_t>(index_->labels_.size())).first;
    index_->labels_.push_back(key);
  }
  Add_Row(word, found->second);
}

void Term_Index::Builder::Add_Without_Label(std::string_view word) { Add_Row(word, kNoLabel); }

void Term_Index::Builder::Add_Row(std::string_view word, uint32_t label) {
  if (word.empty() || word.size() > kMaxWordBytes) return;
  Term_Index &index = *index_;
  index.entries_.push_back(Entry{static_cast<uint32_t>(index.words_.size()),
                                 static_cast<uint32_t>(word.size()) | (label << 8)});
  index.words_.append(word.data(), word.size());
}

std::shared_ptr<const Term_Index> Term_Index::Builder::Finish() {
  Term_Index &index = *index_;
  size_t capacity = 16;
  while (capacity < index.entries_.size() * 2) capacity *= 2;
  index.slots_.assign(capacity, 0);
  index.mask_ = capacity - 1;
  std::vector<Entry> pending;
  pending.swap(index.entries_);
  index.entries_.reserve(pending.size());
  for (const Entry &entry : pending) {
    const std::string_view word(index.words_.data() + entry.word_offset, entry.length_and_label & 0xFF);
    const int64_t existing = index.Slot_Of(word);
    if (existing >= 0) {  // a word added again: its last label wins
      index.entries_[static_cast<size_t>(existing)].length_and_label = entry.length_and_label;
      continue;
    }
    index.entries_.push_back(entry);
    uint64_t i = Hash(word) & index.mask_;
    while (index.slots_[i] != 0) i = (i + 1) & index.mask_;
    index.slots_[i] = static_cast<uint32_t>(index.entries_.size());
  }
  index.entries_.shrink_to_fit();
  label_numbers_.clear();
  return std::shared_ptr<const Term_Index>(index_.release());
}

int64_t Term_Index::Slot_Of(std::string_view word) const {
  for (uint64_t i = Hash(word) & mask_;; i = (i + 1) & mask_) {
    const uint32_t slot = slots_[i];
    if (slot == 0) return -1;
    const Entry &entry = entries_[slot - 1];
    if ((entry.length_and_label & 0xFF) == word.size() &&
        std::memcmp(words_.data() + entry.word_offset, word.data(), word.size()) == 0)
      return slot - 1;
  }
}

bool Term_Index::Find(std::string_view word, const std::string *&label) const {
  if (word.empty() || word.size() > kMaxWordBytes) return false;
  const int64_t slot = Slot_Of(word);
  if (slot < 0) return false;
  const uint32_t number = entries_[static_cast<size_t>(slot)].length_and_label >> 8;
  label = number == kNoLabel ? nullptr : &labels_[number];
  return true;
}

size_t Term_Index::Bytes() const {
  size_t bytes = words_.capacity() + entries_.capacity() * sizeof(Entry) + slots_.capacity() * sizeof(uint32_t);
  for (const std::string &label : labels_) bytes += sizeof(std::string) + label.capacity();
  return bytes;
}

}  // namespace karvel
