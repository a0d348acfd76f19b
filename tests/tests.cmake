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

# Oracle vectors from Python's unicodedata, made at build time so that the
# Windows build under Wine reads the same file.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(MOX_UNICODE_ORACLE_FILE ${CMAKE_BINARY_DIR}/unicode-oracle.txt)
add_custom_command(OUTPUT ${MOX_UNICODE_ORACLE_FILE}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/unicode/oracle.py > ${MOX_UNICODE_ORACLE_FILE}
  DEPENDS ${CMAKE_SOURCE_DIR}/tests/unicode/oracle.py)
add_custom_target(unicode_oracle DEPENDS ${MOX_UNICODE_ORACLE_FILE})
add_dependencies(mox_unit_tests unicode_oracle)
target_compile_definitions(mox_unit_tests PRIVATE MOX_UNICODE_ORACLE="${MOX_UNICODE_ORACLE_FILE}")

# Oracle vectors for the number-text conversions, from Python's repr and float.
set(MOX_DTOA_VECTORS_DIR ${CMAKE_BINARY_DIR}/dtoa-vectors)
add_custom_command(OUTPUT ${MOX_DTOA_VECTORS_DIR}/complete
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${MOX_DTOA_VECTORS_DIR}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/dtoa/gen_vectors.py ${MOX_DTOA_VECTORS_DIR}
  DEPENDS ${CMAKE_SOURCE_DIR}/tests/dtoa/gen_vectors.py)
add_custom_target(dtoa_vectors DEPENDS ${MOX_DTOA_VECTORS_DIR}/complete)
add_dependencies(mox_unit_tests dtoa_vectors)
target_compile_definitions(mox_unit_tests PRIVATE MOX_DTOA_VECTORS_DIR="${MOX_DTOA_VECTORS_DIR}")
