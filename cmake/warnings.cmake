# The warnings the project's own targets build with (the core, the module and
# the tests), as errors when MIRELON_WERROR is on (the presets and the test
# steps turn it on; users' builds keep warnings as warnings).
function(mirelon_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(MIRELON_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
