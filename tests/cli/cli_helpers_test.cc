// The tesq tool's shared helpers: option parsing, terminal text conversion,
// JSON strings, tag names, essay pieces and the progress bar.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "cli_options.h"
#include "gb2312.h"
#include "progress.h"

namespace {

const std::vector<cli::Option> kOptions = {
    {"--format", "FORMAT", "output format"},
    {"--replace", nullptr, "a flag"},
};

struct Parse_Case {
  std::vector<std::string> args;
  bool ok;
  std::string format;       // value of --format, "-" when absent
  bool replace;             // --replace given
  bool help;                // --help given
  std::vector<std::string> positional;
  std::string error_part;   // part of the error message when !ok
};

void PrintTo(const Parse_Case &c, std::ostream *out) {
  for (const std::string &arg : c.args) *out << "'" << arg << "' ";
}

class Parse_Args_Test : public ::testing::TestWithParam<Parse_Case> {};

TEST_P(Parse_Args_Test, Parses) {
  const Parse_Case &c = GetParam();
  std::vector<std::string> storage = {"cmd"};
  storage.insert(storage.end(), c.args.begin(), c.args.end());
  std::vector<char *> argv;
  for (std::string &s : storage) argv.push_back(s.data());
  cli::Parsed_Args parsed;
  std::string error;
  ASSERT_EQ(cli::Parse_Args(static_cast<int>(argv.size()), argv.data(), 1, kOptions, &parsed, &error), c.ok)
      << error;
  if (!c.ok) {
    EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
    return;
  }
  EXPECT_EQ(parsed.Has("--format") ? parsed.Get("--format") : "-", c.format);
  EXPECT_EQ(parsed.Has("--replace"), c.replace);
  EXPECT_EQ(parsed.Has("--help"), c.help);
  EXPECT_EQ(parsed.positional, c.positional);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Parse_Args_Test,
    ::testing::Values(
        Parse_Case{{}, true, "-", false, false, {}, ""},
        Parse_Case{{"a", "b"}, true, "-", false, false, {"a", "b"}, ""},
        Parse_Case{{"--format", "json", "x"}, true, "json", false, false, {"x"}, ""},
        Parse_Case{{"--format=json"}, true, "json", false, false, {}, ""},
        Parse_Case{{"--format="}, true, "", false, false, {}, ""},
        Parse_Case{{"--format", "a", "--format", "b"}, true, "b", false, false, {}, ""},
        Parse_Case{{"--replace", "-"}, true, "-", true, false, {"-"}, ""},
        Parse_Case{{"-h"}, true, "-", false, true, {}, ""},
        Parse_Case{{"x", "--help"}, true, "-", false, true, {"x"}, ""},
        Parse_Case{{"--", "--format", "-h"}, true, "-", false, false, {"--format", "-h"}, ""},
        Parse_Case{{""}, true, "-", false, false, {""}, ""},
        Parse_Case{{"--format"}, false, "", false, false, {}, "needs a value"},
        Parse_Case{{"--bogus"}, false, "", false, false, {}, "unknown option '--bogus'"},
        Parse_Case{{"-x"}, false, "", false, false, {}, "unknown option '-x'"},
        Parse_Case{{"--replace=yes"}, false, "", false, false, {}, "takes no value"}),
    [](const ::testing::TestParamInfo<Parse_Case> &info) { return "case" + std::to_string(info.index); });

TEST(Options_Help, ListsEveryOptionAndHelp) {
  const std::string help = cli::Options_Help(kOptions);
  EXPECT_NE(help.find("--format FORMAT"), std::string::npos) << help;
  EXPECT_NE(help.find("--replace"), std::string::npos) << help;
  EXPECT_NE(help.find("--help"), std::string::npos) << help;
}

struct Encoding_Case {
  std::string name;
  bool ok;
  cli::Encoding encoding;
};

TEST(Parse_Encoding, KnownNames) {
  const Encoding_Case cases[] = {{"utf-8", true, cli::Encoding::kUtf8},
                                 {"utf8", true, cli::Encoding::kUtf8},
                                 {"gb2312", true, cli::Encoding::kGb2312},
                                 {"GB2312", true, cli::Encoding::kGb2312},
                                 {"latin1", false, cli::Encoding::kUtf8},
                                 {"", false, cli::Encoding::kUtf8}};
  for (const Encoding_Case &c : cases) {
    cli::Encoding encoding = cli::Encoding::kUtf8;
    EXPECT_EQ(cli::Parse_Encoding(c.name, &encoding), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(encoding, c.encoding) << c.name;
    }
  }
}

struct To_Gb_Case {
  std::string text;
  cli::Encoding encoding;
  bool ok;
  std::string gb;          // expected bytes when ok
  std::string error_part;  // part of the message otherwise
};

TEST(To_Gb, ConvertsOrNamesTheCharacter) {
  const To_Gb_Case cases[] = {
      {"abc", cli::Encoding::kUtf8, true, "abc", ""},
      {"\xE5\xBC\xA0\xE4\xB8\x89", cli::Encoding::kUtf8, true, "\xD5\xC5\xC8\xFD", ""},  // 张三
      {"", cli::Encoding::kUtf8, true, "", ""},
      {"a\xED\x95\x9C", cli::Encoding::kUtf8, false, "", "U+D55C"},  // 한 has no GB2312 form
      {"\xFF", cli::Encoding::kUtf8, false, "", "byte 0"},
      {std::string("a\0b", 3), cli::Encoding::kUtf8, false, "", "NUL byte at byte 1"},
      {"\xD5\xC5\xFF", cli::Encoding::kGb2312, true, "\xD5\xC5\xFF", ""},  // raw bytes pass
      {std::string("\xD5\xC5\0", 3), cli::Encoding::kGb2312, false, "", "NUL byte at byte 2"},
  };
  for (const To_Gb_Case &c : cases) {
    std::string gb, error;
    EXPECT_EQ(cli::To_Gb(c.text, c.encoding, &gb, &error), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(gb, c.gb) << c.text;
    } else {
      EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
    }
  }
}

TEST(From_Gb, Utf8OrRaw) {
  EXPECT_EQ(cli::From_Gb("\xD5\xC5x", cli::Encoding::kUtf8), "\xE5\xBC\xA0x");
  EXPECT_EQ(cli::From_Gb("\xD5\xC5x", cli::Encoding::kGb2312), "\xD5\xC5x");
  // A malformed byte becomes U+FFFD rather than invalid UTF-8.
  EXPECT_EQ(cli::From_Gb("a\xFF", cli::Encoding::kUtf8), "a\xEF\xBF\xBD");
}

TEST(Json_String, Escapes) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "\"\""},
      {"abc", "\"abc\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\n\r\t", "\"\\n\\r\\t\""},
      {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
      {"\xE5\xBC\xA0", "\"\xE5\xBC\xA0\""},
  };
  for (const auto &c : cases) EXPECT_EQ(cli::Json_String(c.first), c.second) << c.first;
}

TEST(Tag_Name, FixedNumbersAndOthers) {
  const std::pair<int, std::string> cases[] = {
      {1, "adjective"},     {8, "adverb"},        {18, "numeral"},      {21, "person"},
      {22, "place"},        {23, "organisation"}, {27, "preposition"},  {29, "pronoun"},
      {37, "conjunction"},  {38, "auxiliary"},    {39, "modal particle"}, {40, "interjection"},
      {41, "punctuation"},  {0, "tag0"},          {42, "tag42"},        {-3, "tag-3"},
  };
  for (const auto &c : cases) EXPECT_EQ(cli::Tag_Name(c.first), c.second) << c.first;
}

// Checks the invariants of a split: pieces are consecutive, non-empty, at
// most `limit` bytes, cover the text, and never cut a two-byte character.
void Check_Pieces(const std::string &text, size_t limit, const std::vector<size_t> &ends) {
  size_t start = 0;
  for (size_t end : ends) {
    ASSERT_GT(end, start);
    ASSERT_LE(end - start, limit);
    start = end;
  }
  ASSERT_EQ(start, text.size());
  std::vector<bool> boundary(text.size() + 1, false);
  for (size_t i = 0; i < text.size();) {
    boundary[i] = true;
    i += gb::Char_Length(text.data() + i, text.size() - i);
  }
  boundary[text.size()] = true;
  for (size_t end : ends) EXPECT_TRUE(boundary[end]) << "cut inside a character at " << end;
}

struct Split_Case {
  std::string text;
  size_t limit;
  std::vector<size_t> ends;
};

TEST(Split_Pieces, CutsAtLinesThenPunctuationThenCharacters) {
  const std::string zhang = "\xD5\xC5";  // 张
  const std::string full_stop = "\xA1\xA3";  // 。
  const Split_Case cases[] = {
      {"", 8, {}},
      {"abc", 8, {3}},
      {"abcdefgh", 8, {8}},
      // A line feed in the second half wins.
      {"abcde\nfghij", 8, {6, 11}},
      // A line feed in the first half is too early; white space is used.
      {"a\nbcd efghij", 8, {6, 12}},
      // No soft place: cut at the limit, on a character boundary.
      {zhang + zhang + zhang + zhang + zhang, 5, {4, 8, 10}},
      {"a" + zhang + zhang + zhang, 4, {3, 7}},
      // Full-width punctuation is a soft place.
      {zhang + zhang + full_stop + zhang + zhang, 8, {6, 10}},
  };
  for (const Split_Case &c : cases) {
    const std::vector<size_t> ends = cli::Split_Pieces(c.text, c.limit);
    EXPECT_EQ(ends, c.ends) << c.text;
    Check_Pieces(c.text, c.limit, ends);
  }
}

TEST(Split_Pieces, MalformedAndLongTextKeepInvariants) {
  std::string text;
  for (int i = 0; i < 5000; ++i) {
    text += (i % 7 == 0) ? "\n" : (i % 5 == 0) ? "\xFF" : (i % 3 == 0) ? "\xA1\xA3" : "\xD5\xC5";
  }
  for (size_t limit : {2u, 3u, 17u, 64u, 1000u}) Check_Pieces(text, limit, cli::Split_Pieces(text, limit));
}

TEST(Progress, RenderShowsBarAndPercent) {
  EXPECT_EQ(cli::Progress::Render("x", 0, 10, 10), "x [..........]   0%");
  EXPECT_EQ(cli::Progress::Render("x", 5, 10, 10), "x [#####.....]  50%");
  EXPECT_EQ(cli::Progress::Render("x", 10, 10, 10), "x [##########] 100%");
  EXPECT_EQ(cli::Progress::Render("x", 99, 10, 4), "x [####] 100%");  // done beyond total
  EXPECT_EQ(cli::Progress::Render("x", 0, 0, 4), "x [####] 100%");    // nothing to do
}

// Draws into a temporary file instead of a terminal and reads it back.
std::string Drawn(bool enabled, const std::vector<uint64_t> &updates) {
  FILE *file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  {
    cli::Progress progress("job", 100, enabled, file);
    for (uint64_t done : updates) progress.Update(done);
  }
  std::rewind(file);
  std::string text;
  int c;
  while ((c = std::fgetc(file)) != EOF) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

TEST(Progress, DrawsOnlyWhenEnabledAndClearsTheLine) {
  EXPECT_EQ(Drawn(false, {10, 50, 100}), "");
  const std::string drawn = Drawn(true, {10, 10, 10, 50});
  // Two draws (a repeated percentage is not redrawn), then the clearing.
  EXPECT_EQ(drawn, "\r" + cli::Progress::Render("job", 10, 100, 30) + "\r" +
                       cli::Progress::Render("job", 50, 100, 30) + "\r" +
                       std::string(cli::Progress::Render("job", 50, 100, 30).size(), ' ') + "\r");
}

}  // namespace
