# Cross-build for 64-bit Windows with Debian's mingw-w64 (package
# g++-mingw-w64-x86-64). The posix thread model, so that the standard
# library's threads and mutexes are there; its thread library (winpthread) is
# linked statically with libstdc++ and libgcc (see the top-level CMakeLists).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(DAXO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${DAXO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DAXO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${DAXO_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${DAXO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
