# SPDX-License-Identifier: Apache-2.0
# Delay-load import libraries for the mingw-w64 build.
#
#   include(cmake/EmbDelayLoad.cmake)
#   emb_delay_load_library(winhttp)   # then link emb_delay_winhttp instead of winhttp
#
# The launcher runs elevated from a folder the player can write. The loader
# resolves a program's ordinary imports before its first instruction, looking
# in the program's own folder first for every DLL that is not a Known DLL
# (winhttp, d2d1, dwrite, mfplat, bcrypt, ...), so a DLL planted there would
# run elevated. A delay-loaded import is resolved at its first call through
# LoadLibrary, after start-up has limited the search to System32.
#
# The library is made at configure time from the toolchain's own import
# library: its "__imp_" symbols give the export list that dlltool turns into
# a delay-load library. Functions only: a delay-loaded DLL's data cannot be
# imported, and none of these DLLs' data is.

find_program(EMB_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)

function(emb_delay_load_library name)
  set(target emb_delay_${name})
  if(TARGET ${target})
    return()
  endif()
  find_library(EMB_IMPORT_LIBRARY_${name} NAMES lib${name}.a REQUIRED)
  execute_process(COMMAND ${CMAKE_NM} ${EMB_IMPORT_LIBRARY_${name}}
                  OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot list ${EMB_IMPORT_LIBRARY_${name}}")
  endif()
  string(REGEX MATCHALL "__imp_[A-Za-z0-9_@]+" imports "${symbols}")
  list(TRANSFORM imports REPLACE "^__imp_" "")
  list(REMOVE_DUPLICATES imports)
  list(JOIN imports "\n" exports)
  set(folder ${CMAKE_BINARY_DIR}/delayload)
  file(WRITE ${folder}/${name}.def "LIBRARY ${name}.dll\nEXPORTS\n${exports}\n")
  set(library ${folder}/lib${name}_delay.a)
  execute_process(COMMAND ${EMB_DLLTOOL} --input-def ${folder}/${name}.def
                          --output-delaylib ${library}
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "dlltool could not make ${library}")
  endif()
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${library})
endfunction()
