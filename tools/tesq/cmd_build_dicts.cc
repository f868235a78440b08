// tesq build-dicts: builds the segmenter lexicon and the five dictionaries.
//
//   tesq build-dicts --lexicon FILE --out DIR
//     reads a tagged lexicon (jieba's dict.txt format), writes the text
//     sources (segmenter.txt and NAME.txt, UTF-8) with the dictionaries
//     trained from the lexicon (dict_trainer.h), and compiles them
//     (segmenter.vlex, NAME.vdic). --param NAME=VALUE overrides a smoothing
//     constant of the trainer.
//   tesq build-dicts --sources DIR --out DIR
//     compiles text sources edited by hand.
//
// Every output is written to a temporary name in --out first; only when all
// of them are written are they renamed over the old files, so a failure (a
// full disk) leaves --out as it was, sources and compiled files that match.
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "progress.h"
#include "data_dir.h"
#include "dict_trainer.h"
#include "dict_sources.h"
#include "dictionary.h"
#include "format.h"
#include "lexicon.h"
#include "platform.h"
#include "segmenter.h"
#include "tags.h"

namespace {

using tesq_tools::Dict_Entries;

struct Dict_Output {
  const char *name;
  size_t max_info;
  const char *title;
};

const Dict_Output kDicts[] = {
    {"foreign_dic", tesq_tools::kMax_Info_Org, "foreign_dic: characters of transliterated foreign names"},
    {"name_dic", tesq_tools::kMax_Info_Name, "name_dic: surname and given-name character statistics"},
    {"org_dic", tesq_tools::kMax_Info_Org, "org_dic: organisation-name part statistics"},
    {"fund_dic", tesq_tools::kMax_Info_Org, "fund_dic: fund-name part statistics"},
    {"place", tesq_tools::kMax_Info_Org, "place: place names"},
};

void Usage(FILE *out) {
  std::fprintf(out,
               "usage: tesq build-dicts --lexicon FILE --out DIR [--param NAME=VALUE]...\n"
               "       tesq build-dicts --sources DIR --out DIR\n\n"
               "Builds the segmenter lexicon (segmenter.vlex) and the dictionaries foreign_dic,\n"
               "name_dic, org_dic, fund_dic and place (NAME.vdic) in DIR. With --lexicon the\n"
               "text sources (segmenter.txt, NAME.txt) are written first, with the dictionaries\n"
               "trained from the lexicon's tags; with --sources they are read from DIR.\n\n"
               "options:\n"
               "  --lexicon FILE  the tagged jieba lexicon (word frequency tag per line)\n"
               "  --sources DIR   compile edited text sources from DIR instead\n"
               "  --out DIR       where the compiled files (and the sources) are written\n"
               "  --param N=V     override a training parameter (see data/README.md)\n"
               "  --help          show this help\n");
}

bool Compile_Lexicon_Source(const tesq_tools::Lexicon_Source &src, vornel::Blob *blob, std::string *error) {
  std::vector<vornel::Lexicon_Word> words;
  words.reserve(src.entries.size());
  for (const tesq_tools::Lexicon_Entry &e : src.entries) {
    vornel::Lexicon_Word w;
    for (size_t i = 0; i + 1 < e.word.size(); i += 2)
      w.codes.push_back(static_cast<uint16_t>(
          vornel::Han_Code(static_cast<unsigned char>(e.word[i]), static_cast<unsigned char>(e.word[i + 1]))));
    w.frequency = e.frequency;
    w.tag = vornel::Tag_Number(e.tag);
    words.push_back(std::move(w));
  }
  return vornel::Compile_Lexicon(words, src.total, blob, error);
}

bool Write_Blob(const vornel::Blob &blob, const std::string &path, std::string *error) {
  return vornel::Write_File_Atomic(path, blob.Data(), blob.Size(), error);
}

// The outputs written so far under temporary names. Commit renames them
// all over their final names; an uncommitted staging removes them.
class Staging {
 public:
  Staging() = default;
  Staging(const Staging &) = delete;
  Staging &operator=(const Staging &) = delete;
  ~Staging() {
    for (const auto &file : files_) std::remove(file.first.c_str());
  }
  // The temporary name under which the output `path` is written.
  std::string Add(const std::string &path) {
    files_.emplace_back(path + ".new." + std::to_string(tesq::Process_Id()), path);
    return files_.back().first;
  }
  bool Commit(std::string *error) {
    for (size_t k = 0; k < files_.size(); ++k) {
      if (!tesq::Replace_File(files_[k].first, files_[k].second)) {
        *error = "cannot rename " + files_[k].first + " to " + files_[k].second + ": " + std::strerror(errno);
        files_.erase(files_.begin(), files_.begin() + static_cast<std::ptrdiff_t>(k));
        return false;
      }
    }
    files_.clear();
    return true;
  }

 private:
  std::vector<std::pair<std::string, std::string>> files_;  // temporary, final
};

int Fail(const std::string &what) {
  std::fprintf(stderr, "tesq build-dicts: %s\n", what.c_str());
  return 1;
}

}  // namespace

int Command_Build_Dicts(int argc, char **argv) {
  std::string lexicon_path, sources_dir, out_dir;
  tesq_tools::Train_Parameters parameters;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    }
    if ((arg == "--lexicon" || arg == "--sources" || arg == "--out") && i + 1 < argc) {
      (arg == "--lexicon" ? lexicon_path : arg == "--sources" ? sources_dir : out_dir) = argv[++i];
      continue;
    }
    if (arg == "--param" && i + 1 < argc) {
      if (tesq_tools::Set_Train_Parameter(&parameters, argv[++i])) continue;
      std::fprintf(stderr, "tesq build-dicts: bad parameter '%s'\n", argv[i]);
      return 2;
    }
    std::fprintf(stderr, "tesq build-dicts: unexpected argument '%s'\n", argv[i]);
    Usage(stderr);
    return 2;
  }
  if (out_dir.empty() || lexicon_path.empty() == sources_dir.empty()) {
    Usage(stderr);
    return 2;
  }
  std::string error;
  std::error_code mkdir_error;
  std::filesystem::create_directories(out_dir, mkdir_error);
  if (mkdir_error) return Fail("cannot create " + out_dir + ": " + mkdir_error.message());
  const bool estimate = !lexicon_path.empty();
  const std::string lex_text =
      estimate ? lexicon_path : tesq::Join_Path(sources_dir, "segmenter.txt");
  // The stages of the build, shown as a bar when stderr is a terminal: read,
  // segmenter lexicon, training, sources, compiling, writing.
  cli::Progress progress("tesq build-dicts", 6, cli::Stderr_Is_Terminal());
  tesq_tools::Lexicon_Source src;
  if (!tesq_tools::Read_Lexicon_Text(lex_text, &src, &error)) return Fail(error);
  progress.Update(1);
  // The segmenter's words: with a tagged lexicon, without the fragments of
  // transliterated names (the trainer reads every entry).
  Staging staging;
  tesq_tools::Lexicon_Source seg;
  const tesq_tools::Lexicon_Source *seg_src = &src;
  if (estimate) {
    seg.total = src.total;
    seg.dropped = src.dropped;
    seg.entries = tesq_tools::Segmenter_Entries(src.entries, tesq_tools::Train_Foreign(src.entries, parameters), parameters);
    seg_src = &seg;
    if (!tesq_tools::Write_Lexicon_Text(staging.Add(tesq::Join_Path(out_dir, "segmenter.txt")), seg, &error))
      return Fail(error);
  }
  vornel::Blob lex_blob;
  if (!Compile_Lexicon_Source(*seg_src, &lex_blob, &error)) return Fail(error);
  progress.Update(2);
  // The summary is printed once the bar is gone.
  char summary[256];
  std::snprintf(summary, sizeof summary, "segmenter.vlex: %zu words (%zu dropped: not GB2312 Han%s%zu%s), total frequency %llu\n",
                seg_src->entries.size(), seg_src->dropped, estimate ? "; " : "",
                estimate ? src.entries.size() - seg.entries.size() : size_t{0},
                estimate ? " transliteration fragments" : "", static_cast<unsigned long long>(seg_src->total));

  std::vector<Dict_Entries> dicts(5);
  if (estimate) {
    vornel::Blob copy(lex_blob.Size());
    std::memcpy(copy.Data(), lex_blob.Data(), lex_blob.Size());
    std::unique_ptr<vornel::Lexicon> lexicon = vornel::Lexicon::From_Blob(std::move(copy), &error);
    if (lexicon == nullptr) return Fail("compiled lexicon does not load: " + error);
    const vornel::Lexicon &lex = *lexicon;
    const tesq_tools::Word_Splitter split = [&lex](const std::string &word) {
      std::vector<int32_t> ends(word.size() + 1);
      std::vector<int16_t> tags(word.size() + 1);
      const long n = vornel::Segment(lex, word.data(), word.size(), ends.data(), tags.data(), ends.size(), false);
      std::vector<std::string> parts;
      for (long k = 0, start = 0; k < n; start = ends[k++]) parts.push_back(word.substr(start, ends[k] - start));
      return parts;
    };
    const tesq_tools::Trained_Dictionaries est = tesq_tools::Train_Dictionaries(src.entries, split, parameters);
    dicts = {est.foreign_dic, est.name_dic, est.org_dic, est.fund_dic, est.place};
  }
  progress.Update(3);
  for (size_t k = 0; k < 5; ++k) {
    const Dict_Output &output = kDicts[k];
    const std::string text_path = tesq::Join_Path(estimate ? out_dir : sources_dir, std::string(output.name) + ".txt");
    if (estimate) {
      for (const auto &e : dicts[k])
        if (!tesq_tools::Info_String_Ok(e.second, output.max_info))
          return Fail(std::string(output.name) + ": trained information string does not fit: " + e.second);
      if (!tesq_tools::Write_Dict_Text(staging.Add(text_path), output.title, dicts[k], &error)) return Fail(error);
    } else if (!tesq_tools::Read_Dict_Text(text_path, output.max_info, &dicts[k], &error)) {
      return Fail(error);
    }
  }
  progress.Update(4);
  // Every source is read and compiled before any compiled file is replaced.
  std::vector<vornel::Blob> blobs(5);
  for (size_t k = 0; k < 5; ++k)
    if (!vornel::Compile_Dictionary(dicts[k], &blobs[k], &error)) return Fail(kDicts[k].name + std::string(": ") + error);
  progress.Update(5);
  if (!Write_Blob(lex_blob, staging.Add(tesq::Join_Path(out_dir, "segmenter.vlex")), &error)) return Fail(error);
  for (size_t k = 0; k < 5; ++k) {
    if (!Write_Blob(blobs[k], staging.Add(tesq::Join_Path(out_dir, std::string(kDicts[k].name) + ".vdic")), &error))
      return Fail(error);
  }
  if (!staging.Commit(&error)) return Fail(error);
  progress.Finish();
  std::fputs(summary, stdout);
  for (size_t k = 0; k < 5; ++k) std::printf("%s.vdic: %zu entries\n", kDicts[k].name, dicts[k].size());
  return 0;
}
