# The Wine testbed's Linux half: the board server zrvboard, which serves
# one emulated board to the stand-in hal.dll and to zrvctl.exe under Wine
# (see win/wine-run). Its tests and the Wine suite are in tests/wine.
add_library(zrvtestbed STATIC sim/server/board_server.cpp)
target_link_libraries(zrvtestbed PUBLIC zorvik_sim)
target_compile_options(zrvtestbed PRIVATE ${ZRV_WARNINGS})

add_executable(zrvboard sim/server/zrvboard.cpp)
target_link_libraries(zrvboard PRIVATE zrvtestbed)
target_compile_options(zrvboard PRIVATE ${ZRV_WARNINGS})

if(ZRV_BUILD_TESTS)
  enable_testing()
  add_subdirectory(tests/wine)
endif()
