# The Windows build (MinGW-w64 cross-build, cmake/toolchain-mingw32.cmake):
# DLLs named tesqsrch.dll, vornel.dll and karvel.dll, exporting through .def
# files exactly their C functions under their plain names; SQLite compiled
# from an amalgamation; GoogleTest built from Debian's sources.
if(NOT WIN32)
  return()
endif()

option(TESQ_CDECL "Export the C functions with the cdecl convention instead of __stdcall" OFF)
if(TESQ_CDECL)
  add_compile_definitions(TESQ_CDECL)
endif()

# Programs and DLLs side by side, so the programs find the DLLs; the data in
# "data" beside them, where the DLLs look for it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/bin")
set(TESQ_BUILD_DATADIR "${PROJECT_BINARY_DIR}/bin/data")

# The .def files name the __stdcall functions as the compiler decorates them
# on 32-bit x86 ("Name@bytes of arguments"); the DLL is linked with
# --kill-at, which exports them under the plain name, and the import library
# is made from the same file by dlltool -k, so that programs linked against
# it reach the plain names. Without decoration (cdecl, or x86_64, where
# __stdcall does not exist) the suffixes are dropped.
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT TESQ_CDECL)
  set(TESQ_DEF_DECORATED ON)
else()
  set(TESQ_DEF_DECORATED OFF)
endif()

function(tesq_windows_dll target def_file)
  file(READ "${def_file}" def_text)
  if(NOT TESQ_DEF_DECORATED)
    string(REGEX REPLACE "@[0-9]+" "" def_text "${def_text}")
  endif()
  set(def_out "${CMAKE_CURRENT_BINARY_DIR}/${target}.def")
  file(CONFIGURE OUTPUT "${def_out}" CONTENT "${def_text}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${def_file}")
  target_sources(${target} PRIVATE "${def_out}")
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${target})
  target_link_options(${target} PRIVATE "-Wl,--kill-at" "-Wl,--no-undefined")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} -d "${def_out}" -D $<TARGET_FILE_NAME:${target}> -k -l $<TARGET_LINKER_FILE:${target}>
    COMMENT "Import library of ${target} by its plain export names"
    VERBATIM)
endfunction()

# SQLite, compiled from the amalgamation (sqlite3.c, sqlite3.h) in
# TESQ_SQLITE_AMALGAMATION_DIR (scripts/windows.sh makes one from Debian's
# source package), as the target SQLite::SQLite3.
set(TESQ_SQLITE_AMALGAMATION_DIR "" CACHE PATH "Directory holding sqlite3.c and sqlite3.h")
if(NOT EXISTS "${TESQ_SQLITE_AMALGAMATION_DIR}/sqlite3.c")
  message(FATAL_ERROR "The Windows build compiles SQLite in: set TESQ_SQLITE_AMALGAMATION_DIR to a directory "
                      "with sqlite3.c and sqlite3.h (scripts/windows.sh makes them)")
endif()
add_library(tesq_sqlite3 STATIC "${TESQ_SQLITE_AMALGAMATION_DIR}/sqlite3.c")
target_include_directories(tesq_sqlite3 SYSTEM PUBLIC "${TESQ_SQLITE_AMALGAMATION_DIR}")
target_compile_definitions(tesq_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DQS=0
                           SQLITE_DEFAULT_MEMSTATUS=0 SQLITE_OMIT_DEPRECATED)
target_compile_options(tesq_sqlite3 PRIVATE -w -g0)  # third-party code, built once
add_library(SQLite::SQLite3 ALIAS tesq_sqlite3)

# GoogleTest from the sources Debian's googletest package installs.
if(TESQ_BUILD_TESTS)
  set(TESQ_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources for the Windows build")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)  # the tests use GoogleTest only
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory("${TESQ_GOOGLETEST_SOURCE_DIR}" "${PROJECT_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  foreach(lib gtest gtest_main)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
endif()
