// tesq search / word / essay: the three front ends from a shell.
//
// Text arrives and leaves as UTF-8 and is converted to and from GB2312 at
// this boundary; --encoding gb2312 passes raw bytes both ways.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "commands.h"
#include "gb2312.h"
#include "platform.h"
#include "tesqsrch/tesqsrch.h"

namespace {

struct Common_Options {
  bool raw_gb2312 = false;
  std::vector<std::string> positional;
};

// Parses the options every front-end command shares. Returns false (after a
// message) on a bad option; sets *help when --help was given.
bool Parse_Common(int argc, char **argv, Common_Options *options, bool *help) {
  *help = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char *name) -> const char * {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tesq %s: %s needs a value\n", argv[0], name);
        return nullptr;
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      *help = true;
    } else if (arg == "--encoding") {
      const char *v = value("--encoding");
      if (v == nullptr) return false;
      if (std::strcmp(v, "gb2312") == 0) options->raw_gb2312 = true;
      else if (std::strcmp(v, "utf-8") == 0 || std::strcmp(v, "utf8") == 0) options->raw_gb2312 = false;
      else {
        std::fprintf(stderr, "tesq %s: unknown encoding '%s' (utf-8 or gb2312)\n", argv[0], v);
        return false;
      }
    } else if (arg == "--data-dir") {
      const char *v = value("--data-dir");
      if (v == nullptr) return false;
      tesq::Set_Environment("TESQ_DATA_DIR", v);
    } else if (arg == "--db") {
      const char *v = value("--db");
      if (v == nullptr) return false;
      tesq::Set_Environment("TESQ_DB", v);
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      std::fprintf(stderr, "tesq %s: unknown option '%s'\n", argv[0], arg.c_str());
      return false;
    } else {
      options->positional.push_back(arg);
    }
  }
  return true;
}

const char kCommonHelp[] =
    "  --encoding E    terminal text is utf-8 (default) or gb2312 (raw bytes)\n"
    "  --data-dir DIR  dictionary directory (default: $TESQ_DATA_DIR or the installed data)\n"
    "  --db FILE       term database (default: $TESQ_DB or terms.db in the data directory)\n"
    "  --help          show this help\n";

bool To_Library(const std::string &text, const Common_Options &options, std::string *out) {
  if (options.raw_gb2312) {
    *out = text;
    return true;
  }
  std::string error;
  if (!gb::Utf8_To_Gb(text, out, &error)) {
    std::fprintf(stderr, "tesq: input is not representable in GB2312: %s\n", error.c_str());
    return false;
  }
  return true;
}

std::string To_Terminal(const std::string &text, const Common_Options &options) {
  if (options.raw_gb2312) return text;
  std::string out;
  gb::Gb_To_Utf8(text, &out, nullptr, /*lenient=*/true);
  return out;
}

bool Init_Library() {
  const int32_t code = Tesquin_Init(0);
  if (code == 0) return true;
  static const char *const kWhat[] = {"", "the dictionary service failed to start",
                                      "loading foreign_dic failed", "loading name_dic failed",
                                      "loading org_dic failed", "loading fund_dic failed",
                                      "loading place failed"};
  const int index = -code;
  std::fprintf(stderr, "tesq: initialisation failed (%d): %s\n", code,
               index >= 1 && index <= 6 ? kWhat[index] : "unknown error");
  return false;
}

}  // namespace

int Command_Search(int argc, char **argv) {
  Common_Options options;
  bool help = false;
  if (!Parse_Common(argc, argv, &options, &help)) return 2;
  if (help) {
    std::printf("usage: tesq search [OPTIONS] QUERY...\n\nPrints the XML query document; the words of all\n"
                "arguments are joined by single spaces.\n\n%s",
                kCommonHelp);
    return 0;
  }
  std::string query;
  for (size_t i = 0; i < options.positional.size(); ++i) query += (i ? " " : "") + options.positional[i];
  std::string gbquery;
  if (!To_Library(query, options, &gbquery)) return 2;
  if (!Init_Library()) return 1;
  std::vector<char> output(4096);
  uint32_t size = static_cast<uint32_t>(output.size());
  int32_t result = Tesquin_Search(gbquery.c_str(), output.data(), &size);
  if (result == 1) {
    output.resize(size);
    result = Tesquin_Search(gbquery.c_str(), output.data(), &size);
  }
  Tesquin_UnInit();
  if (result != 0) {
    std::fprintf(stderr, "tesq search: a word could not be classified (result %d)\n", result);
    return 1;
  }
  std::cout << To_Terminal(output.data(), options) << "\n";
  return 0;
}

int Command_Word(int argc, char **argv) {
  Common_Options options;
  bool help = false;
  if (!Parse_Common(argc, argv, &options, &help)) return 2;
  if (help) {
    std::printf("usage: tesq word [OPTIONS] WORD\n\nPrints the category label of WORD.\n"
                "Exit status: 0 labelled, 3 no category, 1 failed, 2 usage error.\n\n%s",
                kCommonHelp);
    return 0;
  }
  if (options.positional.size() != 1) {
    std::fprintf(stderr, "tesq word: expected exactly one WORD\n");
    return 2;
  }
  std::string word;
  if (!To_Library(options.positional[0], options, &word)) return 2;
  if (!Init_Library()) return 1;
  char label[256];
  uint32_t size = sizeof label;
  const int32_t result = Tesquin_Search_Singleword(word.c_str(), label, &size);
  Tesquin_UnInit();
  if (result == 0) {
    std::cout << To_Terminal(label, options) << "\n";
    return 0;
  }
  if (result == 3) {
    std::fprintf(stderr, "tesq word: no category\n");
    return 3;
  }
  std::fprintf(stderr, "tesq word: classification failed (result %d)\n", result);
  return 1;
}

int Command_Essay(int argc, char **argv) {
  Common_Options options;
  bool help = false;
  if (!Parse_Common(argc, argv, &options, &help)) return 2;
  if (help) {
    std::printf("usage: tesq essay [OPTIONS] [FILE|-]\n\nPrints the segmentation of the text, with person,\n"
                "place and organisation names merged, as word/tag pairs.\n\n%s",
                kCommonHelp);
    return 0;
  }
  std::string text;
  if (options.positional.empty() || options.positional[0] == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    FILE *file = std::fopen(options.positional[0].c_str(), "rb");
    if (file == nullptr) {
      std::fprintf(stderr, "tesq essay: cannot open '%s'\n", options.positional[0].c_str());
      return 1;
    }
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file)) > 0) text.append(buf, n);
    std::fclose(file);
  }
  std::string gbtext;
  if (!To_Library(text, options, &gbtext)) return 2;
  if (gbtext.size() > INT32_MAX - 1) {
    std::fprintf(stderr, "tesq essay: text too long\n");
    return 2;
  }
  if (!Init_Library()) return 1;
  const int32_t count = static_cast<int32_t>(gbtext.size()) + 1;
  std::vector<int32_t> ends(count);
  std::vector<int16_t> tags(count);
  const int32_t result = Tesquin_Search_Essay(gbtext.c_str(), ends.data(), count, 0, 0, tags.data());
  Tesquin_UnInit();
  if (result != 0) {
    std::fprintf(stderr, "tesq essay: segmentation failed (result %d)\n", result);
    return 1;
  }
  std::string line;
  int32_t start = 0;
  for (int32_t i = 0; i < count && ends[i] > 0; ++i) {
    if (i > 0) line += ' ';
    line += gbtext.substr(start, ends[i] - start) + "/" + std::to_string(tags[i]);
    start = ends[i];
  }
  std::cout << To_Terminal(line, options) << "\n";
  return 0;
}
