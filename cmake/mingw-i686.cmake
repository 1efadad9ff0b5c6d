# 32-bit Windows (i686) with Debian's mingw-w64 cross compiler.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(JTZ_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Test programs built here run under Wine.
find_program(JTZ_WINE wine)
if(JTZ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${JTZ_WINE})
endif()
