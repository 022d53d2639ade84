# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (the posix-threads
# flavour, whose libstdc++ has std::thread and std::mutex), linking every
# program fully static: the .exe files need no libstdc++, libgcc, winpthread
# or zlib DLL beside them, only the system's own DLLs.
#
#   cmake -S . -B build-windows/... \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Libraries come only from the mingw-w64 sysroot and the prefix that
# scripts/build-windows-deps.sh fills (MORVA_WINDOWS_DEPS, by default
# build-windows/deps in the source tree); never from the build machine.
# Programs built here run through cmake/wine-run.sh (tests, gtest discovery).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MORVA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MORVA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MORVA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MORVA_MINGW_TRIPLE}-windres)
# The -posix suffix hides the binutils prefix from CMake's own guess.
set(CMAKE_AR ${MORVA_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${MORVA_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

if(NOT MORVA_WINDOWS_DEPS)
  if(DEFINED ENV{MORVA_WINDOWS_DEPS})
    set(MORVA_WINDOWS_DEPS "$ENV{MORVA_WINDOWS_DEPS}")
  else()
    get_filename_component(MORVA_WINDOWS_DEPS
      "${CMAKE_CURRENT_LIST_DIR}/../build-windows/deps" ABSOLUTE)
  endif()
endif()
# try_compile() projects read this file again: hand them the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MORVA_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${MORVA_MINGW_TRIPLE} ${MORVA_WINDOWS_DEPS})
set(CMAKE_PREFIX_PATH ${MORVA_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static archives only, so that no import library of a DLL is ever picked.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# pkg-config sees the prefix's .pc files and none of the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${MORVA_WINDOWS_DEPS}/lib/pkgconfig:${MORVA_WINDOWS_DEPS}/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

get_filename_component(MORVA_WINE_ROOT "${MORVA_WINDOWS_DEPS}/../wine" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR
  "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;--root;${MORVA_WINE_ROOT}")
