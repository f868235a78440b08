// tesq essay's streaming segmentation against the real library and
// dictionaries (TESQ_DATA_DIR, else the build tree's data; skipped without
// them): the text cut into pieces and streamed gives what one call on the
// whole text gives, byte spans counted from the whole text's start.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "essay_stream.h"
#include "gb_text.h"
#include "tesqsrch/tesqsrch.h"

namespace {

using tesq_test::Gb;

struct Outcome {
  int status;
  std::string out;
};

// Runs Essay_Stream on `input` through temporary files.
Outcome Stream(const std::string &input, cli::Essay_Format format, cli::Encoding encoding, size_t piece_bytes) {
  FILE *in = std::tmpfile();
  FILE *out = std::tmpfile();
  EXPECT_NE(in, nullptr);
  EXPECT_NE(out, nullptr);
  Outcome outcome{-1, ""};
  if (in == nullptr || out == nullptr) return outcome;
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  cli::Essay_Options options;
  options.format = format;
  options.encoding = encoding;
  options.piece_bytes = piece_bytes;
  outcome.status = cli::Essay_Stream(in, "test", out, options);
  std::rewind(out);
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0) outcome.out.append(buffer, n);
  std::fclose(in);
  std::fclose(out);
  return outcome;
}

class Essay_Stream_Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { init_result_ = Tesquin_Init(0); }
  static void TearDownTestSuite() { Tesquin_UnInit(); }
  void SetUp() override {
    if (init_result_ != 0 && std::getenv("TESQ_DATA_DIR") == nullptr)
      GTEST_SKIP() << "no dictionaries: TESQ_DATA_DIR is not set and the build's data did not load";
    ASSERT_EQ(init_result_, 0) << "Tesquin_Init failed";
  }
  static int32_t init_result_;
};
int32_t Essay_Stream_Test::init_result_ = -100;

// Lines of names, places, organisations, numbers and punctuation, each far
// shorter than half a piece, so that every piece ends after a line feed, and
// none beginning with white space (which would make one white space word of
// the line feed and what follows).
std::string Multi_Line_Text() {
  const char *const lines[] = {
      "王小明在北京大学图书馆工作。",
      "记者张晓峰在上海报道了南京大学出版社的新书。",
      "李晓燕在广州的中山大学出版社工作。",
      "ISBN 9787111123453, 情报学报 2024 年第 3 期; abc-def_1.5%",
      "克林顿访华，与江泽民会谈。",
      "",
      "计算机科学与信息检索：理论、方法和应用！",
      "他说：“我们明天去杭州西湖。”",
  };
  std::string text;
  for (int round = 0; round < 60; ++round)
    for (const char *line : lines) text += std::string(line) + (round % 2 ? "\n" : "第" + std::to_string(round) + "回\n");
  return text;
}

TEST_F(Essay_Stream_Test, StreamedOutputEqualsTheWholeTextOutputOnMultiLineInput) {
  const std::string text = Multi_Line_Text();
  const std::string gbtext = Gb(text);
  for (const cli::Essay_Format format : {cli::Essay_Format::kJson, cli::Essay_Format::kInline}) {
    const Outcome whole = Stream(text, format, cli::Encoding::kUtf8, text.size() + 1);
    ASSERT_EQ(whole.status, 0);
    ASSERT_FALSE(whole.out.empty());
    // Pieces far smaller than the text (about 100 of 256 bytes), and than a
    // read block; the same words, the same spans.
    for (const size_t piece_bytes : {256u, 1000u, 64u * 1024u}) {
      const Outcome streamed = Stream(text, format, cli::Encoding::kUtf8, piece_bytes);
      EXPECT_EQ(streamed.status, 0) << piece_bytes;
      EXPECT_EQ(streamed.out, whole.out) << piece_bytes;
    }
    // The raw GB2312 input gives the same segmentation.
    const Outcome raw = Stream(gbtext, format, cli::Encoding::kGb2312, 256);
    EXPECT_EQ(raw.status, 0);
    if (format == cli::Essay_Format::kJson) {
      EXPECT_EQ(raw.out, whole.out);
    }
  }
  // The last span ends at the end of the whole GB2312 text.
  const Outcome json = Stream(text, cli::Essay_Format::kJson, cli::Encoding::kUtf8, 256);
  EXPECT_NE(json.out.find("\"end\":" + std::to_string(gbtext.size()) + "}\n"), std::string::npos);
}

TEST_F(Essay_Stream_Test, ALineWithoutBreakIsCutAtTheLimitAndFullyCovered) {
  // One line of 30,000 characters with no line feed or punctuation: pieces
  // end at character boundaries at the limit, and every byte is in a word.
  std::string text;
  const char *const syllables[] = {"计算", "机科", "学与", "信息", "检索", "理论", "方法"};
  for (int i = 0; i < 15000; ++i) text += syllables[(i * 7 + i / 5) % 7];
  const std::string gbtext = Gb(text);
  const Outcome json = Stream(text, cli::Essay_Format::kJson, cli::Encoding::kUtf8, 1001);
  ASSERT_EQ(json.status, 0);
  size_t position = 0;
  for (size_t line = 0; line < json.out.size();) {
    const size_t next = json.out.find('\n', line);
    ASSERT_NE(next, std::string::npos);
    const std::string record = json.out.substr(line, next - line);
    const size_t start = record.find("\"start\":"), end = record.find(",\"end\":");
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(std::stoul(record.substr(start + 8, end - start - 8)), position);
    position = std::stoul(record.substr(end + 7));
    line = next + 1;
  }
  EXPECT_EQ(position, gbtext.size());
}

}  // namespace
