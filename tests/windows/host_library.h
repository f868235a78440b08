/* What the Windows host test programs share: the five functions' pointer
 * types, tesqsrch.dll loaded at run time with its functions found by their
 * plain names, and a fresh scratch directory for the trace file "as.txt". */
#ifndef TESQ_TESTS_WINDOWS_HOST_LIBRARY_H
#define TESQ_TESTS_WINDOWS_HOST_LIBRARY_H

#include <windows.h>

#include <stdio.h>

#include "tesqsrch/tesqsrch.h"

typedef int32_t(TESQ_CALL *Init_Fn)(int32_t);
typedef int32_t(TESQ_CALL *UnInit_Fn)(void);
typedef int32_t(TESQ_CALL *Search_Fn)(const char *, char *, uint32_t *);
typedef int32_t(TESQ_CALL *Singleword_Fn)(const char *, char *, uint32_t *);
typedef int32_t(TESQ_CALL *Essay_Fn)(const char *, int32_t *, int32_t, int32_t, int32_t, int16_t *);

struct Host_Library {
  HMODULE module;
  Init_Fn init;
  UnInit_Fn uninit;
  Search_Fn search;
  Singleword_Fn single;
  Essay_Fn essay;
};

/* Loads tesqsrch.dll (it finds vornel.dll and karvel.dll beside it) and
 * looks up the five functions by their plain names; a function that is
 * missing stays NULL. Returns 0, with the reason on standard error, when the
 * library cannot be loaded. */
static int Host_Library_Load(struct Host_Library *library) {
  library->module = LoadLibraryA("tesqsrch.dll");
  if (library->module == NULL) {
    fprintf(stderr, "LoadLibrary(tesqsrch.dll) failed: error %lu\n", (unsigned long)GetLastError());
    return 0;
  }
  library->init = (Init_Fn)(void (*)(void))GetProcAddress(library->module, "Tesquin_Init");
  library->uninit = (UnInit_Fn)(void (*)(void))GetProcAddress(library->module, "Tesquin_UnInit");
  library->search = (Search_Fn)(void (*)(void))GetProcAddress(library->module, "Tesquin_Search");
  library->single = (Singleword_Fn)(void (*)(void))GetProcAddress(library->module, "Tesquin_Search_Singleword");
  library->essay = (Essay_Fn)(void (*)(void))GetProcAddress(library->module, "Tesquin_Search_Essay");
  return 1;
}

/* True when all five functions were found. */
static int Host_Library_Complete(const struct Host_Library *library) {
  return library->init != NULL && library->uninit != NULL && library->search != NULL && library->single != NULL &&
         library->essay != NULL;
}

/* A fresh scratch directory, named after `program`, as the current
 * directory. */
static int Enter_Scratch_Directory(const char *program, char *dir, size_t size) {
  char base[MAX_PATH];
  const DWORD n = GetTempPathA(sizeof base, base);
  if (n == 0 || n >= sizeof base) return 0;
  snprintf(dir, size, "%stesq-%s-%lu-%lu", base, program, (unsigned long)GetCurrentProcessId(),
           (unsigned long)GetTickCount());
  return CreateDirectoryA(dir, NULL) && SetCurrentDirectoryA(dir);
}

#endif
