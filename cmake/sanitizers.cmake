# The sanitizer flags, written once for every build that uses them (the
# sanitizer build of the tests and the module, and the fuzzers).
#
#   mirelon_sanitizer_flags(<compile_var> <link_var>
#                           [COMPILE_EXTRA <sanitizer>] [LINK_EXTRA <sanitizer>])
#
# sets <compile_var> to the compile options and <link_var> to the link options
# for AddressSanitizer and UndefinedBehaviorSanitizer (undefined behaviour is
# fatal), with an extra sanitizer such as `fuzzer` or `fuzzer-no-link` in front.
set(MIRELON_SANITIZERS address,undefined)

function(mirelon_sanitizer_flags compile_var link_var)
  cmake_parse_arguments(arg "" "COMPILE_EXTRA;LINK_EXTRA" "" ${ARGN})
  set(compile_list ${MIRELON_SANITIZERS})
  set(link_list ${MIRELON_SANITIZERS})
  if(arg_COMPILE_EXTRA)
    set(compile_list ${arg_COMPILE_EXTRA},${compile_list})
  endif()
  if(arg_LINK_EXTRA)
    set(link_list ${arg_LINK_EXTRA},${link_list})
  endif()
  set(${compile_var} -fsanitize=${compile_list} -fno-omit-frame-pointer
      -fno-sanitize-recover=undefined PARENT_SCOPE)
  set(${link_var} -fsanitize=${link_list} PARENT_SCOPE)
endfunction()
