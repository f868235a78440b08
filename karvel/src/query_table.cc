#include "query_table.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace karvel {
namespace {

struct Slot {
  uint32_t generation = 0;
  bool open = false;
  std::string column;
  std::string value;
};

class Query_Table {
 public:
  Query_Table() {
    const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    salt_ = static_cast<uint32_t>(now ^ (now >> 32) ^ reinterpret_cast<uintptr_t>(this)) | 1u;
  }

  Karvel_Query Open(std::string_view column, std::string_view value) {
    std::lock_guard<std::mutex> lock(mutex_);
    uint32_t index;
    if (!free_.empty()) {
      index = free_.back();
      free_.pop_back();
    } else if (slots_.size() < kMaxOpenQueries) {
      index = static_cast<uint32_t>(slots_.size());
      slots_.emplace_back();
    } else {
      return Query_Empty();
    }
    Slot &slot = slots_[index];
    slot.open = true;
    slot.column.assign(column);
    slot.value.assign(value);
    return Karvel_Query{{static_cast<int32_t>(index + 1), static_cast<int32_t>(slot.generation),
                         static_cast<int32_t>(Check(index, slot.generation))}};
  }

  int32_t Read(Karvel_Query query, const char *column, char *buf, int32_t buf_size) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Slot *slot = Find(query);
    if (slot == nullptr) return kNoRow;
    if (column == nullptr || slot->column != column) return kNoColumn;
    if (buf == nullptr || buf_size <= 0 || slot->value.size() >= static_cast<uint32_t>(buf_size)) return kNoRoom;
    std::memcpy(buf, slot->value.c_str(), slot->value.size() + 1);
    return static_cast<int32_t>(slot->value.size());
  }

  void Lock_For_Fork() { mutex_.lock(); }
  void Unlock_After_Fork() { mutex_.unlock(); }

  int32_t Close(Karvel_Query query) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot *slot = Find(query);
    if (slot == nullptr) return -1;
    slot->open = false;
    ++slot->generation;
    // Long values are not kept alive by a free slot.
    if (slot->value.capacity() > 256) std::string().swap(slot->value);
    free_.push_back(static_cast<uint32_t>(query.w[0] - 1));
    return 0;
  }

 private:
  uint32_t Check(uint32_t index, uint32_t generation) const {
    uint32_t h = (index + 1) * 0x9E3779B1u ^ generation * 0x85EBCA77u ^ salt_;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 13;
    return h;
  }

  Slot *Find(Karvel_Query query) {
    if (query.w[0] <= 0 || static_cast<uint32_t>(query.w[0]) > slots_.size()) return nullptr;
    const uint32_t index = static_cast<uint32_t>(query.w[0]) - 1;
    Slot &slot = slots_[index];
    if (!slot.open || static_cast<uint32_t>(query.w[1]) != slot.generation ||
        static_cast<uint32_t>(query.w[2]) != Check(index, slot.generation))
      return nullptr;
    return &slot;
  }

  std::mutex mutex_;
  std::vector<Slot> slots_;
  std::vector<uint32_t> free_;
  uint32_t salt_;
};

// Never destroyed: a thread still closing a query while the process exits
// must not find the table gone. It stays reachable, so it is no leak.
Query_Table &Table() {
  static Query_Table *const table = new Query_Table;
  return *table;
}

}  // namespace

Karvel_Query Query_Empty() { return Karvel_Query{{0, 0, 0}}; }

Karvel_Query Query_Open(std::string_view column, std::string_view value) { return Table().Open(column, value); }

int32_t Query_Read(Karvel_Query query, const char *column, char *buf, int32_t buf_size) {
  const int32_t result = Table().Read(query, column, buf, buf_size);
  if (result < 0 && buf != nullptr && buf_size > 0) buf[0] = '\0';
  return result;
}

int32_t Query_Close(Karvel_Query query) { return Table().Close(query); }

void Queries_Before_Fork() { Table().Lock_For_Fork(); }

void Queries_After_Fork() { Table().Unlock_After_Fork(); }

}  // namespace karvel
