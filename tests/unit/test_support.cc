#include "test_support.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "gb2312.h"
#include "tesqsrch/tesqsrch.h"

std::string G(const std::string &utf8) {
  std::string out;
  std::string error;
  if (!gb::Utf8_To_Gb(utf8, &out, &error)) ADD_FAILURE() << "test text not GB2312: " << error;
  return out;
}

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
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

void Unit_Test::SetUp() {
  fake::Reset();
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  previous_dir_ = cwd;
  char pattern[] = "/tmp/tesq-unit-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  scratch_dir_ = pattern;
  ASSERT_EQ(chdir(scratch_dir_.c_str()), 0);
}

void Unit_Test::TearDown() {
  Tesquin_UnInit();
  std::remove("as.txt");
  if (chdir(previous_dir_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << previous_dir_;
  rmdir(scratch_dir_.c_str());
}

void Unit_Test::Init_Library() {
  ASSERT_EQ(Tesquin_Init(0), 0);
  fake::Vornel().calls.clear();
}
