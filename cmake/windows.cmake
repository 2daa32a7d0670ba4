# The Windows builds (presets windows-x86 and windows-x64, cross-compiled
# with mingw-w64 i686 and x86-64), the same images for either architecture:
#   zorvik.sys        the kernel driver for Windows XP and later (x86), and
#                     for Windows XP x64 / Server 2003 x64 and later (x64),
#                     signed with the build's test certificate (see Signing)
#   zorvik.dll        libzorvik for management software, with its import
#                     library (libzorvik.dll.a) and zorvik.def
#   zrvctl.exe        the client, sending its requests to "\\.\ZRVDev" and
#                     encoding and decoding them through zorvik.dll
#   wdt_keepalive.exe, dio_lines.exe  the examples (examples/), on zorvik.dll
#   zrvctl-testbed.exe  the client with the Wine testbed's board link; never shipped
#   testbed/hal.dll   the Wine testbed's stand-in HAL (see win/wine-run)
#   testbed/zrvsecprobe.sys  reads the control device's DACL back (Wine suite)
# Included from the top CMakeLists.txt, which defines ZRV_DRIVER_SOURCES,
# ZRV_WARNINGS and ZRV_FREESTANDING_FLAGS.

# The architecture, by pointer size, and what differs between the two:
#   ZRV_WINDOWS_ARCH    x86 or x64, the folder name of the installer layout
#   ZRV_PE_MACHINE      the images' machine for tools/check_sys.py
#   ZRV_WINDOWS_NT      the oldest kernel supported, as subsystem version:
#                       5.01 Windows XP (x86); 5.02 Windows XP x64 and
#                       Server 2003 x64, the first 64-bit kernel (x64)
#   ZRV_DRIVER_ENTRY    the entry's symbol (__stdcall decorated on x86)
#   ZRV_KERNEL_BASE     the preferred base of kernel images; relocations are
#                       kept either way, the loader puts a driver anywhere
#   ZRV_HAL_LIBRARY     the import library for the HAL's port routines
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(ZRV_WINDOWS_ARCH x86)
  set(ZRV_PE_MACHINE i386)
  set(ZRV_WINDOWS_NT 5.01)
  set(ZRV_DRIVER_ENTRY _DriverEntry@8)
  set(ZRV_KERNEL_BASE 0x10000)
  set(ZRV_HAL_LIBRARY hal)
elseif(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ZRV_WINDOWS_ARCH x64)
  set(ZRV_PE_MACHINE amd64)
  set(ZRV_WINDOWS_NT 5.02)
  set(ZRV_DRIVER_ENTRY DriverEntry)
  set(ZRV_KERNEL_BASE 0x140000000)
  # mingw-w64's x64 libhal.a lacks the port routines (its headers expand
  # them inline as in/out instructions); the driver calls the HAL's exports,
  # named in win/hal-x64.def.
  set(ZRV_HAL_LIBRARY ${CMAKE_CURRENT_BINARY_DIR}/libhal-ports.a)
  string(REPLACE windres dlltool ZRV_DLLTOOL ${CMAKE_RC_COMPILER})
  add_custom_command(OUTPUT ${ZRV_HAL_LIBRARY}
    COMMAND ${ZRV_DLLTOOL} --input-def ${CMAKE_SOURCE_DIR}/win/hal-x64.def --output-lib ${ZRV_HAL_LIBRARY}
    DEPENDS ${CMAKE_SOURCE_DIR}/win/hal-x64.def VERBATIM)
  add_custom_target(zrv_hal_library DEPENDS ${ZRV_HAL_LIBRARY})
else()
  message(FATAL_ERROR "the Windows build targets x86 or x64: use the windows-x86 or windows-x64 preset")
endif()
string(REPLACE "." ";" ZRV_WINDOWS_NT_PARTS ${ZRV_WINDOWS_NT})
list(GET ZRV_WINDOWS_NT_PARTS 0 ZRV_WINDOWS_NT_MAJOR)
list(GET ZRV_WINDOWS_NT_PARTS 1 ZRV_WINDOWS_NT_MINOR)
math(EXPR ZRV_WINDOWS_NT_MINOR "${ZRV_WINDOWS_NT_MINOR}")
# The version options of every image: subsystem SUBSYSTEM at the oldest
# supported version, and the same OS version.
function(zrv_windows_versions target subsystem)
  target_link_options(${target} PRIVATE -Wl,--subsystem,${subsystem}:${ZRV_WINDOWS_NT}
    -Wl,--major-os-version,${ZRV_WINDOWS_NT_MAJOR} -Wl,--minor-os-version,${ZRV_WINDOWS_NT_MINOR})
endfunction()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_path(ZRV_DDK_INCLUDE ntddk.h PATH_SUFFIXES ddk REQUIRED
  DOC "the toolchain's DDK headers (mingw-w64 include/ddk)")

# The toolchain's default Windows libraries are named per target below; the
# driver links against the kernel's import libraries only.
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")

# ---- Kernel images ------------------------------------------------------------
# Compiled and linked as a kernel driver for the oldest kernel supported:
# freestanding, entry DriverEntry, native subsystem ZRV_WINDOWS_NT,
# relocations kept, INIT sections (code
# and data used only while loading, ZRV_INIT) marked discardable and the
# image checksum set after the link (the linker does neither), a linker map
# for the binary check. No global constructor could ever run (no C runtime
# calls them); the binary check fails on any. `libs` are the import
# libraries.
set(ZRV_KERNEL_FLAGS -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-asynchronous-unwind-tables -fno-stack-protector -mno-stack-arg-probe
  -fno-strict-aliasing -fno-common)
if(ZRV_WINDOWS_ARCH STREQUAL x64)
  # Direct RIP-relative references to the image's own code and data, instead
  # of the medium model's pointer cells (.refptr) in resident .rdata, which
  # would hold addresses of INIT code after the kernel has freed it.
  list(APPEND ZRV_KERNEL_FLAGS -mcmodel=small)
endif()
function(zrv_kernel_image target libs)
  set_target_properties(${target} PROPERTIES SUFFIX .sys)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/driver ${CMAKE_SOURCE_DIR}/include
    ${CMAKE_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE ZRV_KERNEL)
  # (not for the version resource: windres takes none of them)
  target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:C,CXX>:${ZRV_WARNINGS};${ZRV_KERNEL_FLAGS};-O2>")
  target_link_options(${target} PRIVATE
    -nostdlib -s
    -Wl,--entry,${ZRV_DRIVER_ENTRY}
    -Wl,--image-base,${ZRV_KERNEL_BASE}
    -Wl,--enable-reloc-section
    -Wl,-Map,$<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.map)
  zrv_windows_versions(${target} native)
  target_link_libraries(${target} PRIVATE ${libs} gcc)
  if(TARGET zrv_hal_library)
    add_dependencies(${target} zrv_hal_library)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/pe_set_checksum.py $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

# ---- Version resources -----------------------------------------------------------
# Every image carries the project's version (project() in CMakeLists.txt) in
# a version resource, which Explorer, the driver's service tools and
# zrvctl --version read. TYPE and SUBTYPE are the resource's FILETYPE and
# FILESUBTYPE.
enable_language(RC)
function(zrv_version_resource target filename type subtype description)
  set(ZRV_RC_FILENAME ${filename})
  set(ZRV_RC_TYPE ${type})
  set(ZRV_RC_SUBTYPE ${subtype})
  set(ZRV_RC_DESCRIPTION ${description})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/version/${filename}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/win/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# ---- zorvik.sys ----------------------------------------------------------------
# The core and every back-end, found by the same glob as the Linux build, on
# the kernel platform layer.
file(GLOB ZRV_KERNEL_LAYER_SOURCES CONFIGURE_DEPENDS driver/platform/kernel/*.cpp)
add_executable(zorvik_sys ${ZRV_DRIVER_SOURCES} ${ZRV_KERNEL_LAYER_SOURCES})
set_target_properties(zorvik_sys PROPERTIES OUTPUT_NAME zorvik)
zrv_kernel_image(zorvik_sys "ntoskrnl;${ZRV_HAL_LIBRARY}")
zrv_version_resource(zorvik_sys zorvik.sys VFT_DRV VFT2_DRV_SYSTEM "Zorvik board-support driver")
include(${CMAKE_SOURCE_DIR}/cmake/signing.cmake)
zrv_sign_driver(zorvik_sys)
# The DDK headers only where the kernel's own types are used.
set_source_files_properties(${ZRV_KERNEL_LAYER_SOURCES} PROPERTIES
  COMPILE_OPTIONS "-isystem;${ZRV_DDK_INCLUDE}")
set(ZRV_SYS_MAP ${CMAKE_CURRENT_BINARY_DIR}/zorvik.map)
# Its System event log messages, one per reason code: the message file made
# from the rows of include/zorvik/reasons.h (tools/reasons.py) and compiled
# by windmc into the image's message table (win/zorvik_messages.rc).
string(REPLACE windres windmc ZRV_WINDMC ${CMAKE_RC_COMPILER})
set(ZRV_SYS_MESSAGES_DIR ${CMAKE_CURRENT_BINARY_DIR}/sys-messages)
add_custom_command(OUTPUT ${ZRV_SYS_MESSAGES_DIR}/zorvik_messages.rc.inc ${ZRV_SYS_MESSAGES_DIR}/MSG00409.bin
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZRV_SYS_MESSAGES_DIR}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/reasons.py ${CMAKE_SOURCE_DIR}/include/zorvik/reasons.h
    --mc ${ZRV_SYS_MESSAGES_DIR}/zorvik_messages.mc
  COMMAND ${ZRV_WINDMC} -c -r ${ZRV_SYS_MESSAGES_DIR} -h ${ZRV_SYS_MESSAGES_DIR}
    ${ZRV_SYS_MESSAGES_DIR}/zorvik_messages.mc
  COMMAND ${CMAKE_COMMAND} -E rename ${ZRV_SYS_MESSAGES_DIR}/zorvik_messages.rc
    ${ZRV_SYS_MESSAGES_DIR}/zorvik_messages.rc.inc
  DEPENDS ${CMAKE_SOURCE_DIR}/include/zorvik/reasons.h ${CMAKE_SOURCE_DIR}/tools/reasons.py VERBATIM)
set_source_files_properties(${CMAKE_SOURCE_DIR}/win/zorvik_messages.rc PROPERTIES
  OBJECT_DEPENDS "${ZRV_SYS_MESSAGES_DIR}/zorvik_messages.rc.inc;${ZRV_SYS_MESSAGES_DIR}/MSG00409.bin")
target_sources(zorvik_sys PRIVATE win/zorvik_messages.rc)
target_include_directories(zorvik_sys PRIVATE ${ZRV_SYS_MESSAGES_DIR})

# ---- zrvctl.exe ----------------------------------------------------------------
# The same commands as the Linux client (client/*.cpp) on the device back-end
# (client/win). fmt, CLI11 and nlohmann/json are header-only here; their
# Debian headers are put on the include path through links, so that the
# host's own system headers stay out of the target build.
set(ZRV_HOST_HEADERS ${CMAKE_CURRENT_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${ZRV_HOST_HEADERS})
foreach(pair "fmt;fmt/format.h" "CLI;CLI/CLI.hpp" "nlohmann;nlohmann/json.hpp")
  list(GET pair 0 dir)
  list(GET pair 1 probe)
  find_path(ZRV_HOST_${dir} ${probe} PATHS /usr/include /usr/local/include
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ZRV_HOST_${dir})
    message(FATAL_ERROR "${probe} not found: install Debian's libfmt-dev, libcli11-dev and nlohmann-json3-dev")
  endif()
  file(CREATE_LINK ${ZRV_HOST_${dir}}/${dir} ${ZRV_HOST_HEADERS}/${dir} SYMBOLIC)
endforeach()

# ---- zorvik.dll -----------------------------------------------------------------
# The C interface on the control device; exports by lib/zorvik.def only
# (undecorated __cdecl names), no runtime DLLs of the toolchain.
add_library(zorvik SHARED lib/zorvik.cpp lib/profile.cpp lib/target_win.cpp lib/zorvik.def)
set_target_properties(zorvik PROPERTIES PREFIX "" OUTPUT_NAME zorvik)
target_include_directories(zorvik PUBLIC ${CMAKE_SOURCE_DIR}/include)
target_include_directories(zorvik PRIVATE ${CMAKE_SOURCE_DIR})
target_include_directories(zorvik SYSTEM PRIVATE ${ZRV_HOST_HEADERS})
target_compile_definitions(zorvik PRIVATE FMT_HEADER_ONLY _WIN32_WINNT=0x0501 WIN32_LEAN_AND_MEAN NOMINMAX)
target_compile_options(zorvik PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${ZRV_WARNINGS}>")
target_link_options(zorvik PRIVATE -static -s)
zrv_windows_versions(zorvik windows)
target_link_libraries(zorvik PRIVATE advapi32 kernel32)
zrv_version_resource(zorvik zorvik.dll VFT_DLL VFT2_UNKNOWN "Zorvik board-support library")

# The client's commands and device back-end, compiled once for both builds
# of the client below.
file(GLOB ZRV_WIN_CLIENT_SOURCES CONFIGURE_DEPENDS client/*.cpp client/win/*.cpp)
list(REMOVE_ITEM ZRV_WIN_CLIENT_SOURCES ${CMAKE_SOURCE_DIR}/client/win/backend_win.cpp
  ${CMAKE_SOURCE_DIR}/client/win/board_remote.cpp)
add_library(zrvctl_objects OBJECT ${ZRV_WIN_CLIENT_SOURCES} driver/core/config_model.cpp)
function(zrv_client target)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/driver include)
  target_include_directories(${target} SYSTEM PRIVATE ${ZRV_HOST_HEADERS})
  target_compile_definitions(${target} PRIVATE FMT_HEADER_ONLY _WIN32_WINNT=0x0501 WIN32_LEAN_AND_MEAN NOMINMAX
    ZRV_CLIENT_VERSION="${PROJECT_VERSION}")
  target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${ZRV_WARNINGS}>")
endfunction()
zrv_client(zrvctl_objects)

# zrvctl.exe, the client that ships: the machine's own device, no board.
# zrvctl-testbed.exe, the Wine testbed's: the same client with the board
# link to the testbed's emulated board (client/win/board_remote.cpp,
# --board-port). Never ship it.
add_executable(zrvctl client/win/backend_win.cpp $<TARGET_OBJECTS:zrvctl_objects>)
add_executable(zrvctl_testbed client/win/backend_win.cpp client/win/board_remote.cpp
  $<TARGET_OBJECTS:zrvctl_objects>)
set_target_properties(zrvctl_testbed PROPERTIES OUTPUT_NAME zrvctl-testbed)
target_compile_definitions(zrvctl_testbed PRIVATE ZRV_TESTBED)
foreach(client zrvctl zrvctl_testbed)
  zrv_client(${client})
  # One file to copy: no runtime DLLs of the toolchain. Runs on the oldest
  # supported Windows.
  target_link_options(${client} PRIVATE -static -s)
  zrv_windows_versions(${client} console)
  target_link_libraries(${client} PRIVATE zorvik ws2_32 version shell32 kernel32)
endforeach()
# The keepalive service's event messages (win/events.mc), in both.
set(ZRV_EVENTS_DIR ${CMAKE_CURRENT_BINARY_DIR}/events)
add_custom_command(OUTPUT ${ZRV_EVENTS_DIR}/events.rc.inc ${ZRV_EVENTS_DIR}/MSG00409.bin
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZRV_EVENTS_DIR}
  COMMAND ${ZRV_WINDMC} -r ${ZRV_EVENTS_DIR} -h ${ZRV_EVENTS_DIR} ${CMAKE_SOURCE_DIR}/win/events.mc
  COMMAND ${CMAKE_COMMAND} -E rename ${ZRV_EVENTS_DIR}/events.rc ${ZRV_EVENTS_DIR}/events.rc.inc
  DEPENDS ${CMAKE_SOURCE_DIR}/win/events.mc VERBATIM)
set_source_files_properties(${CMAKE_SOURCE_DIR}/win/events.rc PROPERTIES
  OBJECT_DEPENDS "${ZRV_EVENTS_DIR}/events.rc.inc;${ZRV_EVENTS_DIR}/MSG00409.bin")
add_custom_target(zrv_events DEPENDS ${ZRV_EVENTS_DIR}/events.rc.inc)
foreach(client zrvctl zrvctl_testbed)
  add_dependencies(${client} zrv_events)
  target_sources(${client} PRIVATE win/events.rc)
  target_include_directories(${client} PRIVATE ${ZRV_EVENTS_DIR})
endforeach()
zrv_version_resource(zrvctl zrvctl.exe VFT_APP VFT2_UNKNOWN "Zorvik control client")
zrv_version_resource(zrvctl_testbed zrvctl-testbed.exe VFT_APP VFT2_UNKNOWN "Zorvik control client, Wine testbed build")

# The examples, C89 on zorvik.dll, beside it.
foreach(example wdt_keepalive dio_lines)
  add_executable(${example} examples/${example}.c)
  set_target_properties(${example} PROPERTIES C_STANDARD 90 C_EXTENSIONS OFF)
  target_compile_options(${example} PRIVATE ${ZRV_WARNINGS})
  target_link_options(${example} PRIVATE -static -s)
  zrv_windows_versions(${example} console)
  target_link_libraries(${example} PRIVATE zorvik kernel32)
endforeach()

# ---- The Wine testbed -------------------------------------------------------
add_subdirectory(win/testbed)

if(ZRV_BUILD_TESTS)
  enable_testing()
  add_subdirectory(tests/kernel)
endif()
