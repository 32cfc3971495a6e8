# emb_set_warnings(<target>): the warning set every target of ours builds with.
function(emb_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                         -Wno-missing-field-initializers)
  if(EMB_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
