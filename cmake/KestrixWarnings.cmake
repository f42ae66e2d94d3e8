# kestrix_warnings(target): the project's warning set, errors when KESTRIX_WERROR.
function(kestrix_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${KESTRIX_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wshadow -Wconversion
      $<$<BOOL:${KESTRIX_WERROR}>:-Werror>)
  endif()
endfunction()
