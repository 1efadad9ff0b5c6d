# 64-bit Windows (x86-64) with Debian's mingw-w64 cross compiler, for 64-bit JVMs.
#
# The same as mingw-i686.cmake (the posix flavour, for std::mutex and std::thread; everything
# linked statically) but for x86-64. Its programs run under 64-bit Wine, which needs no 32-bit
# execution: /usr/lib/wine/wine64, since /usr/bin/wine starts the 32-bit loader whenever
# 32-bit Wine is installed as well.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(JTZ_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${JTZ_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${JTZ_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${JTZ_MINGW_PREFIX}-windres)
set(CMAKE_AR ${JTZ_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${JTZ_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)

set(CMAKE_FIND_ROOT_PATH /usr/${JTZ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built here run under 64-bit Wine.
find_program(JTZ_WINE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(JTZ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${JTZ_WINE})
endif()
