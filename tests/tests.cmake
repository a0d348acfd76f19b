# Unit tests: one GoogleTest binary over the runtime library. Under a
# cross-compiling toolchain ctest runs it through the emulator (Wine).
file(GLOB MOX_UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
add_executable(mox_unit_tests ${MOX_UNIT_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/unit/main.cpp)
target_link_libraries(mox_unit_tests PRIVATE moxrt gtest)
target_include_directories(mox_unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
target_compile_definitions(mox_unit_tests PRIVATE MOX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
if(WIN32)
  target_link_options(mox_unit_tests PRIVATE -Wl,--stack,67108864)
endif()

add_test(NAME unit COMMAND mox_unit_tests --gtest_brief=1)
# The same suite with a collection at every allocation.
add_test(NAME unit-gc-stress COMMAND mox_unit_tests --gtest_brief=1)
set_tests_properties(unit-gc-stress PROPERTIES ENVIRONMENT "MOX_GC_STRESS=1")

# Whole-program checks of the executable (start, exit codes, fatal texts).
add_test(NAME program COMMAND ${CMAKE_SOURCE_DIR}/tests/program.sh $<TARGET_FILE:mox> ${CMAKE_CROSSCOMPILING_EMULATOR})

add_executable(fault-probe ${CMAKE_SOURCE_DIR}/tests/probe/fault-probe.cpp)
target_link_libraries(fault-probe PRIVATE moxrt)
add_dependencies(mox fault-probe)
