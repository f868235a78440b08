#include "progress.h"

#include <algorithm>
#include <utility>

#include "platform.h"

namespace cli {

namespace {
constexpr int kBarWidth = 30;
}  // namespace

bool Stderr_Is_Terminal() { return tesq::Stderr_Is_Terminal(); }

Progress::Progress(std::string label, uint64_t total, bool enabled, FILE *out)
    : label_(std::move(label)), total_(total), enabled_(enabled), out_(out) {}

Progress::~Progress() { Finish(); }

std::string Progress::Render(const std::string &label, uint64_t done, uint64_t total, int width) {
  if (width < 1) width = 1;
  if (done > total) done = total;
  // Whole percent and filled cells, computed without overflow for any total.
  const double fraction = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  const int percent = static_cast<int>(fraction * 100.0);
  const int filled = static_cast<int>(fraction * width);
  std::string line = label + " [";
  line.append(static_cast<size_t>(filled), '#');
  line.append(static_cast<size_t>(width - filled), '.');
  line += "] ";
  const std::string number = std::to_string(percent);
  line.append(3 - std::min<size_t>(3, number.size()), ' ');
  line += number + "%";
  return line;
}

void Progress::Update(uint64_t done) {
  if (!enabled_) return;
  const int percent = total_ == 0 ? 100 : static_cast<int>(static_cast<double>(std::min(done, total_)) * 100.0 /
                                                           static_cast<double>(total_));
  if (percent == last_percent_ && drawn_ != 0) return;
  const std::string line = Render(label_, done, total_, kBarWidth);
  std::fprintf(out_, "\r%s", line.c_str());
  std::fflush(out_);
  drawn_ = line.size();
  last_percent_ = percent;
}

void Progress::Finish() {
  if (!enabled_) return;
  enabled_ = false;
  if (drawn_ == 0) return;
  std::fprintf(out_, "\r%s\r", std::string(drawn_, ' ').c_str());
  std::fflush(out_);
  drawn_ = 0;
}

}  // namespace cli
