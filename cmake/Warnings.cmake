# Warnings are errors on every tool chain.
function(fwu_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /permissive-)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wold-style-cast
                                             -Wnon-virtual-dtor -Werror)
  endif()
endfunction()
