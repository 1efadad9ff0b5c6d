# What both Windows toolchain files share, for the compiler prefix in
# JTZ_MINGW_PREFIX: the posix flavour of Debian's mingw-w64 GCC (its C++
# library has std::mutex and std::thread over winpthreads, which the runtime
# library uses; the win32 flavour of GCC 12 has neither), everything linked
# statically (libgcc, libstdc++, winpthreads), so the DLLs need only system
# DLLs and each other.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${JTZ_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${JTZ_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${JTZ_MINGW_PREFIX}-windres)
set(CMAKE_AR ${JTZ_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${JTZ_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)

# Headers and libraries from the mingw sysroot; programs (javac, the host
# compiler for the build's generators, wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${JTZ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
