// Builds the segmenter lexicon and the five dictionaries in one call.
//
// From a tagged lexicon (jieba's dict.txt format) the builder writes the
// text sources (segmenter.txt and NAME.txt, UTF-8) with the dictionaries
// trained from the lexicon (dict_trainer.h), and compiles them
// (segmenter.vlex, NAME.vdic). From a directory of text sources edited by
// hand it compiles them alone.
//
// Every output is written to a temporary name in the output directory first;
// only when all of them are written are they renamed over the old files, so
// a failure (a full disk) leaves the directory as it was, sources and
// compiled files that match.
#ifndef TESQ_TOOLS_DICT_BUILDER_H
#define TESQ_TOOLS_DICT_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "dict_trainer.h"

namespace tesq_tools {

// The number of stages Build_Request::progress counts up to: read,
// segmenter lexicon, training, sources, compiling, writing.
constexpr int kBuild_Stages = 6;

struct Build_Request {
  // Exactly one of the two: the tagged lexicon to train from, or the
  // directory of edited text sources to compile.
  std::string lexicon_path;
  std::string sources_dir;
  std::string out_dir;  // created when missing
  // Optional, with a lexicon: friso-dict's UTF-8 dictionary directory, whose
  // lists of surnames, given-name characters and places clean the
  // lexicon's name tags (Read_Name_Lists).
  std::string name_lists_dir;
  // Optional, with name lists: the senses of a general dictionary
  // (Read_Word_Senses), which settle the lexicon's name and place tags.
  std::string senses_path;
  Train_Parameters parameters;
  // Called with the number of stages finished (1 to kBuild_Stages - 1) as
  // the build goes; the last stage ends when Build_Dictionaries returns.
  std::function<void(int)> progress;
};

struct Build_Report {
  bool trained = false;            // from a lexicon, not from edited sources
  size_t segmenter_words = 0;      // words of segmenter.vlex
  size_t dropped = 0;              // lexicon words that are not GB2312 Han
  size_t fragments = 0;            // transliteration fragments left out of the segmenter (trained only)
  uint64_t total_frequency = 0;    // the frequency total of the segmenter's weights
  std::vector<std::pair<std::string, size_t>> dictionaries;  // NAME, entries; in build order

  // The summary tesq build-dicts prints: one line for segmenter.vlex, one
  // per dictionary.
  std::string Text() const;
};

// Builds into request.out_dir. On failure returns false with the reason in
// `error` and the output directory unchanged.
bool Build_Dictionaries(const Build_Request &request, Build_Report *report, std::string *error);

}  // namespace tesq_tools

#endif
