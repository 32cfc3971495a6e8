# SPDX-License-Identifier: Apache-2.0
# emb_set_warnings(<target>): the warning set every target of ours builds with.
function(emb_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                         -Wno-missing-field-initializers)
  if(EMB_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
    # GCC 12 at -O3 reports overlapping or out-of-bounds copies inside
    # libstdc++'s own string and vector code, on ordinary concatenations: shown,
    # but they do not stop a Release build.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      set(relaxed -Wno-error=restrict -Wno-error=stringop-overflow -Wno-error=stringop-overread
                  -Wno-error=array-bounds)
      target_compile_options(${target} PRIVATE "$<$<CONFIG:Release,MinSizeRel>:${relaxed}>")
    endif()
  endif()
endfunction()
