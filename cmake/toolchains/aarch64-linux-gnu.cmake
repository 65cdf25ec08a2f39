# Cross-compiles for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu.
# The arm64 libraries and headers the project needs (libcrypto, libtbb,
# tl-expected, Python's headers) come from a folder holding Debian's arm64
# packages unpacked, named by MIRELON_AARCH64_SYSROOT in the environment
# (scripts/build-aarch64.sh fills and names it). C and C++'s own libraries are
# the cross compiler's.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# Read from the environment: CMake reads this file again for every test
# compile, where cache variables of the main configure are not set.
set(mirelon_aarch64_sysroot "$ENV{MIRELON_AARCH64_SYSROOT}")
if(NOT IS_DIRECTORY "${mirelon_aarch64_sysroot}/usr/include")
  message(FATAL_ERROR "MIRELON_AARCH64_SYSROOT must name a folder of unpacked arm64 packages "
                      "(scripts/build-aarch64.sh makes one); it is '${mirelon_aarch64_sysroot}'")
endif()

# Packages, libraries and headers are looked up only there; programs (the
# build machine's Python among them) only on the build machine.
set(CMAKE_FIND_ROOT_PATH "${mirelon_aarch64_sysroot}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian keeps each architecture's own headers (OpenSSL's configuration,
# Python's pyconfig.h) in an include/<triplet>/ folder that the shared headers
# reach through; the cross compiler's last resort would otherwise be the build
# machine's /usr/include.
foreach(lang C CXX)
  set(CMAKE_${lang}_STANDARD_INCLUDE_DIRECTORIES
      "${mirelon_aarch64_sysroot}/usr/include/aarch64-linux-gnu"
      "${mirelon_aarch64_sysroot}/usr/include")
endforeach()
# Libraries that the linked ones need in turn are found there too.
string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT
       " -Wl,-rpath-link,${mirelon_aarch64_sysroot}/usr/lib/aarch64-linux-gnu")
string(APPEND CMAKE_MODULE_LINKER_FLAGS_INIT
       " -Wl,-rpath-link,${mirelon_aarch64_sysroot}/usr/lib/aarch64-linux-gnu")
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT
       " -Wl,-rpath-link,${mirelon_aarch64_sysroot}/usr/lib/aarch64-linux-gnu")
