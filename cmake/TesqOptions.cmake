# Warning and sanitizer settings shared by every target of the project.
function(tesq_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(TESQ_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Registers the GoogleTest cases of a test program with ctest: one ctest test
# per case natively; one test for the whole program when cross-compiled, where
# every start of a program goes through the emulator.
function(tesq_add_gtests target)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES TIMEOUT 300)
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

if(TESQ_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Coverage-guided fuzzing (clang only): every library is instrumented for
# libFuzzer; the fuzz targets under tests/fuzz link the libFuzzer driver.
# Used together with TESQ_SANITIZE in a build directory of its own.
option(TESQ_FUZZ "Instrument the libraries for libFuzzer and build the fuzz targets (clang)" OFF)
if(TESQ_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# ThreadSanitizer, in a build directory of its own (not with TESQ_SANITIZE).
option(TESQ_SANITIZE_THREAD "Build with ThreadSanitizer" OFF)
if(TESQ_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
