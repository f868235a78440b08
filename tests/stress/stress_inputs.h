// Inputs shared by the stress and limit programs: real queries, words and
// essay sentences (GB2312), and a scratch working directory for "as.txt".
#ifndef TESQ_TESTS_STRESS_STRESS_INPUTS_H
#define TESQ_TESTS_STRESS_STRESS_INPUTS_H

#include <string>
#include <vector>

#include "gb_text.h"

namespace stress {

// GB2312 text of a UTF-8 literal; aborts on text GB2312 cannot hold.
using tesq_test::Gb;

std::vector<std::string> Queries();   // space-separated queries
std::vector<std::string> Words();     // single words of every category
std::vector<std::string> Essays();    // sentences of a few dozen characters

// Starts the library (aborting with a message when the data is missing) and
// moves into a fresh temporary directory; returns its path.
std::string Start(const char *program);

// The whole content of a file.
std::string Read_File(const std::string &path);

}  // namespace stress

#endif
