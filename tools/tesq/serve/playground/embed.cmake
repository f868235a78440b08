# Turns a file into a C++ function returning its bytes, at build time:
#   cmake -DIN=FILE -DOUT=FILE.cc -DFUNCTION=Name -DHEADER=name.h -P embed.cmake
# The bytes are written as numbers, so no byte of the file can end or
# escape a literal.
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" hex_length)
set(body "")
set(at 0)
while(at LESS hex_length)
  string(SUBSTRING "${hex}" ${at} 64 line)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," line "${line}")
  string(APPEND body "    ${line}\n")
  math(EXPR at "${at} + 64")
endwhile()
get_filename_component(source_name "${IN}" NAME)
set(text "// Made from ${source_name} by embed.cmake at build time; edit the source file.
#include \"${HEADER}\"

namespace serve {
namespace {
// One byte more than the file, so that an empty file is a valid array too.
const unsigned char kBytes[] = {
${body}    0x00};
}  // namespace

std::string_view ${FUNCTION}() { return {reinterpret_cast<const char *>(kBytes), sizeof kBytes - 1}; }

}  // namespace serve
")
file(WRITE "${OUT}" "${text}")
