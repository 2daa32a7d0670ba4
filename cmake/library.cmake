# libzorvik.so: the C interface (include/zorvik/zorvik.h) with the driver
# loaded on a virtual board inside, so that management software is built
# and tested on Linux against the same interface as zorvik.dll on Windows.
# Only the zrv_* functions are exported (lib/zorvik.map); the simulator,
# the driver and their dependencies stay local to the shared object.
# Included from the top CMakeLists.txt after zorvik_sim.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZRV_LIB_VERSION ${PROJECT_VERSION})
add_library(zorvik SHARED lib/zorvik.cpp lib/profile.cpp lib/target_sim.cpp)
add_library(zorvik::zorvik ALIAS zorvik)
target_include_directories(zorvik PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_include_directories(zorvik PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(zorvik PRIVATE ${ZRV_WARNINGS})
target_link_libraries(zorvik PRIVATE zorvik_sim ${CMAKE_DL_LIBS})
# zrv_open(NULL) without ZORVIK_BOARD: the default board installed beside the
# library, found from the library's own folder (any --prefix at install).
file(RELATIVE_PATH ZRV_LIB_TO_BOARDS ${CMAKE_INSTALL_FULL_LIBDIR} ${CMAKE_INSTALL_FULL_DATADIR}/zorvik/boards)
target_compile_definitions(zorvik PRIVATE ZRV_LIB_TO_BOARDS="${ZRV_LIB_TO_BOARDS}")
set_target_properties(zorvik PROPERTIES VERSION ${ZRV_LIB_VERSION} SOVERSION 1
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/lib/zorvik.map)
target_link_options(zorvik PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/lib/zorvik.map)
# Every symbol resolved at link time; the sanitizers' runtimes are only
# resolved when the program loads.
if(NOT ZRV_SANITIZE AND NOT ZRV_TSAN AND NOT ZRV_FUZZ)
  target_link_options(zorvik PRIVATE -Wl,--no-undefined)
endif()

# cmake --install: the headers, the library, zorvik.pc and find_package(zorvik),
# zrvctl and the alert rules.
install(TARGETS zorvik EXPORT zorvikTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/zorvik/zorvik.h include/zorvik/ioctl.h include/zorvik/reasons.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zorvik)
install(EXPORT zorvikTargets NAMESPACE zorvik:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zorvik)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/zorvikConfigVersion.cmake
  VERSION ${ZRV_LIB_VERSION} COMPATIBILITY SameMajorVersion)
configure_file(lib/zorvikConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/zorvikConfig.cmake @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zorvikConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/zorvikConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zorvik)
file(RELATIVE_PATH ZRV_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(lib/zorvik.pc.in ${CMAKE_CURRENT_BINARY_DIR}/zorvik.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zorvik.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
# The example boards: default.json is the board of zrv_open(NULL) and of
# zrvctl without --sim; ZORVIK_BOARD=.../boards/NAME.json for another.
install(DIRECTORY boards/ DESTINATION ${CMAKE_INSTALL_DATADIR}/zorvik/boards)
# The Prometheus alert rules and their unit tests (docs/integrators.md).
install(FILES monitoring/zorvik-alerts.yml monitoring/zorvik-alerts.test.yml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zorvik/monitoring)
