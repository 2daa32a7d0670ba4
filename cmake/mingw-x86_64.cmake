# Cross toolchain for 64-bit x86 Windows: Debian's mingw-w64 x86-64 compilers
# (packages g++-mingw-w64-x86-64 and gcc-mingw-w64-x86-64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(ZRV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZRV_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${ZRV_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${ZRV_MINGW_PREFIX}-windres)

# The target's headers and libraries only; programs come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZRV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
