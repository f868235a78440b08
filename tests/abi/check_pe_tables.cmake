# Reads the export and import tables of a Windows DLL (objdump -p) and fails
# unless it exports exactly the expected names, each undecorated (no "@N"
# suffix, no leading underscore), and imports nothing but system DLLs and the
# project's own DLLs: no C++ runtime, libgcc or winpthreads DLL.
# With -DNM=..., also fails on a DLL with thread-exit destructors.
# Run with -DOBJDUMP=... [-DNM=...] -DLIBRARY=... -DEXPECTED="a;b;c".
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump -p failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")

set(exports "")
set(imports "")
set(in_names OFF)
foreach(line IN LISTS lines)
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_names ON)
  elseif(in_names AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
    list(APPEND exports "${CMAKE_MATCH_1}")
  elseif(in_names AND line STREQUAL "")
    set(in_names OFF)
  endif()
  if(line MATCHES "^[ \t]*DLL Name: (.+)$")
    list(APPEND imports "${CMAKE_MATCH_1}")
  endif()
endforeach()

set(problems "")
list(SORT exports)
set(expected ${EXPECTED})
list(SORT expected)
if(NOT exports STREQUAL expected)
  string(APPEND problems "\n  exports found:    ${exports}\n  exports expected: ${expected}")
endif()
foreach(name IN LISTS exports)
  if(name MATCHES "@[0-9]+$" OR name MATCHES "^_")
    string(APPEND problems "\n  decorated export: ${name}")
  endif()
endforeach()
# Allowed: Windows system DLLs (the C runtime msvcrt/ucrt included) and the
# project's own DLLs.
foreach(dll IN LISTS imports)
  string(TOLOWER "${dll}" lower)
  if(lower MATCHES "^(libstdc\\+\\+|libgcc_s|libwinpthread)")
    string(APPEND problems "\n  imports the runtime DLL ${dll}; link it statically")
  elseif(NOT lower MATCHES "^(kernel32|user32|advapi32|msvcrt|ucrtbase|api-ms-win-.*|ntdll|ws2_32|shell32|ole32)\\.dll$"
         AND NOT lower MATCHES "^(tesqsrch|vornel|karvel)\\.dll$")
    string(APPEND problems "\n  imports ${dll}, neither a system DLL nor one of the project's")
  endif()
endforeach()

# No thread-exit destructors (a thread_local object with a destructor): in a
# MinGW DLL they run after emutls has freed the objects' storage, corrupting
# the heap at a thread's end. A DLL that has one links __cxa_thread_atexit.
# Read from the symbol table when NM is given (the DLLs are not stripped).
if(NM)
  execute_process(COMMAND ${NM} ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc ERROR_QUIET)
  if(NOT rc EQUAL 0 OR NOT symbols MATCHES "Dict_|Karvel_|Tesquin_")
    message(FATAL_ERROR "cannot read the symbol table of ${LIBRARY} with ${NM}")
  endif()
  if(symbols MATCHES "__cxa_thread_atexit")
    string(APPEND problems "\n  has thread-exit destructors (links __cxa_thread_atexit): no thread_local object "
                           "with a destructor may be in a DLL")
  endif()
endif()

get_filename_component(name "${LIBRARY}" NAME)
if(problems)
  message(FATAL_ERROR "${name}:${problems}")
endif()
message(STATUS "${name} exports: ${exports}")
message(STATUS "${name} imports: ${imports}")
