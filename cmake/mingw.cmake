# The mingw-w64 cross toolchain of ZRV_MINGW_PREFIX (set by the toolchain
# file of each architecture, which includes this).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ZRV_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${ZRV_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${ZRV_MINGW_PREFIX}-windres)

# The target's headers and libraries only; programs come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZRV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
