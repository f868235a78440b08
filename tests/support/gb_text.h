// GB2312 text for the tests, written as UTF-8 literals in the test sources.
#ifndef TESQ_TESTS_SUPPORT_GB_TEXT_H
#define TESQ_TESTS_SUPPORT_GB_TEXT_H

#include <string>
#include <string_view>

namespace tesq_test {

// The GB2312 bytes of `utf8`. Text without a GB2312 form is a mistake in the
// test itself: the program stops with a message naming the character.
std::string Gb(std::string_view utf8);

}  // namespace tesq_test

#endif
