# The three libraries the core builds against. A missing one stops the
# configure step with the Debian package that provides it and what it is for,
# instead of CMake's bare "Could NOT find ...".

function(mirelon_missing_dependency what package purpose hint)
  message(FATAL_ERROR
    "${what} was not found. It is needed for ${purpose}.\n"
    "On Debian or Ubuntu install it with:  apt-get install ${package}\n"
    "For a copy installed elsewhere, set ${hint}.")
endfunction()

find_package(OpenSSL 3.0 QUIET COMPONENTS Crypto)
if(NOT OpenSSL_FOUND OR NOT TARGET OpenSSL::Crypto)
  mirelon_missing_dependency("OpenSSL 3 (libcrypto, with its headers)" libssl-dev
    "SHA-256, key derivation and the packet cipher"
    "OPENSSL_ROOT_DIR to its prefix")
endif()

find_package(TBB QUIET)
if(NOT TBB_FOUND)
  mirelon_missing_dependency("oneTBB (libtbb, with its headers and CMake config)" libtbb-dev
    "the worker pool that spreads mapping and hashing over the processors"
    "TBB_DIR to the folder holding TBBConfig.cmake")
endif()

find_package(tl-expected QUIET)
if(NOT tl-expected_FOUND)
  mirelon_missing_dependency("tl-expected (header-only, with its CMake config)" libexpected-dev
    "the error values every fallible function of the core returns"
    "tl-expected_DIR to the folder holding tl-expected-config.cmake")
endif()
