# Cross toolchain for 32-bit x86 Windows: Debian's mingw-w64 i686 compilers
# (packages g++-mingw-w64-i686 and gcc-mingw-w64-i686).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZRV_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
