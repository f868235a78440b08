// The one rule of every output buffer: the text and its NUL when they fit,
// else the size needed, clamped to the largest count the size type holds.
#include "core/sized_write.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

template <typename Size>
struct Row {
  size_t text_length;
  Size size_in;
  bool written;
  Size size_out;
};

template <typename Size>
void Check(const Row<Size> &row) {
  const std::string text(row.text_length, 'x');
  std::string buffer(400, '#');
  Size size = row.size_in;
  EXPECT_EQ(Sized_Write(text, &buffer[0], &size), row.written) << row.text_length << " in " << +row.size_in;
  EXPECT_EQ(+size, +row.size_out) << row.text_length << " in " << +row.size_in;
  if (row.written) {
    EXPECT_EQ(std::string(buffer.c_str()), text);
  }
}

TEST(Sized_Write, TheSizeNeededIsClampedToTheSizeType) {
  const Row<uint8_t> unsigned_rows[] = {
      {3, 4, true, 4},       {3, 3, false, 4},      {254, 255, true, 255},
      {255, 255, false, 255},  // 256 needed: the largest count is reported
      {300, 10, false, 255},
  };
  for (const auto &row : unsigned_rows) Check(row);
  const Row<int8_t> signed_rows[] = {
      {3, 4, true, 4}, {126, 127, true, 127}, {127, 127, false, 127}, {300, 10, false, 127}, {3, -1, false, 4},
  };
  for (const auto &row : signed_rows) Check(row);
}

TEST(Sized_Write, ANullBufferNeverFits) {
  uint32_t size = 100;
  EXPECT_FALSE(Sized_Write("abc", nullptr, &size));
  EXPECT_EQ(size, 4u);
}

}  // namespace
