// A progress bar on standard error for long work (dictionary builds, large
// imports, large essays).
//
// It draws only when standard error is a terminal, so pipes and log files
// never receive it, and redraws only when the whole percentage changes (at
// most 101 times). The line is rewritten in place with a carriage return
// and cleared when the work ends, so later messages start on a clean line.
#ifndef TESQ_TOOLS_PROGRESS_H
#define TESQ_TOOLS_PROGRESS_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace cli {

class Progress {
 public:
  // `label` leads the line ("tesq essay"); `total` is the amount of work in
  // the unit the caller counts (bytes, lines). `enabled` is normally
  // Stderr_Is_Terminal(); false makes every call do nothing.
  Progress(std::string label, uint64_t total, bool enabled, FILE *out = stderr);
  ~Progress();
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  // Records that `done` units (cumulative, at most total) are finished.
  void Update(uint64_t done);
  // Clears the line; further updates draw nothing.
  void Finish();

  // The bar's text for a state, without the carriage return:
  // "LABEL [#####.....]  42%". Exposed for tests.
  static std::string Render(const std::string &label, uint64_t done, uint64_t total, int width);

 private:
  std::string label_;
  uint64_t total_;
  bool enabled_;
  FILE *out_;
  int last_percent_ = -1;
  size_t drawn_ = 0;  // length of the line on screen
};

// True when standard error is a terminal.
bool Stderr_Is_Terminal();

}  // namespace cli

#endif
