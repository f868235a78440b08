# Warning and sanitizer settings shared by every target of the project.
function(tesq_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(TESQ_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  tesq_target_sanitizers(${target})
endfunction()

# The instrumentation the build asks for (TESQ_SANITIZE, TESQ_FUZZ,
# TESQ_SANITIZE_THREAD), on the project's own targets only: a project that
# builds this one inside itself keeps its own flags. The link flags travel
# to whatever links the target inside the build, so that a program of the
# host linking a sanitized library still gets the sanitizer's runtime, but
# not into the installed package.
function(tesq_target_sanitizers target)
  set(compile_flags)
  set(link_flags)
  if(TESQ_SANITIZE)
    list(APPEND compile_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    list(APPEND link_flags -fsanitize=address,undefined)
  endif()
  if(TESQ_FUZZ)
    list(APPEND compile_flags -fsanitize=fuzzer-no-link)
  endif()
  if(TESQ_SANITIZE_THREAD)
    list(APPEND compile_flags -fsanitize=thread -fno-omit-frame-pointer)
    list(APPEND link_flags -fsanitize=thread)
  endif()
  if(compile_flags)
    target_compile_options(${target} PRIVATE ${compile_flags})
  endif()
  if(link_flags)
    target_link_options(${target} PUBLIC "$<BUILD_INTERFACE:${link_flags}>")
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

# Coverage-guided fuzzing (clang only): every library is instrumented for
# libFuzzer; the fuzz targets under tests/fuzz link the libFuzzer driver.
# Used together with TESQ_SANITIZE in a build directory of its own.
option(TESQ_FUZZ "Instrument the libraries for libFuzzer and build the fuzz targets (clang)" OFF)

# ThreadSanitizer, in a build directory of its own (not with TESQ_SANITIZE).
option(TESQ_SANITIZE_THREAD "Build with ThreadSanitizer" OFF)
