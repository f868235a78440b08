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

#include <sys/stat.h>

#include "cli_options.h"
#include "commands.h"
#include "data_dir.h"
#include "essay_stream.h"
#include "gb2312.h"
#include "library_calls.h"
#include "progress.h"
#include "tesqsrch/tesqsrch.h"
#include "vornel/vornel.h"

namespace {

using cli::Encoding;
using cli::Parsed_Args;

constexpr int kExit_No_Category = 3;

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

// The size of an open regular file, for the progress bar; 0 for a pipe or
// terminal, whose size is not known ahead.
size_t Regular_File_Size(FILE *file) {
  struct stat info;
  if (::fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) return 0;
  return static_cast<size_t>(info.st_size);
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
    "The text is read, segmented and printed in pieces of about 64 KiB, cut at\n"
    "line feeds where possible; a character that cannot be given to the library\n"
    "stops it after the words before it. A progress bar is drawn on standard\n"
    "error for a large file when standard error is a terminal.\n"
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

  std::string document;
  uint32_t size = 0;
  const int32_t result = cli::Query_Document(gbquery, &document, &size);
  Tesquin_UnInit();
  if (result == 1) {
    std::fprintf(stderr, "tesq search: the document needs %u bytes, more than expected\n", size);
    return cli::kExit_Failed;
  }
  if (result != 0) {
    std::fprintf(stderr, "tesq search: a word could not be classified (result %d)\n", result);
    return cli::kExit_Failed;
  }
  return Output("search", cli::From_Gb(document, encoding) + "\n") ? cli::kExit_Ok : cli::kExit_Failed;
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
  std::string label;
  const int32_t result = cli::Word_Label(word, &label);
  Tesquin_UnInit();
  switch (result) {
    case 0:
      return Output("word", cli::From_Gb(label, encoding) + "\n") ? cli::kExit_Ok : cli::kExit_Failed;
    case 3:
      std::fprintf(stderr, "tesq word: no category\n");
      return kExit_No_Category;
    default:
      std::fprintf(stderr, "tesq word: classification failed (result %d)\n", result);
      return cli::kExit_Failed;
  }
}

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
  const std::string name = args.positional.empty() ? "-" : args.positional[0];
  FILE *file = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "tesq essay: cannot open '%s': %s\n", name.c_str(), std::strerror(errno));
    return cli::kExit_Failed;
  }
  cli::Essay_Options essay;
  essay.format = format == "json" ? cli::Essay_Format::kJson : cli::Essay_Format::kInline;
  essay.encoding = encoding;
  essay.input_size = Regular_File_Size(file);
  essay.progress = cli::Stderr_Is_Terminal();
  bool started = false;
  essay.start_library = [&]() { return started = Start_Library("essay", args); };
  const int status = cli::Essay_Stream(file, name, stdout, essay);
  if (started) Tesquin_UnInit();
  if (file != stdin) std::fclose(file);
  return status;
}
