# Writes the import libraries of the 32-bit kestrix.dll (cmake -P, after the
# DLL is linked). The DLL exports undecorated names (kestrix.def), while a
# caller compiled from kestrix.h refers to each export by its stdcall name,
# _name@N with N the bytes of its arguments: the import libraries map each
# decorated name to its undecorated export. N is read from the exports' own
# symbols in the objects, so the libraries follow the header.
#
#   NM, OBJECTS (;-list)  the compiler's nm and the library's objects
#   DEF                   kestrix.def
#   DIR                   where to write kestrix-stdcall.def and the libraries
#   DLLTOOL               MinGW's dlltool: libkestrix.dll.a, for MinGW linkers
#   LLVM_DLLTOOL          llvm-dlltool, or empty: kestrix.lib, for MSVC-style linkers
execute_process(COMMAND ${NM} -g --defined-only ${OBJECTS} OUTPUT_VARIABLE symbols
  COMMAND_ERROR_IS_FATAL ANY)
file(STRINGS ${DEF} lines)
set(def "LIBRARY kestrix.dll\nEXPORTS\n")
set(exporting OFF)
foreach(line IN LISTS lines)
  string(STRIP "${line}" name)
  if(name STREQUAL "EXPORTS")
    set(exporting ON)
  elseif(exporting AND NOT name STREQUAL "")
    if(NOT symbols MATCHES "[ \t]T _${name}@([0-9]+)\n")
      message(FATAL_ERROR "${name} (${DEF}) is not a stdcall function of the objects")
    endif()
    string(APPEND def "    ${name}@${CMAKE_MATCH_1}\n")
  endif()
endforeach()
file(WRITE ${DIR}/kestrix-stdcall.def "${def}")

# -k: the name each import asks the DLL for is the decorated one, undecorated.
execute_process(COMMAND ${DLLTOOL} -k -d ${DIR}/kestrix-stdcall.def -l ${DIR}/libkestrix.dll.a
  COMMAND_ERROR_IS_FATAL ANY)
if(LLVM_DLLTOOL)
  execute_process(
    COMMAND ${LLVM_DLLTOOL} -m i386 -k -d ${DIR}/kestrix-stdcall.def -l ${DIR}/kestrix.lib
    COMMAND_ERROR_IS_FATAL ANY)
endif()
