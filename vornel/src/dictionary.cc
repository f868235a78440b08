#include "dictionary.h"

#include <cstring>
#include <unordered_set>

namespace vornel {

const char kDictionary_Magic[8] = {'V', 'R', 'N', 'L', 'D', 'I', 'C', 'T'};

uint32_t Word_Hash(const char *word, size_t size) {
  uint32_t h = kWord_Hash_Start;
  for (size_t i = 0; i < size; ++i) h = Word_Hash_Extend(h, static_cast<unsigned char>(word[i]));
  return h;
}

std::unique_ptr<Dictionary> Dictionary::Load(const std::string &path, std::string *error) {
  Blob blob;
  if (!Read_File(path, size_t{1} << 31, &blob, error)) return nullptr;
  std::unique_ptr<Dictionary> d = From_Blob(std::move(blob), error);
  if (d == nullptr) *error = path + ": " + *error;
  return d;
}

std::unique_ptr<Dictionary> Dictionary::From_Blob(Blob blob, std::string *error) {
  File_Header h;
  if (!Check_Header(blob, kDictionary_Magic, &h, error)) return nullptr;
  const uint64_t buckets = h.aux1, count = h.count, pool = h.aux2;
  if (buckets == 0 || (buckets & (buckets - 1)) != 0 || buckets <= count) {
    *error = "bad bucket count";
    return nullptr;
  }
  if (h.payload_size != buckets * 4 + count * sizeof(Entry) + pool) {
    *error = "section sizes do not add up to the payload size";
    return nullptr;
  }
  std::unique_ptr<Dictionary> d(new Dictionary());
  const uint8_t *base = blob.Data() + kHeader_Size;
  d->buckets_ = reinterpret_cast<const uint32_t *>(base);
  d->entries_ = reinterpret_cast<const Entry *>(base + buckets * 4);
  d->pool_ = reinterpret_cast<const char *>(base + buckets * 4 + count * sizeof(Entry));
  d->bucket_mask_ = static_cast<uint32_t>(buckets - 1);
  d->count_ = count;
  // Every bucket names an existing entry, every entry lies inside the pool
  // with its NUL, and every entry is reachable from its home bucket.
  uint64_t used = 0;
  for (uint64_t b = 0; b < buckets; ++b) {
    if (d->buckets_[b] > count) {
      *error = "bucket names a missing entry";
      return nullptr;
    }
    used += d->buckets_[b] != 0;
  }
  if (used != count) {
    *error = "bucket table does not hold every entry once";
    return nullptr;
  }
  for (uint64_t i = 0; i < count; ++i) {
    const Entry &e = d->entries_[i];
    if (e.word_size == 0 || uint64_t{e.word_offset} + e.word_size >= pool ||
        uint64_t{e.info_offset} + e.info_size >= pool || d->pool_[e.word_offset + e.word_size] != '\0' ||
        d->pool_[e.info_offset + e.info_size] != '\0' ||
        std::memchr(d->pool_ + e.word_offset, 0, e.word_size) != nullptr ||
        std::memchr(d->pool_ + e.info_offset, 0, e.info_size) != nullptr) {
      *error = "entry " + std::to_string(i) + " lies outside the string pool";
      return nullptr;
    }
    const char *w = d->pool_ + e.word_offset;
    if (Word_Hash(w, e.word_size) != e.hash) {
      *error = "entry " + std::to_string(i) + " has a wrong hash";
      return nullptr;
    }
    d->length_mask_ |= uint64_t{1} << Length_Bit(e.word_size);
    const unsigned f = First_Two(w, e.word_size);
    Filter_Add(d->first_two_, f);
    const int g = Gb_Index(w, e.word_size);
    if (g >= 0) d->gb_lengths_[g] |= uint64_t{1} << Length_Bit(e.word_size);
    if (e.word_size >= 4) Filter_Add(d->first_four_, First_Four(w));
  }
  d->blob_ = std::move(blob);
  for (uint64_t i = 0; i < count; ++i) {
    const Entry &e = d->entries_[i];
    size_t info_size;
    if (d->Find(d->pool_ + e.word_offset, e.word_size, &info_size) != d->pool_ + e.info_offset) {
      *error = "entry " + std::to_string(i) + " cannot be found through the bucket table";
      return nullptr;
    }
  }
  return d;
}

const char *Dictionary::Find(const char *word, size_t size, size_t *info_size) const {
  if (size == 0 || (length_mask_ & (uint64_t{1} << Length_Bit(size))) == 0) return nullptr;
  const unsigned f = First_Two(word, size);
  if (!Filter_Has(first_two_, f)) return nullptr;
  const int g = Gb_Index(word, size);
  if (g >= 0 && (gb_lengths_[g] & (uint64_t{1} << Length_Bit(size))) == 0) return nullptr;
  if (size >= 4 && !Filter_Has(first_four_, First_Four(word))) return nullptr;
  return Probe(word, size, info_size);
}

uint64_t Dictionary::Prefix_Lengths(const char *word, size_t size) const {
  if (size == 0) return 0;
  size_t ignored;
  uint64_t found = Find(word, 1, &ignored) != nullptr ? uint64_t{1} << 1 : 0;
  if (size < 2) return found;
  // The filters of Find, for every length from 2 up at once: the first two
  // bytes (and the GB2312 character they form) and the first four are the
  // same for all of them.
  uint64_t candidates = length_mask_ & ~uint64_t{3} & ((uint64_t{2} << size) - 1);
  if (!Filter_Has(first_two_, First_Two(word, 2))) return found;
  const int g = Gb_Index(word, 2);
  if (g >= 0) candidates &= gb_lengths_[g];
  if (size >= 4 && !Filter_Has(first_four_, First_Four(word))) candidates &= uint64_t{0xC};
  uint32_t hash = kWord_Hash_Start;
  size_t hashed = 0;
  for (; candidates != 0; candidates &= candidates - 1) {
    const size_t length = static_cast<size_t>(__builtin_ctzll(candidates));
    for (; hashed < length; ++hashed) hash = Word_Hash_Extend(hash, static_cast<unsigned char>(word[hashed]));
    if (Probe_Hashed(word, length, hash, &ignored) != nullptr) found |= uint64_t{1} << length;
  }
  return found;
}

const char *Dictionary::Probe(const char *word, size_t size, size_t *info_size) const {
  return Probe_Hashed(word, size, Word_Hash(word, size), info_size);
}

const char *Dictionary::Probe_Hashed(const char *word, size_t size, uint32_t hash, size_t *info_size) const {
  for (uint32_t b = hash & bucket_mask_;; b = (b + 1) & bucket_mask_) {
    const uint32_t slot = buckets_[b];
    if (slot == 0) return nullptr;
    const Entry &e = entries_[slot - 1];
    if (e.hash == hash && e.word_size == size && std::memcmp(pool_ + e.word_offset, word, size) == 0) {
      *info_size = e.info_size;
      return pool_ + e.info_offset;
    }
  }
}

bool Compile_Dictionary(const std::vector<std::pair<std::string, std::string>> &entries, Blob *out,
                        std::string *error) {
  using Entry = Dictionary::Entry;
  const size_t count = entries.size();
  if (count >= (size_t{1} << 30)) {
    *error = "too many entries";
    return false;
  }
  uint32_t buckets = 16;
  while (buckets < 2 * count + 1) buckets *= 2;
  std::string pool;
  std::vector<Entry> table(count);
  std::unordered_set<std::string_view> seen;
  for (size_t i = 0; i < count; ++i) {
    const std::string &w = entries[i].first, &info = entries[i].second;
    if (w.empty() || w.size() > kMax_Word_Bytes || info.size() > kMax_Info_Bytes ||
        w.find('\0') != std::string::npos || info.find('\0') != std::string::npos) {
      *error = "entry " + std::to_string(i + 1) + ": empty or too long word or information string";
      return false;
    }
    if (!seen.insert(w).second) {
      *error = "entry " + std::to_string(i + 1) + ": word given twice";
      return false;
    }
    Entry &e = table[i];
    e.hash = Word_Hash(w.data(), w.size());
    e.word_offset = static_cast<uint32_t>(pool.size());
    e.word_size = static_cast<uint16_t>(w.size());
    pool.append(w).push_back('\0');
    e.info_offset = static_cast<uint32_t>(pool.size());
    e.info_size = static_cast<uint16_t>(info.size());
    pool.append(info).push_back('\0');
    if (pool.size() >= (size_t{1} << 31)) {
      *error = "string pool too large";
      return false;
    }
  }
  std::vector<uint32_t> bucket(buckets, 0);
  for (size_t i = 0; i < count; ++i) {
    uint32_t b = table[i].hash & (buckets - 1);
    while (bucket[b] != 0) b = (b + 1) & (buckets - 1);
    bucket[b] = static_cast<uint32_t>(i + 1);
  }
  const size_t payload = size_t{buckets} * 4 + count * sizeof(Entry) + pool.size();
  Blob blob(kHeader_Size + payload);
  uint8_t *p = blob.Data() + kHeader_Size;
  std::memcpy(p, bucket.data(), size_t{buckets} * 4);
  if (count != 0) std::memcpy(p + size_t{buckets} * 4, table.data(), count * sizeof(Entry));
  std::memcpy(p + size_t{buckets} * 4 + count * sizeof(Entry), pool.data(), pool.size());
  const File_Header h = Make_Header(kDictionary_Magic, static_cast<uint32_t>(count), buckets,
                                    static_cast<uint32_t>(pool.size()), 0.0, p, payload);
  std::memcpy(blob.Data(), &h, sizeof h);
  *out = std::move(blob);
  return true;
}

}  // namespace vornel
