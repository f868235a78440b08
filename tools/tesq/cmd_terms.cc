// tesq terms import / export / init: the options and the messages; the work
// is libkarvel's writer (karvel/src/term_writer.h), for database files and
// PostgreSQL URIs alike.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "platform.h"
#include "term_writer.h"

namespace {

// Prints what the writer said, each line as the action's, and gives the
// exit status: 0 done, 1 failed.
int Finish(const std::string &action, const karvel::Terms_Result &result) {
  for (const std::string &message : result.messages)
    std::fprintf(stderr, "tesq terms %s: %s\n", action.c_str(), message.c_str());
  return result.status == karvel::Terms_Status::kDone ? 0 : 1;
}

// An import's count of lines read, rewritten in place on a terminal.
karvel::Terms_Progress Import_Progress(bool *shown) {
  karvel::Terms_Progress progress;
  if (tesq::Stderr_Is_Terminal())
    progress.lines = [shown](long lines) {
      std::fprintf(stderr, "\rtesq terms import: %ld lines", lines);
      *shown = true;
    };
  progress.note = [](const std::string &message) {
    std::fprintf(stderr, "tesq terms import: %s\n", message.c_str());
    std::fflush(stderr);
  };
  return progress;
}

const char kUsage[] =
    "usage: tesq terms import [--replace] [--db DATABASE] FILE|-\n"
    "       tesq terms export [--db DATABASE] [FILE|-]\n"
    "       tesq terms init [--db DATABASE]\n"
    "\n"
    "Loads known terms (UTF-8, one 'word<TAB>label' per line) into the table\n"
    "420_DIC of the term database, writes them out in the same format, or\n"
    "creates the table.\n"
    "\n"
    "  --replace      empty the table first (default: merge, a word's new label wins)\n"
    "  --db DATABASE  an SQLite file or a postgresql:// URI (default: $TESQ_DB, else\n"
    "                 terms.db in the data directory)\n"
    "  --help         show this help\n";

}  // namespace

int Command_Terms(int argc, char **argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string action = argv[1];
  if (action == "--help" || action == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (action != "import" && action != "export" && action != "init") {
    std::fprintf(stderr, "tesq terms: unknown action '%s' (import, export or init)\n", action.c_str());
    std::fputs(kUsage, stderr);
    return 2;
  }
  bool replace = false;
  std::string database;
  std::vector<std::string> positional;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--replace" && action == "import") {
      replace = true;
    } else if (arg == "--db") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tesq terms %s: --db needs a value\n", action.c_str());
        return 2;
      }
      database = argv[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "tesq terms %s: unknown option '%s'\n", action.c_str(), arg.c_str());
      return 2;
    } else {
      positional.push_back(arg);
    }
  }
  if (database.empty()) database = karvel::Terms_Default_Database();
  if (action == "import") {
    if (positional.size() != 1) {
      std::fprintf(stderr, "tesq terms import: expected exactly one FILE (or - for standard input)\n");
      return 2;
    }
    bool shown = false;
    const karvel::Terms_Result result = karvel::Terms_Import(positional[0], database, replace, Import_Progress(&shown));
    if (shown) std::fputc('\n', stderr);
    return Finish(action, result);
  }
  if (action == "init") {
    if (!positional.empty()) {
      std::fprintf(stderr, "tesq terms init: expected no FILE\n");
      return 2;
    }
    return Finish(action, karvel::Terms_Init(database));
  }
  if (positional.size() > 1) {
    std::fprintf(stderr, "tesq terms export: expected at most one FILE\n");
    return 2;
  }
  return Finish(action, karvel::Terms_Export(database, positional.empty() ? "-" : positional[0]));
}
