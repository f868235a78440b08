// tesq build-dicts: builds the segmenter lexicon and the five dictionaries
// (dict_builder.h does the work).
//
//   tesq build-dicts --lexicon FILE --out DIR
//     trains the dictionaries from a tagged lexicon and compiles them with
//     their text sources. --param NAME=VALUE overrides a smoothing constant
//     of the trainer.
//   tesq build-dicts --sources DIR --out DIR
//     compiles text sources edited by hand.
#include <cstdio>
#include <string>

#include "commands.h"
#include "dict_builder.h"
#include "progress.h"

namespace {

void Usage(FILE *out) {
  std::fprintf(out,
               "usage: tesq build-dicts --lexicon FILE [--name-lists DIR [--senses FILE]] --out DIR\n"
               "                        [--param NAME=VALUE]...\n"
               "       tesq build-dicts --sources DIR --out DIR\n\n"
               "Builds the segmenter lexicon (segmenter.vlex) and the dictionaries foreign_dic,\n"
               "name_dic, org_dic, fund_dic and place (NAME.vdic) in DIR. With --lexicon the\n"
               "text sources (segmenter.txt, NAME.txt) are written first, with the dictionaries\n"
               "trained from the lexicon's tags; with --sources they are read from DIR.\n\n"
               "options:\n"
               "  --lexicon FILE  the tagged jieba lexicon (word frequency tag per line)\n"
               "  --name-lists DIR  with --lexicon: friso-dict's UTF-8 dictionary directory, whose\n"
               "                  lists of surnames, given-name characters and places clean the\n"
               "                  lexicon's name tags\n"
               "  --senses FILE   with --name-lists: word senses of a general dictionary\n"
               "                  (tools/dicts/word_senses.py), which settle which name and place\n"
               "                  entries of the lexicon are real names\n"
               "  --sources DIR   compile edited text sources from DIR instead\n"
               "  --out DIR       where the compiled files (and the sources) are written\n"
               "  --param N=V     override a training parameter (see data/README.md)\n"
               "  --help          show this help\n");
}

}  // namespace

int Command_Build_Dicts(int argc, char **argv) {
  tesq_tools::Build_Request request;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    }
    if ((arg == "--lexicon" || arg == "--sources" || arg == "--out") && i + 1 < argc) {
      (arg == "--lexicon" ? request.lexicon_path : arg == "--sources" ? request.sources_dir : request.out_dir) =
          argv[++i];
      continue;
    }
    if (arg == "--name-lists" && i + 1 < argc) {
      request.name_lists_dir = argv[++i];
      continue;
    }
    if (arg == "--senses" && i + 1 < argc) {
      request.senses_path = argv[++i];
      continue;
    }
    if (arg == "--param" && i + 1 < argc) {
      if (tesq_tools::Set_Train_Parameter(&request.parameters, argv[++i])) continue;
      std::fprintf(stderr, "tesq build-dicts: bad parameter '%s'\n", argv[i]);
      return 2;
    }
    std::fprintf(stderr, "tesq build-dicts: unexpected argument '%s'\n", argv[i]);
    Usage(stderr);
    return 2;
  }
  if (request.out_dir.empty() || request.lexicon_path.empty() == request.sources_dir.empty()) {
    Usage(stderr);
    return 2;
  }
  cli::Progress progress("tesq build-dicts", tesq_tools::kBuild_Stages, cli::Stderr_Is_Terminal());
  request.progress = [&progress](int stage) { progress.Update(static_cast<uint64_t>(stage)); };
  tesq_tools::Build_Report report;
  std::string error;
  if (!tesq_tools::Build_Dictionaries(request, &report, &error)) {
    std::fprintf(stderr, "tesq build-dicts: %s\n", error.c_str());
    return 1;
  }
  // The summary is printed once the bar is gone.
  progress.Finish();
  std::fputs(report.Text().c_str(), stdout);
  return 0;
}
