#include "test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "gb2312.h"
#include "tesqsrch/tesqsrch.h"

std::string Read_File(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> Trace_Lines() {
  std::vector<std::string> lines;
  std::istringstream in(Read_File("as.txt"));
  std::string line;
  while (std::getline(in, line)) {
#if defined(_WIN32)
    // A Windows text file: every line ends in CR LF.
    if (line.empty() || line.back() != '\r') {
      ADD_FAILURE() << "as.txt line " << lines.size() + 1 << " does not end in CR LF";
    } else {
      line.pop_back();
    }
#endif
    lines.push_back(line);
  }
  return lines;
}

void Unit_Test::SetUp() {
  fake::Reset();
  namespace fs = std::filesystem;
  std::error_code error;
  previous_dir_ = fs::current_path(error).string();
  ASSERT_FALSE(error) << error.message();
  // A new directory of a random name in the temporary directory.
  static std::mt19937_64 random{std::random_device{}()};
  const fs::path base = fs::temp_directory_path(error);
  ASSERT_FALSE(error) << error.message();
  for (int attempt = 0; attempt < 100 && scratch_dir_.empty(); ++attempt) {
    const fs::path dir = base / ("tesq-unit-" + std::to_string(random()));
    if (fs::create_directory(dir, error)) scratch_dir_ = dir.string();
  }
  ASSERT_FALSE(scratch_dir_.empty()) << "cannot make a scratch directory in " << base.string();
  fs::current_path(scratch_dir_, error);
  ASSERT_FALSE(error) << error.message();
}

void Unit_Test::TearDown() {
  Tesquin_UnInit();
  std::remove("as.txt");
  std::error_code error;
  std::filesystem::current_path(previous_dir_, error);
  if (error) ADD_FAILURE() << "cannot return to " << previous_dir_;
  std::filesystem::remove(scratch_dir_, error);
}

void Unit_Test::Init_Library() {
  ASSERT_EQ(Tesquin_Init(0), 0);
  fake::Vornel().calls.clear();
}
