#include "dict_builder.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "data_dir.h"
#include "dict_sources.h"
#include "dictionary.h"
#include "format.h"
#include "lexicon.h"
#include "platform.h"
#include "segmenter.h"
#include "tags.h"

namespace tesq_tools {

namespace {

struct Dict_Output {
  const char *name;
  size_t max_info;
  const char *title;
};

const Dict_Output kDicts[] = {
    {"foreign_dic", kMax_Info_Org, "foreign_dic: characters of transliterated foreign names"},
    {"name_dic", kMax_Info_Name, "name_dic: surname and given-name character statistics"},
    {"org_dic", kMax_Info_Org, "org_dic: organisation-name part statistics"},
    {"fund_dic", kMax_Info_Org, "fund_dic: fund-name part statistics"},
    {"place", kMax_Info_Org, "place: place names"},
};

bool Compile_Lexicon_Source(const Lexicon_Source &src, vornel::Blob *blob, std::string *error) {
  std::vector<vornel::Lexicon_Word> words;
  words.reserve(src.entries.size());
  for (const Lexicon_Entry &e : src.entries) {
    vornel::Lexicon_Word w;
    for (size_t i = 0; i + 1 < e.word.size(); i += 2)
      w.codes.push_back(static_cast<uint16_t>(
          vornel::Han_Code(static_cast<unsigned char>(e.word[i]), static_cast<unsigned char>(e.word[i + 1]))));
    w.frequency = e.frequency;
    w.tag = vornel::Tag_Number(e.tag);
    w.apart = e.apart;
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

// The segmenter's word splitter over a compiled lexicon.
Word_Splitter Splitter(const vornel::Lexicon &lex) {
  return [&lex](const std::string &word) {
    std::vector<int32_t> ends(word.size() + 1);
    std::vector<int16_t> tags(word.size() + 1);
    const long n =
        vornel::Segment(lex, word.data(), word.size(), ends.data(), tags.data(), ends.size(), false, true);
    std::vector<std::string> parts;
    for (long k = 0, start = 0; k < n; start = ends[k++]) parts.push_back(word.substr(start, ends[k] - start));
    return parts;
  };
}

// Trains the dictionaries over the segmentation of the compiled `lex_blob`.
bool Train_With(const std::vector<Lexicon_Entry> &lexicon, const vornel::Blob &lex_blob,
                const Train_Parameters &parameters, const Name_Lists &lists, Trained_Dictionaries *out,
                std::string *error) {
  vornel::Blob copy(lex_blob.Size());
  std::memcpy(copy.Data(), lex_blob.Data(), lex_blob.Size());
  std::unique_ptr<vornel::Lexicon> compiled = vornel::Lexicon::From_Blob(std::move(copy), error);
  if (compiled == nullptr) {
    *error = "compiled lexicon does not load: " + *error;
    return false;
  }
  *out = Train_Dictionaries(lexicon, Splitter(*compiled), parameters, lists);
  return true;
}

}  // namespace

std::string Build_Report::Text() const {
  char summary[256];
  std::snprintf(summary, sizeof summary,
                "segmenter.vlex: %zu words (%zu dropped: not GB2312 Han%s%zu%s), total frequency %llu\n",
                segmenter_words, dropped, trained ? "; " : "", fragments, trained ? " transliteration fragments" : "",
                static_cast<unsigned long long>(total_frequency));
  std::string text = summary;
  for (const auto &d : dictionaries) text += d.first + ".vdic: " + std::to_string(d.second) + " entries\n";
  return text;
}

bool Build_Dictionaries(const Build_Request &request, Build_Report *report, std::string *error) {
  const auto progress = [&request](int stage) {
    if (request.progress) request.progress(stage);
  };
  const std::string &out_dir = request.out_dir;
  const std::string &sources_dir = request.sources_dir;
  if (out_dir.empty() || request.lexicon_path.empty() == sources_dir.empty()) {
    *error = "give an output directory and either a lexicon or a sources directory";
    return false;
  }
  std::error_code mkdir_error;
  std::filesystem::create_directories(out_dir, mkdir_error);
  if (mkdir_error) {
    *error = "cannot create " + out_dir + ": " + mkdir_error.message();
    return false;
  }
  const bool estimate = !request.lexicon_path.empty();
  const std::string lex_text = estimate ? request.lexicon_path : tesq::Join_Path(sources_dir, "segmenter.txt");
  Lexicon_Source src;
  if (!Read_Lexicon_Text(lex_text, &src, error)) return false;
  Name_Lists lists;
  if (estimate && !request.name_lists_dir.empty() && !Read_Name_Lists(request.name_lists_dir, &lists, error))
    return false;
  if (!request.senses_path.empty()) {
    if (!estimate || lists.Empty()) {
      *error = "word senses are read only with a lexicon and name lists";
      return false;
    }
    if (!Read_Word_Senses(request.senses_path, &lists, error)) return false;
  }
  progress(1);
  // The segmenter's words: with a tagged lexicon, without the fragments of
  // transliterated names (the trainer reads every entry).
  Staging staging;
  Lexicon_Source seg;
  const Lexicon_Source *seg_src = &src;
  if (estimate) {
    seg.total = src.total;
    seg.dropped = src.dropped;
    seg.entries =
        Segmenter_Entries(src.entries, Train_Foreign(src.entries, request.parameters), request.parameters, lists);
    seg_src = &seg;
  }
  vornel::Blob lex_blob;
  if (!Compile_Lexicon_Source(*seg_src, &lex_blob, error)) return false;
  progress(2);
  std::vector<Dict_Entries> dicts(5);
  if (estimate) {
    Trained_Dictionaries est;
    if (!Train_With(src.entries, lex_blob, request.parameters, lists, &est, error)) return false;
    // Person entries the trained weights read as names change the
    // segmenter's words; the dictionaries are then trained again over the
    // new segmentation.
    if (Reread_Person_Entries(src.entries, est, request.parameters, lists, &seg.entries)) {
      if (!Compile_Lexicon_Source(seg, &lex_blob, error) ||
          !Train_With(src.entries, lex_blob, request.parameters, lists, &est, error))
        return false;
    }
    dicts = {est.foreign_dic, est.name_dic, est.org_dic, est.fund_dic, est.place};
    if (!Write_Lexicon_Text(staging.Add(tesq::Join_Path(out_dir, "segmenter.txt")), seg, error)) return false;
  }
  Build_Report built;
  built.trained = estimate;
  built.segmenter_words = seg_src->entries.size();
  built.dropped = seg_src->dropped;
  built.fragments = estimate ? src.entries.size() - seg.entries.size() : 0;
  built.total_frequency = seg_src->total;

  progress(3);
  for (size_t k = 0; k < 5; ++k) {
    const Dict_Output &output = kDicts[k];
    const std::string text_path = tesq::Join_Path(estimate ? out_dir : sources_dir, std::string(output.name) + ".txt");
    if (estimate) {
      for (const auto &e : dicts[k])
        if (!Info_String_Ok(e.second, output.max_info)) {
          *error = std::string(output.name) + ": trained information string does not fit: " + e.second;
          return false;
        }
      if (!Write_Dict_Text(staging.Add(text_path), output.title, dicts[k], error)) return false;
    } else if (!Read_Dict_Text(text_path, output.max_info, &dicts[k], error)) {
      return false;
    }
  }
  progress(4);
  // Every source is read and compiled before any compiled file is replaced.
  std::vector<vornel::Blob> blobs(5);
  for (size_t k = 0; k < 5; ++k)
    if (!vornel::Compile_Dictionary(dicts[k], &blobs[k], error)) {
      *error = kDicts[k].name + std::string(": ") + *error;
      return false;
    }
  progress(5);
  if (!Write_Blob(lex_blob, staging.Add(tesq::Join_Path(out_dir, "segmenter.vlex")), error)) return false;
  for (size_t k = 0; k < 5; ++k) {
    if (!Write_Blob(blobs[k], staging.Add(tesq::Join_Path(out_dir, std::string(kDicts[k].name) + ".vdic")), error))
      return false;
  }
  if (!staging.Commit(error)) return false;
  for (size_t k = 0; k < 5; ++k) built.dictionaries.emplace_back(kDicts[k].name, dicts[k].size());
  *report = std::move(built);
  return true;
}

}  // namespace tesq_tools
