# Cross toolchain for 64-bit x86 Windows: Debian's mingw-w64 x86_64 compilers
# (packages g++-mingw-w64-x86-64 and gcc-mingw-w64-x86-64).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZRV_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
