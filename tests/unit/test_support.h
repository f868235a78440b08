// Shared fixture of the unit tests: fresh fake services for every test, and a
// scratch current directory so that "as.txt" is written where the test can
// read it and nowhere else.
#ifndef TESQ_TESTS_UNIT_TEST_SUPPORT_H
#define TESQ_TESTS_UNIT_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_services.h"
#include "gb_text.h"

// GB2312 bytes of a UTF-8 literal, so tests can be written in plain Chinese.
using tesq_test::Gb;

// Reads a whole file ("" when it does not exist).
std::string Read_File(const std::string &path);

// The lines of "as.txt" in the scratch directory.
std::vector<std::string> Trace_Lines();

class Unit_Test : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Marks the five dictionaries loaded and runs Tesquin_Init.
  void Init_Library();

 private:
  std::string previous_dir_;
  std::string scratch_dir_;
};

#endif
