# Windows: one test program, tests_windows.exe, with every suite that does not need Linux,
# run under Wine by scripts/test-windows. Left out, being Linux-only:
#   core/fault_test.cpp                    terminal faults through /proc and POSIX signals
#   core/script_mode_test.cpp,             write into the link's FIFO
#   core/order_move_test.cpp,
#   core/flatten_test.cpp
#   platform/*_linux_test.cpp              /proc, fork and signals
#   terminal/gathered_reading_test.cpp     the reader against mmap'd memory of the test itself
#                                          (the stand-in end to end reads through ReadProcessMemory)
#   trans/dll_mode_test.cpp                dlopen of the stand-in's TRANS2QUIK.so
#   tools/velmora_scan_test.cpp            waitpid statuses and the Linux velmora-scan
#                                          (windows/windows_platform_test.cpp runs the .exe)
#   standin/, wine/                        the Linux stand-in's memory and socket; Wine from Linux
#   app/                                   the Qt window
set(windows_test_sources)
foreach(dir settings secs terminal ladder orders trans core platform tools windows)
  file(GLOB dir_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  list(APPEND windows_test_sources ${dir_sources})
endforeach()
list(FILTER windows_test_sources EXCLUDE REGEX
  "/(core/fault_test|core/script_mode_test|core/order_move_test|core/flatten_test|platform/[a-z_]*_linux_test|terminal/gathered_reading_test|trans/dll_mode_test|tools/velmora_scan_test)\\.cpp$")

add_executable(tests_windows ${windows_test_sources})
target_link_libraries(tests_windows PRIVATE velmora_test_support velmora_scan_command GTest::gtest_main)
target_compile_definitions(tests_windows PRIVATE VELMORA_TEST_PROGRAM="tests_windows.exe")
# Runs under Wine from a bare folder: no MinGW runtime DLLs beside it.
target_link_options(tests_windows PRIVATE -static)
add_dependencies(tests_windows velmora_standin_programs velmora-scan velmora_plain_names_trans2quik)

# The stand-in library once more, exporting the plain names: the loader must find those too.
add_library(velmora_plain_names_trans2quik SHARED ${CMAKE_SOURCE_DIR}/standin/trans2quik_windows.cpp
  ${CMAKE_SOURCE_DIR}/standin/trans2quik_feed.cpp
  ${CMAKE_SOURCE_DIR}/standin/$<IF:$<EQUAL:${CMAKE_SIZEOF_VOID_P},4>,trans2quik_plain_stdcall.def,trans2quik_plain.def>)
target_link_libraries(velmora_plain_names_trans2quik PRIVATE velmora_standin_link)
target_link_options(velmora_plain_names_trans2quik PRIVATE -static)
set_target_properties(velmora_plain_names_trans2quik PROPERTIES
  OUTPUT_NAME TRANS2QUIK
  PREFIX ""
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/plain-names)

# The tick timed against the live Windows stand-in; run by hand, not by the suite.
add_executable(tick_bench_windows ${CMAKE_SOURCE_DIR}/bench/tick_bench_windows.cpp)
target_link_libraries(tick_bench_windows PRIVATE velmora_test_support)
target_link_options(tick_bench_windows PRIVATE -static)
add_dependencies(tick_bench_windows velmora_standin_programs)
