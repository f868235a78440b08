// tesq search / word / essay: the three front ends of libtesqsrch from a shell.
//
// Text arrives and leaves as UTF-8 and is converted to and from GB2312 at
// this boundary; --encoding gb2312 passes raw bytes both ways. Only the
// public C header is used, and the service's Dict_Last_Error to say why a
// data file did not load.
//
// Exit statuses: 0 done, 1 failed (library, data, file), 2 usage error or
// input text that cannot be given to the library; `tesq word` also exits
// with 3 when the word has no category.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "cli_options.h"
#include "commands.h"
#include "data_dir.h"
#include "gb2312.h"
#include "progress.h"
#include "tesqsrch/tesqsrch.h"
#include "vornel/vornel.h"

namespace {

using cli::Encoding;
using cli::Parsed_Args;

constexpr int kExit_No_Category = 3;

// Essays are segmented in pieces of about this many bytes, cut at line ends
// where possible, so that the progress bar can move and no single call sees
// more text than its 32-bit count can describe.
constexpr size_t kEssay_Piece_Bytes = 64 * 1024;

// Parses the options of a query command; prints the help and returns 0, or
// prints a usage error and returns 2, or returns -1 to go on.
int Parse_Command(int argc, char **argv, const std::vector<cli::Option> &options, const char *usage,
                  Parsed_Args *args, Encoding *encoding) {
  std::string error;
  if (!cli::Parse_Args(argc, argv, 1, options, args, &error)) {
    std::fprintf(stderr, "tesq %s: %s\n%s", argv[0], error.c_str(), usage);
    return cli::kExit_Usage;
  }
  if (args->Has("--help")) {
    std::printf("%s\n%s", usage, cli::Options_Help(options).c_str());
    return cli::kExit_Ok;
  }
  *encoding = Encoding::kUtf8;
  if (args->Has("--encoding") && !cli::Parse_Encoding(args->Get("--encoding"), encoding)) {
    std::fprintf(stderr, "tesq %s: unknown encoding '%s' (utf-8 or gb2312)\n", argv[0],
                 args->Get("--encoding").c_str());
    return cli::kExit_Usage;
  }
  return -1;
}

std::vector<cli::Option> With_Service_Options(std::vector<cli::Option> options) {
  const std::vector<cli::Option> &shared = cli::Service_Options();
  options.insert(options.end(), shared.begin(), shared.end());
  return options;
}

// Applies --data-dir/--db and initialises the library; prints why not.
bool Start_Library(const char *command, const Parsed_Args &args) {
  std::string error;
  if (!cli::Apply_Service_Options(args, &error)) {
    std::fprintf(stderr, "tesq %s: %s\n", command, error.c_str());
    return false;
  }
  const int32_t code = Tesquin_Init(0);
  if (code == 0) return true;
  static const char *const kDictionaries[] = {"foreign_dic", "name_dic", "org_dic", "fund_dic", "place"};
  std::string what;
  if (code == -1) {
    what = "the dictionary service failed to start";
  } else if (code <= -2 && code >= -6) {
    what = std::string("loading the dictionary '") + kDictionaries[-code - 2] + "' failed";
  } else {
    what = "initialisation failed (" + std::to_string(code) + ")";
  }
  // The service keeps the reason of the load that failed (file and cause);
  // without one, the data directory is the best hint.
  const std::string reason = Dict_Last_Error();
  static const int anchor = 0;
  std::fprintf(stderr, "tesq %s: %s: %s\n", command, what.c_str(),
               reason.empty() ? ("data directory " + tesq::Data_Directory(&anchor)).c_str() : reason.c_str());
  return false;
}

// Converts terminal text for the library, or prints why it cannot be.
bool Input_Text(const char *command, const std::string &text, Encoding encoding, std::string *gb) {
  std::string error;
  if (cli::To_Gb(text, encoding, gb, &error)) return true;
  std::fprintf(stderr, "tesq %s: the input cannot be given to the library: %s\n", command, error.c_str());
  return false;
}

bool Output(const char *command, const std::string &bytes) {
  if (cli::Write_Stdout(bytes)) return true;
  std::fprintf(stderr, "tesq %s: write error on standard output\n", command);
  return false;
}

// Reads a whole file, or standard input for "-".
bool Read_Input(const char *command, const std::string &name, std::string *text) {
  FILE *file = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "tesq %s: cannot open '%s': %s\n", command, name.c_str(), std::strerror(errno));
    return false;
  }
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, n);
  const bool ok = !std::ferror(file);
  if (file != stdin) std::fclose(file);
  if (!ok) std::fprintf(stderr, "tesq %s: read error on '%s'\n", command, name.c_str());
  return ok;
}

// An upper bound of the XML document's size for a GB2312 query: the fixed
// pieces, the query twice, and per word (at most one more than the spaces)
// the element pieces, a split word's second element and the longest label.
size_t Document_Bound(const std::string &query) {
  constexpr size_t kFixed = 108, kPerWord = 20 + 24 + 255;
  return kFixed + 2 * query.size() + (query.size() + 1) * kPerWord;
}

const char kSearch_Usage[] =
    "usage: tesq search [OPTIONS] QUERY...\n"
    "\n"
    "Prints the XML query document for QUERY: one Word element per word with its\n"
    "category label in the attribute p. The arguments are joined by single spaces\n"
    "into one query. The library traces every word into as.txt in the current\n"
    "directory.\n"
    "Exit status: 0 document printed, 1 failed, 2 usage error.\n";

const char kWord_Usage[] =
    "usage: tesq word [OPTIONS] WORD\n"
    "\n"
    "Prints the category label of WORD (a known term's label, ISBN, ISSN, CN,\n"
    "专利号, 人名, 机构名, 基金 or 地名).\n"
    "Exit status: 0 labelled, 3 no category (nothing printed), 1 failed,\n"
    "2 usage error.\n";

const char kEssay_Usage[] =
    "usage: tesq essay [OPTIONS] [FILE|-]\n"
    "\n"
    "Segments the text of FILE (default: standard input) into tagged words, with\n"
    "every recognised person, place and organisation name merged into one word\n"
    "tagged 21, 22 or 23. Formats (--format):\n"
    "\n"
    "  inline  word/tag pairs separated by spaces; white space is not printed,\n"
    "          the text's line breaks are kept\n"
    "  json    one JSON object per word and line: text (UTF-8), tag, tag_name,\n"
    "          start and end, the word's byte span [start, end) in the GB2312 text\n"
    "\n"
    "A progress bar is drawn on standard error for a large text when standard\n"
    "error is a terminal.\n"
    "Exit status: 0 done, 1 failed, 2 usage error.\n";

}  // namespace

int Command_Search(int argc, char **argv) {
  const std::vector<cli::Option> options = With_Service_Options({});
  Parsed_Args args;
  Encoding encoding;
  const int parsed = Parse_Command(argc, argv, options, kSearch_Usage, &args, &encoding);
  if (parsed >= 0) return parsed;
  if (args.positional.empty()) {
    std::fprintf(stderr, "tesq search: expected a QUERY\n%s", kSearch_Usage);
    return cli::kExit_Usage;
  }
  std::string query;
  for (size_t i = 0; i < args.positional.size(); ++i) query += (i ? " " : "") + args.positional[i];
  std::string gbquery;
  if (!Input_Text("search", query, encoding, &gbquery)) return cli::kExit_Usage;
  if (!Start_Library("search", args)) return cli::kExit_Failed;

  // One call with a buffer large enough for any document of this query, so
  // that the words are classified (and traced) once.
  std::vector<char> document(Document_Bound(gbquery));
  uint32_t size = static_cast<uint32_t>(document.size());
  const int32_t result = Tesquin_Search(gbquery.c_str(), document.data(), &size);
  Tesquin_UnInit();
  if (result == 1) {
    std::fprintf(stderr, "tesq search: the document needs %u bytes, more than expected\n", size);
    return cli::kExit_Failed;
  }
  if (result != 0) {
    std::fprintf(stderr, "tesq search: a word could not be classified (result %d)\n", result);
    return cli::kExit_Failed;
  }
  return Output("search", cli::From_Gb(document.data(), encoding) + "\n") ? cli::kExit_Ok : cli::kExit_Failed;
}

int Command_Word(int argc, char **argv) {
  const std::vector<cli::Option> options = With_Service_Options({});
  Parsed_Args args;
  Encoding encoding;
  const int parsed = Parse_Command(argc, argv, options, kWord_Usage, &args, &encoding);
  if (parsed >= 0) return parsed;
  if (args.positional.size() != 1) {
    std::fprintf(stderr, "tesq word: expected exactly one WORD\n%s", kWord_Usage);
    return cli::kExit_Usage;
  }
  std::string word;
  if (!Input_Text("word", args.positional[0], encoding, &word)) return cli::kExit_Usage;
  if (!Start_Library("word", args)) return cli::kExit_Failed;
  std::vector<char> label(256);
  uint32_t size = static_cast<uint32_t>(label.size());
  int32_t result = Tesquin_Search_Singleword(word.c_str(), label.data(), &size);
  // A label longer than the buffer (a long label of the term table): once
  // more with the size the library asked for, which it bounds itself.
  if (result == 2 && size > label.size() && size <= 65536) {
    label.resize(size);
    result = Tesquin_Search_Singleword(word.c_str(), label.data(), &size);
  }
  Tesquin_UnInit();
  switch (result) {
    case 0:
      return Output("word", cli::From_Gb(label.data(), encoding) + "\n") ? cli::kExit_Ok : cli::kExit_Failed;
    case 3:
      std::fprintf(stderr, "tesq word: no category\n");
      return kExit_No_Category;
    default:
      std::fprintf(stderr, "tesq word: classification failed (result %d)\n", result);
      return cli::kExit_Failed;
  }
}

namespace {

struct Essay_Word {
  size_t start, end;
  int tag;
};

// Segments one piece of GB2312 text (no NUL byte, at most INT32_MAX - 1
// bytes) and appends its words, offsets counted from `base`. Returns false
// after a message when the library fails or answers with an inconsistent
// segmentation.
bool Essay_Piece(const std::string &piece, size_t base, std::vector<Essay_Word> *words) {
  // The count is both the length given to the segmenter and the number of
  // entries of each array. The text's length plus one (its terminator) gives
  // every possible word (one per byte at most) and the closing 0 entry a
  // place; the segmenter stops at the terminator.
  const int32_t count = static_cast<int32_t>(piece.size()) + 1;
  std::vector<int32_t> ends(static_cast<size_t>(count), 0);
  std::vector<int16_t> tags(static_cast<size_t>(count), 0);
  const int32_t result = Tesquin_Search_Essay(piece.c_str(), ends.data(), count, -1, 1, tags.data());
  if (result == 4) {
    std::fprintf(stderr, "tesq essay: too many names near byte %zu; that part is shown unmerged\n", base);
  } else if (result != 0) {
    std::fprintf(stderr, "tesq essay: segmentation failed near byte %zu (result %d)\n", base, result);
    return false;
  }
  size_t start = 0;
  for (int32_t i = 0; i < count && ends[i] > 0; ++i) {
    const size_t end = static_cast<size_t>(ends[i]);
    if (end <= start || end > piece.size()) {
      std::fprintf(stderr, "tesq essay: the library returned a word ending at byte %zu after byte %zu\n",
                   base + end, base + start);
      return false;
    }
    words->push_back({base + start, base + end, tags[i]});
    start = end;
  }
  if (start < piece.size()) {
    // Bytes the segmentation does not cover stay visible as a word of their
    // own rather than vanish from the output.
    std::fprintf(stderr, "tesq essay: bytes %zu to %zu were left out of the segmentation\n", base + start,
                 base + piece.size());
    words->push_back({base + start, base + piece.size(), 0});
  }
  return true;
}

bool Is_Space(const std::string &word) {
  return word.find_first_not_of(" \t\r\n\f\v") == std::string::npos;
}

std::string Essay_Inline(const std::string &text, const std::vector<Essay_Word> &words, Encoding encoding) {
  std::string out;
  bool line_has_words = false;
  for (const Essay_Word &word : words) {
    const std::string bytes = text.substr(word.start, word.end - word.start);
    if (Is_Space(bytes)) {
      for (char c : bytes)
        if (c == '\n') {
          out += '\n';
          line_has_words = false;
        }
      continue;
    }
    if (line_has_words) out += ' ';
    out += cli::From_Gb(bytes, encoding) + "/" + std::to_string(word.tag);
    line_has_words = true;
  }
  if (line_has_words) out += '\n';
  return out;
}

std::string Essay_Json(const std::string &text, const std::vector<Essay_Word> &words) {
  std::string out;
  for (const Essay_Word &word : words) {
    // JSON text is UTF-8 whatever the terminal encoding.
    const std::string utf8 = cli::From_Gb(text.substr(word.start, word.end - word.start), Encoding::kUtf8);
    out += "{\"text\":" + cli::Json_String(utf8) + ",\"tag\":" + std::to_string(word.tag) +
           ",\"tag_name\":" + cli::Json_String(cli::Tag_Name(word.tag)) +
           ",\"start\":" + std::to_string(word.start) + ",\"end\":" + std::to_string(word.end) + "}\n";
  }
  return out;
}

}  // namespace

int Command_Essay(int argc, char **argv) {
  const std::vector<cli::Option> options =
      With_Service_Options({{"--format", "FORMAT", "inline (default) or json"}});
  Parsed_Args args;
  Encoding encoding;
  const int parsed = Parse_Command(argc, argv, options, kEssay_Usage, &args, &encoding);
  if (parsed >= 0) return parsed;
  const std::string format = args.Get("--format", "inline");
  if (format != "inline" && format != "json") {
    std::fprintf(stderr, "tesq essay: unknown format '%s' (inline or json)\n", format.c_str());
    return cli::kExit_Usage;
  }
  if (args.positional.size() > 1) {
    std::fprintf(stderr, "tesq essay: expected at most one FILE\n%s", kEssay_Usage);
    return cli::kExit_Usage;
  }
  std::string text;
  if (!Read_Input("essay", args.positional.empty() ? "-" : args.positional[0], &text)) return cli::kExit_Failed;
  // A UTF-8 byte order mark is not part of the text.
  if (encoding == Encoding::kUtf8 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::string gbtext;
  if (!Input_Text("essay", text, encoding, &gbtext)) return cli::kExit_Usage;
  text.clear();
  text.shrink_to_fit();
  if (!Start_Library("essay", args)) return cli::kExit_Failed;

  std::vector<Essay_Word> words;
  bool ok = true;
  {
    const std::vector<size_t> piece_ends = cli::Split_Pieces(gbtext, kEssay_Piece_Bytes);
    cli::Progress progress("tesq essay", gbtext.size(), piece_ends.size() > 1 && cli::Stderr_Is_Terminal());
    size_t start = 0;
    for (const size_t end : piece_ends) {
      if (!Essay_Piece(gbtext.substr(start, end - start), start, &words)) {
        ok = false;
        break;
      }
      start = end;
      progress.Update(start);
    }
  }
  Tesquin_UnInit();
  if (!ok) return cli::kExit_Failed;
  const std::string out = format == "json" ? Essay_Json(gbtext, words) : Essay_Inline(gbtext, words, encoding);
  return Output("essay", out) ? cli::kExit_Ok : cli::kExit_Failed;
}
