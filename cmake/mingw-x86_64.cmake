# 64-bit Windows (x86-64) with Debian's mingw-w64 cross compiler, for 64-bit JVMs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(JTZ_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Test programs built here run under 64-bit Wine, which needs no 32-bit
# execution: /usr/lib/wine/wine64, since /usr/bin/wine starts the 32-bit
# loader whenever 32-bit Wine is installed as well.
find_program(JTZ_WINE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(JTZ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${JTZ_WINE})
endif()
