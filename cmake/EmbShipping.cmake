# SPDX-License-Identifier: Apache-2.0
# Programs we hand to players and operators ship without their debug
# information, which is kept beside them as NAME.debug (linked by
# .gnu_debuglink) so that a crash address can still be resolved.
function(emb_split_debug_info target)
  if(NOT CMAKE_OBJCOPY OR NOT CMAKE_STRIP)
    return()
  endif()
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
    COMMAND ${CMAKE_STRIP} --strip-all ${file}
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=${file}.debug ${file}
    VERBATIM)
endfunction()
