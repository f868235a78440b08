// tesq: the command-line face of libtesqsrch. Dispatches to one subcommand;
// "tesq --help" lists them, "tesq COMMAND --help" shows a command's options.
// Exit status 2 is a usage error throughout.
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>
#endif

#include "commands.h"

namespace {

struct Subcommand {
  const char *name;
  int (*run)(int, char **);
  const char *summary;
};

const Subcommand kSubcommands[] = {
    {"search", Command_Search, "print the XML query document for a query"},
    {"word", Command_Word, "print the category label of one word"},
    {"essay", Command_Essay, "print the enriched segmentation of a text"},
    {"terms", Command_Terms, "import or export the known terms of 420_DIC"},
    {"build-dicts", Command_Build_Dicts, "build the segmenter lexicon and the five dictionaries"},
#if defined(TESQ_HAVE_SERVE)
    {"serve", Command_Serve, "answer query analysis over HTTP (JSON)"},
#endif
};

void Print_Usage(FILE *out) {
  std::fprintf(out, "usage: tesq COMMAND [ARGS...]\n\ncommands:\n");
  for (const Subcommand &s : kSubcommands) std::fprintf(out, "  %-12s %s\n", s.name, s.summary);
  std::fprintf(out,
               "\nRun 'tesq COMMAND --help' for the options of a command.\n"
               "'tesq --version' prints the version.\n");
}

#if defined(_WIN32)
// Windows hands a program its arguments in the system's ANSI code page; the
// tool reads text arguments as UTF-8 (as on other systems), so it takes them
// from the wide command line instead.
bool Utf8_Arguments(std::vector<std::string> *storage, std::vector<char *> *pointers) {
  int count = 0;
  LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return false;
  storage->resize(static_cast<size_t>(count));
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    ok = size > 0;
    if (!ok) break;
    std::string &arg = (*storage)[static_cast<size_t>(i)];
    arg.resize(static_cast<size_t>(size));
    ok = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &arg[0], size, nullptr, nullptr) == size;
    arg.resize(static_cast<size_t>(size - 1));
  }
  LocalFree(wide);
  if (!ok) return false;
  for (std::string &arg : *storage) pointers->push_back(&arg[0]);
  pointers->push_back(nullptr);
  return true;
}
#endif

// Every command's output goes to standard output: one that could not be
// written or flushed (a full disk, a closed pipe) fails the command, even
// when the command itself did not look.
int Finish_Output(int status) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  if (status == 0) std::fprintf(stderr, "tesq: write error on standard output\n");
  return status == 0 ? 1 : status;
}

int Run(int argc, char **argv) {
#if defined(_WIN32)
  std::vector<std::string> utf8_storage;
  std::vector<char *> utf8_argv;
  if (Utf8_Arguments(&utf8_storage, &utf8_argv)) {
    argc = static_cast<int>(utf8_storage.size());
    argv = utf8_argv.data();
  }
#endif
  if (argc < 2) {
    Print_Usage(stderr);
    return 2;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    Print_Usage(stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0) {
    std::printf("tesq %s\n", TESQ_VERSION);
    return 0;
  }
  for (const Subcommand &s : kSubcommands)
    if (std::strcmp(argv[1], s.name) == 0) return s.run(argc - 1, argv + 1);
  std::fprintf(stderr, "tesq: unknown command '%s'\n", argv[1]);
  Print_Usage(stderr);
  return 2;
}

}  // namespace

int main(int argc, char **argv) { return Finish_Output(Run(argc, argv)); }
