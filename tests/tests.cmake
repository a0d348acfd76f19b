find_package(Python3 REQUIRED COMPONENTS Interpreter)

# GUI checks and the clipboard checks run side by side, each on an X display
# and (on the Windows build) a Wine prefix of its own. Their time limits
# only guard against a hang: beside the other builds' tests on two cores,
# Wine runs several times slower than alone.
set(MOX_GUI_RUN ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/gui/isolated.py)
if(WIN32)
  list(APPEND MOX_GUI_RUN --wine)
endif()

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

# Collector stress. A collection at every allocation point (MOX_GC_STRESS=1)
# marks the whole library each time, so the suites run under it at full
# strength once, in the sanitizer build, and are sampled in the others: the
# unit suite's tests by a shard chosen by the seed, the case files by every
# N-th allocation point shifted by the seed (MOX_GC_STRESS=N:K). The seed is
# taken from the commit, so that successive commits reach every test and
# every allocation point; MOX_STRESS_SEED in the environment at configure
# time sets it instead, to repeat a run. MOX_STRESS_EXHAUSTIVE=ON runs every
# build at full strength: the unit suite under stress and every case file at
# every point (hours; by hand, after changing the collector, the interpreter
# or the memory manager).
option(MOX_STRESS_EXHAUSTIVE "Run every stress test at every allocation point on this build" OFF)
if(DEFINED ENV{MOX_STRESS_SEED} AND NOT "$ENV{MOX_STRESS_SEED}" STREQUAL "")
  set(MOX_STRESS_SEED "$ENV{MOX_STRESS_SEED}")
else()
  execute_process(COMMAND git rev-parse --short=7 HEAD WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE mox_head OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE mox_git_status ERROR_QUIET)
  if(mox_git_status EQUAL 0 AND mox_head MATCHES "^[0-9a-f]+$")
    math(EXPR MOX_STRESS_SEED "0x${mox_head}")
  else()
    set(MOX_STRESS_SEED 0)
  endif()
endif()
message(STATUS "Collector stress seed: ${MOX_STRESS_SEED}")
# The allocation points a case file under stress collects at: every N-th,
# shifted by the seed.
function(mox_stress_points period out)
  if(MOX_STRESS_EXHAUSTIVE)
    set(${out} 1 PARENT_SCOPE)
  else()
    math(EXPR shift "${MOX_STRESS_SEED} % ${period}")
    set(${out} "${period}:${shift}" PARENT_SCOPE)
  endif()
endfunction()

if(MOX_SANITIZE AND NOT WIN32)
  # Eight shards balanced by the tests' measured times under stress.
  foreach(shard RANGE 7)
    add_test(NAME unit-gc-stress-${shard} COMMAND ${Python3_EXECUTABLE}
      ${CMAKE_SOURCE_DIR}/tests/unit/stress_shard.py $<TARGET_FILE:mox_unit_tests> ${shard} 8
      ${CMAKE_SOURCE_DIR}/tests/unit/stress-times.txt)
    set_tests_properties(unit-gc-stress-${shard} PROPERTIES ENVIRONMENT "MOX_GC_STRESS=1")
  endforeach()
elseif(MOX_STRESS_EXHAUSTIVE)
  foreach(shard RANGE 3)
    add_test(NAME unit-gc-stress-${shard} COMMAND mox_unit_tests --gtest_brief=1)
    set_tests_properties(unit-gc-stress-${shard} PROPERTIES ENVIRONMENT
      "MOX_GC_STRESS=1;GTEST_TOTAL_SHARDS=4;GTEST_SHARD_INDEX=${shard}")
  endforeach()
else()
  # One eighth of the tests, chosen by the seed.
  math(EXPR mox_stress_shard "${MOX_STRESS_SEED} % 8")
  add_test(NAME unit-gc-stress-sample COMMAND mox_unit_tests --gtest_brief=1)
  set_tests_properties(unit-gc-stress-sample PROPERTIES ENVIRONMENT
    "MOX_GC_STRESS=1;GTEST_TOTAL_SHARDS=8;GTEST_SHARD_INDEX=${mox_stress_shard}")
endif()

# Whole-program checks of the executable (start, exit codes, fatal texts).
add_test(NAME program COMMAND ${CMAKE_SOURCE_DIR}/tests/program.sh $<TARGET_FILE:mox> ${CMAKE_CROSSCOMPILING_EMULATOR})
# Without a script the Windows program opens the console and waits for its
# user: the start-and-end check runs it on the null back end.
if(WIN32)
  set_tests_properties(program PROPERTIES ENVIRONMENT "MOX_NULL_GUI=1")
endif()

add_executable(fault-probe ${CMAKE_SOURCE_DIR}/tests/probe/fault-probe.cpp)
target_link_libraries(fault-probe PRIVATE moxrt)
add_dependencies(mox fault-probe)

# Oracle vectors from Python's unicodedata, made at build time so that the
# Windows build under Wine reads the same file.
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

# Language tests: the case files of tests/mox, run by mox-run (see
# program/mox-run.cpp for their format); with the sanitizers also with a
# collection at every allocation.
file(GLOB MOX_CASE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/mox/*.mox)
add_test(NAME mox-cases COMMAND mox-run --cases ${MOX_CASE_FILES})
# The same files with the interpreter's shortcuts off: every call takes the
# general path, so each shortcut is checked against it. A folder of its own,
# as case files make files in the current directory. On the Windows build
# the View tables need the null back end, as in mox-cases: on the real one
# a modal window (alert, a blocking view) waits for a user who never comes.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/general-cases)
add_test(NAME mox-cases-general COMMAND mox-run --cases ${MOX_CASE_FILES})
set(general_cases_env MOX_GENERAL_EVAL=1)
if(WIN32)
  list(APPEND general_cases_env MOX_NULL_GUI=1)
endif()
set_tests_properties(mox-cases-general PROPERTIES ENVIRONMENT "${general_cases_env}"
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/general-cases)
if(MOX_SANITIZE OR MOX_STRESS_EXHAUSTIVE)
  # One test a file, so that they run side by side, each in a folder of its
  # own (case files make files in the current directory), at every fourth
  # allocation point; the three that take longest at that rate at every
  # sixteenth (measured under the sanitizers at -O1: 85-170 s of CPU each,
  # the others 40 s at most).
  set(MOX_SLOW_STRESS_CASES control help-what evaluation)
  # One stressed run of a case file: collections every `rate` allocation
  # points (every `slow_rate` for the slow files), in its own folder, with
  # the environment given after the rates.
  function(mox_stress_case test_name folder case_file rate slow_rate)
    get_filename_component(case_name ${case_file} NAME_WE)
    file(MAKE_DIRECTORY ${folder})
    if(case_name IN_LIST MOX_SLOW_STRESS_CASES)
      mox_stress_points(${slow_rate} points)
    else()
      mox_stress_points(${rate} points)
    endif()
    add_test(NAME ${test_name} COMMAND mox-run --cases ${case_file})
    set(env "MOX_GC_STRESS=${points}" ${ARGN})
    if(WIN32)
      list(APPEND env MOX_NULL_GUI=1)
    endif()
    set_tests_properties(${test_name} PROPERTIES ENVIRONMENT "${env}" WORKING_DIRECTORY ${folder})
  endfunction()
  foreach(case_file ${MOX_CASE_FILES})
    get_filename_component(case_name ${case_file} NAME_WE)
    mox_stress_case(mox-cases-gc-stress-${case_name}
      ${CMAKE_BINARY_DIR}/gc-stress-cases/${case_name} ${case_file} 4 16)
    # The general path under stress too, at a quarter of the rate: its
    # frames keep other cells alive than the direct paths' do.
    mox_stress_case(mox-cases-general-gc-stress-${case_name}
      ${CMAKE_BINARY_DIR}/gc-stress-general-cases/${case_name} ${case_file} 16 64
      MOX_GENERAL_EVAL=1)
  endforeach()
endif()
# The series library's tables once more over the Mox bodies of the functions
# that have native ones.
add_test(NAME mox-cases-series-mox-bodies
  COMMAND mox-run --mox-bodies --cases ${CMAKE_SOURCE_DIR}/tests/mox/library-series.mox)
# The call tables (collect's keep among them) over the Mox bodies.
add_test(NAME mox-cases-call-frames-mox-bodies
  COMMAND mox-run --mox-bodies --cases ${CMAKE_SOURCE_DIR}/tests/mox/call-frames.mox)
# The URL parser's tables over the Mox body of url-parser/parse-url.
add_test(NAME mox-cases-url-parser-mox-bodies COMMAND mox-run --mox-bodies --cases
  ${CMAKE_SOURCE_DIR}/tests/mox/url-parser.mox ${CMAKE_SOURCE_DIR}/tests/mox/url-parser-native.mox)
# The reactive engine's tables over the Mox body of system/reactivity/check.
add_test(NAME mox-cases-reactivity-mox-bodies COMMAND mox-run --mox-bodies --cases
  ${CMAKE_SOURCE_DIR}/tests/mox/reactivity.mox ${CMAKE_SOURCE_DIR}/tests/mox/react-propagation.mox)
# The help tables over the Mox body of what.
add_test(NAME mox-cases-help-mox-bodies COMMAND mox-run --mox-bodies --cases
  ${CMAKE_SOURCE_DIR}/tests/mox/help.mox ${CMAKE_SOURCE_DIR}/tests/mox/help-what.mox)
# The base library's tables again with every library function on its Mox
# body (no native body bound), in a folder of its own: the tables make files
# in the current directory.
add_test(NAME library-cases-mox-bodies COMMAND mox-run --mox-bodies --cases
  ${CMAKE_SOURCE_DIR}/tests/mox/library-base.mox ${CMAKE_SOURCE_DIR}/tests/mox/library-routines.mox)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/mox-bodies-cases)
set_tests_properties(library-cases-mox-bodies PROPERTIES
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/mox-bodies-cases)
# Exit statuses and printed text of quit, ??, probe and write-stdout, both
# ways.
add_test(NAME library-check COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/library/library_check.py
  $<TARGET_FILE:mox-run> ${CMAKE_CROSSCOMPILING_EMULATOR})
# The draw dialect's generated rows still agree with their Python model.
add_test(NAME draw-oracle-rows COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/mox/draw_oracle.py --check)
# Painting a draw block: errors (the dialect's own and others) are printed,
# not raised; what was drawn before them stays and the paint ends.
add_test(NAME mox-run-draw-paint
  COMMAND mox-run ${CMAKE_SOURCE_DIR}/tests/mox-run/draw-paint.mox)
set_tests_properties(mox-run-draw-paint PROPERTIES PASS_REGULAR_EXPRESSION
  "^\\*\\*\\* Script Error: DRAW - invalid input at: \\[foo box 1x1 2x2\\]\r?\n[^[]*\\[\\[draw-face pf\\] \\[box 0x0 1x1 0\\] \\[end\\]\\]\r?\n\\*\\*\\* Script Error: DRAW - infinite recursion at: \\[pen 1\\.2\\.3 \\[\\.\\.\\.\\]\\]\r?\n[^[]*\\[\\[draw-face pf\\] \\[pen 1\\.2\\.3\\] \\[end\\]\\]\r?\n\\*\\*\\* Internal Error: block or paren series is too deep to process\r?\n[^[]*\\[\\[draw-face pf\\] \\[end\\]\\]\r?\nafter\r?\n$")

# The URL parser's oracle rows still agree with urllib.parse.
add_test(NAME url-oracle-rows COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/gen_url_cases.py --check)
# A script's uncaught error: its report, with the code near the failure and
# the calls, even when the error is a stack overflow.
add_test(NAME mox-run-uncaught-report
  COMMAND mox-run ${CMAKE_SOURCE_DIR}/tests/mox-run/uncaught-overflow.mox)
set_tests_properties(mox-run-uncaught-report PROPERTIES PASS_REGULAR_EXPRESSION
  "^before\r?\n\\*\\*\\* Internal Error: stack overflow\r?\n\\*\\*\\* Where: runaway\r?\n\\*\\*\\* Near : runaway n \\+ 1\r?\n\\*\\*\\* Stack: runaway runaway")

# The lexer tracer's lines: event, type, token cut to 12, line, input cut to
# 16, in padded columns; an error ends the scan without raising.
add_test(NAME mox-run-transcode-trace
  COMMAND mox-run ${CMAKE_SOURCE_DIR}/tests/mox-run/transcode-trace.mox)
set_tests_properties(mox-run-transcode-trace PROPERTIES PASS_REGULAR_EXPRESSION
  "^PRESCAN  word!        1x17         1    \"abcdefghijklmno\r?\nSCAN     word!        1x17         1    \"abcdefghijklmno\r?\nLOAD     word!        abcdefghijkl 1    \"abcdefghijklmno\r?\nPRESCAN  missing      18x19        1    \"\\]\"\r?\nERROR    missing      18x19        1    \"\\]\"\r?\nend\r?\n$")

# The tracers, the profiler, the debugger (through the headless console)
# and the timing and memory printers, by their printed output; and the
# math-time and tools tables once more over the Mox bodies of sum and of the
# profiler.
add_test(NAME tools-check COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/tools/tools_check.py
  $<TARGET_FILE:mox-run> ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(tools-check PROPERTIES TIMEOUT 1500)
# Programs under the tracers print the same with the tracer's native bodies
# as with its Mox bodies.
add_test(NAME trace-bodies COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/tools/trace_bodies.py
  $<TARGET_FILE:mox-run> ${CMAKE_SOURCE_DIR} ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(trace-bodies PROPERTIES TIMEOUT 1500)
add_test(NAME math-time-tools-mox-bodies COMMAND mox-run --mox-bodies --cases
  ${CMAKE_SOURCE_DIR}/tests/mox/math-time.mox ${CMAKE_SOURCE_DIR}/tests/mox/tools.mox)

# The files written by the generators in tools/ are what the generators
# write today. The Unicode tables need the Unicode database their generator
# was written for, which the Python of the build machines carries; another
# Python skips the check rather than fail it.
add_test(NAME lexer-tables-generated COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/generated_check.py
  ${CMAKE_SOURCE_DIR}/tools/gen-lexer-tables.py ${CMAKE_SOURCE_DIR}/evaluator/lexer-tables.h)
add_test(NAME unicode-tables-generated COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/generated_check.py
  ${CMAKE_SOURCE_DIR}/tools/gen-unicode-tables.py ${CMAKE_SOURCE_DIR}/core/unicode-tables.cpp)
set_tests_properties(unicode-tables-generated PROPERTIES SKIP_REGULAR_EXPRESSION "needs the Unicode 14.0 database")

# The GUI console's launcher on the null back end (MOX_GUI_CONSOLE=1).
if(NOT WIN32)
  add_test(NAME console-launcher COMMAND ${Python3_EXECUTABLE}
    ${CMAKE_SOURCE_DIR}/tests/gui/console_native_check.py $<TARGET_FILE:mox>)
endif()
# The View and VID tables once more with the face field sets taken by the
# Mox steps only (view-face-set's native body is not bound under --mox-bodies).
file(GLOB MOX_VIEW_CASE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/mox/view-*.mox
  ${CMAKE_SOURCE_DIR}/tests/mox/vid*.mox)
add_test(NAME mox-cases-view-mox-bodies COMMAND mox-run --mox-bodies --cases ${MOX_VIEW_CASE_FILES})
# The traces of system/view/debug?: labels, values and their order.
add_test(NAME mox-run-view-traces
  COMMAND mox-run ${CMAKE_SOURCE_DIR}/tests/mox-run/view-traces.mox)
set_tests_properties(mox-run-view-traces PROPERTIES PASS_REGULAR_EXPRESSION
  "^Type: window Style: none Offset: 5x5 Size: 50x40 Color: none Text: none\r?\n    Type: panel Style: none Offset: 0x0 Size: 9x9 Color: none Text: none\r?\n        Type: text Style: label Offset: 1x2 Size: 3x4 Color: 1.2.3 Text: \"0123456789abcdefghi\r?\n-- on-change event -- \r?\n\tface : base \r?\n\tword : offset \r?\n\told  : none \r?\n\tnew  : 1x2\r?\n[^~]*show: base  with\\?: false\r?\n[^~]*\tword       : draw \r?\n\ttarget type: block! \r?\n\tnew value  : word! \r?\n[^~]*-- font on-change event -- \r?\n\tword : size \r?\n\told  : none \r?\n\tnew  : integer\r?\nface> type: base event> type: down offset: 4x5 key: #\"a\" flags: \\[shift\\]\r?\ncalling actor: on-down\r?\nunview: all: false only: false\r?\n[^~]*end\r?\n$")

# Oracle vectors for the checksums (Python's zlib, hashlib, hmac) and oracle
# streams for inflate (zlib at every level, Python's gzip, the gzip command).
set(MOX_CHECKSUM_VECTORS_DIR ${CMAKE_BINARY_DIR}/checksum-vectors)
add_custom_command(OUTPUT ${MOX_CHECKSUM_VECTORS_DIR}/checksums.txt
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/unit/checksum_oracle.py ${MOX_CHECKSUM_VECTORS_DIR}
  DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/checksum_oracle.py)
set(MOX_DEFLATE_VECTORS_DIR ${CMAKE_BINARY_DIR}/deflate-vectors)
add_custom_command(OUTPUT ${MOX_DEFLATE_VECTORS_DIR}/streams.txt
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/unit/deflate_oracle.py ${MOX_DEFLATE_VECTORS_DIR}
  DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/deflate_oracle.py)
add_custom_target(checks_vectors DEPENDS ${MOX_CHECKSUM_VECTORS_DIR}/checksums.txt
  ${MOX_DEFLATE_VECTORS_DIR}/streams.txt)
add_dependencies(mox_unit_tests checks_vectors)
target_compile_definitions(mox_unit_tests PRIVATE MOX_CHECKSUM_VECTORS_DIR="${MOX_CHECKSUM_VECTORS_DIR}"
  MOX_DEFLATE_VECTORS_DIR="${MOX_DEFLATE_VECTORS_DIR}")

# Oracle vectors for the lexer's number and date literals, from Python's
# float, decimal and datetime.
set(MOX_LEXER_VECTORS_FILE ${CMAKE_BINARY_DIR}/lexer-vectors.txt)
add_custom_command(OUTPUT ${MOX_LEXER_VECTORS_FILE}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/unit/lexer_vectors.py ${MOX_LEXER_VECTORS_FILE}
  DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/lexer_vectors.py)
add_custom_target(lexer_vectors DEPENDS ${MOX_LEXER_VECTORS_FILE})
add_dependencies(mox_unit_tests lexer_vectors)
target_compile_definitions(mox_unit_tests PRIVATE MOX_LEXER_VECTORS="${MOX_LEXER_VECTORS_FILE}")

# File services against Python's view of the same files (sizes, times,
# listings, exact bytes, a size-0 /proc file, a sparse file past 4 GiB), and
# the HTTP client against a local Python server; under Wine on the Windows
# build, where the server's requests are really made.
add_test(NAME files-oracle COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/fileio/files_oracle.py
  $<TARGET_FILE:mox-run> ${CMAKE_CROSSCOMPILING_EMULATOR})
add_test(NAME http-client COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/http/http_check.py
  $<TARGET_FILE:mox-run> ${CMAKE_CROSSCOMPILING_EMULATOR})
# load of URLs: codec choice by the Content-Type, and the status.
add_test(NAME http-load COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/http/load_check.py
  $<TARGET_FILE:mox-run> ${CMAKE_CROSSCOMPILING_EMULATOR})
# The clipboard against the X clipboard (xclip) on the test display.
add_test(NAME clipboard COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/fileio/clipboard_check.py
  $<TARGET_FILE:mox-run> ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(files-oracle http-client http-load clipboard PROPERTIES TIMEOUT 900)
# Image codecs against Python's own image files and readers (and cjpeg and
# djpeg): the system's codecs on the Windows build, the portable PNG and BMP
# coders natively (with a collection at every allocation under the
# sanitizers).
add_test(NAME image-codecs COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/image/codec_check.py
  $<TARGET_FILE:mox-run> ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(image-codecs PROPERTIES TIMEOUT 1500)
if(MOX_SANITIZE)
  set_tests_properties(image-codecs PROPERTIES ENVIRONMENT "MOX_GC_STRESS=1")
endif()
# Images on the clipboard against the X clipboard (xclip). On Windows a
# probe offers bitmaps as another program would.
if(WIN32)
  add_executable(dib-probe ${CMAKE_SOURCE_DIR}/tests/image/dib-probe.cpp)
  add_dependencies(mox-run dib-probe)
  add_test(NAME image-clipboard COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/image/clipboard_check.py
    $<TARGET_FILE:mox-run> $<TARGET_FILE:dib-probe> ${CMAKE_CROSSCOMPILING_EMULATOR})
else()
  add_test(NAME image-clipboard COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/image/clipboard_check.py
    $<TARGET_FILE:mox-run> ${CMAKE_CROSSCOMPILING_EMULATOR})
endif()
set_tests_properties(image-clipboard clipboard PROPERTIES TIMEOUT 900)
# JSON and CSV codecs: their tables over the Mox sources too, Python's json
# and csv modules as oracles, and the native bodies against the Mox sources
# on mutated texts.
add_test(NAME codec-cases-mox-bodies COMMAND mox-run --mox-bodies --cases
  ${CMAKE_SOURCE_DIR}/tests/mox/json.mox ${CMAKE_SOURCE_DIR}/tests/mox/csv.mox)
foreach(driver json_oracle csv_oracle differential)
  add_test(NAME codec-${driver} COMMAND ${Python3_EXECUTABLE}
    ${CMAKE_SOURCE_DIR}/tests/codecs/${driver}.py $<TARGET_FILE:mox-run> ${CMAKE_CROSSCOMPILING_EMULATOR})
endforeach()

# The boot image: start-up from an image file (damaged ones end with the
# not-Moxbin message and a failure status, a failing file is named), and two
# runs of the image tool give the same bytes.
add_test(NAME boot-image-damaged COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/mox-run/boot_image_check.py
  $<TARGET_FILE:mox-run> ${MOX_BOOT_IMAGE} ${boot_tool} ${CMAKE_SOURCE_DIR} ${CMAKE_CROSSCOMPILING_EMULATOR})
# The image tool refuses native! and action! definitions that do not pair
# with core/natives-table.h, naming the word, the ids and the file.
add_test(NAME boot-image-pairing COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/tools/boot_pairing_check.py
  ${boot_tool} ${CMAKE_SOURCE_DIR})
if(NOT CMAKE_CROSSCOMPILING)
  set(MOX_BOOT_CHECK_DIR ${CMAKE_BINARY_DIR}/boot-image-check)
  file(MAKE_DIRECTORY ${MOX_BOOT_CHECK_DIR})
  add_test(NAME boot-image-reproducible COMMAND sh -c
    "for run in a b; do \"$0\" \"$1\" \"$2\" \"$3/$run.moxbin\" \"$3/$run.cpp\" || exit 1; done; cmp \"$3/a.moxbin\" \"$3/b.moxbin\" && cmp \"$3/a.cpp\" \"$3/b.cpp\""
    $<TARGET_FILE:make-boot-image> ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/library/order.txt
    ${MOX_BOOT_CHECK_DIR})
  set_tests_properties(boot-image-reproducible PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0")
endif()

# The camera's frame hand-over between two threads, once more on its own
# under ThreadSanitizer (it needs nothing of the runtime, which is not built
# with it). Native builds without other sanitizers take it when the compiler
# can; MOX_TSAN=ON asks for it.
option(MOX_TSAN "Build the ThreadSanitizer test of the camera frame hand-over" OFF)
if(NOT WIN32 AND NOT MOX_SANITIZE AND NOT MOX_FUZZ)
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_FLAGS -fsanitize=thread)
  set(CMAKE_REQUIRED_LINK_OPTIONS -fsanitize=thread)
  check_cxx_source_compiles("int main() { return 0; }" MOX_HAVE_TSAN)
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(MOX_TSAN OR MOX_HAVE_TSAN)
    add_executable(camera_handshake_tsan ${CMAKE_SOURCE_DIR}/tests/unit/camera_handshake_test.cpp)
    target_compile_options(camera_handshake_tsan PRIVATE -fsanitize=thread -g)
    target_link_options(camera_handshake_tsan PRIVATE -fsanitize=thread)
    target_include_directories(camera_handshake_tsan PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_libraries(camera_handshake_tsan PRIVATE gtest_main)
    add_test(NAME camera-handshake-tsan COMMAND camera_handshake_tsan --gtest_brief=1)
    set_tests_properties(camera-handshake-tsan PROPERTIES ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1")
  endif()
endif()

# The Windows view back end under Wine: windows made by a Mox script, found
# and driven with xdotool on the test display, read back through Win32 by
# win-probe. The other View tables run on the null back end there.
if(WIN32)
  add_executable(win-probe ${CMAKE_SOURCE_DIR}/tests/gui/win-probe.cpp)
  target_link_options(win-probe PRIVATE -municode)
  add_dependencies(mox-run win-probe)
  set_tests_properties(mox-cases mox-cases-view-mox-bodies mox-run-view-traces mox-run-draw-paint PROPERTIES
    ENVIRONMENT "MOX_NULL_GUI=1")
  # The GUI console's launcher: scripts that print nothing and that print
  # and quit with a status, through mox.exe on the test display; a typed
  # session, the clipboard through xclip, the close box, the caret's rate.
  add_test(NAME gui-console COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/gui/console_check.py
    $<TARGET_FILE:mox> ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(gui-console PROPERTIES TIMEOUT 1500)
  # The console's screen read back from X: rows, selection, scrolling, zoom.
  add_test(NAME gui-console-screen COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/gui/console_check.py
    --screen $<TARGET_FILE:mox> ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(gui-console-screen PROPERTIES TIMEOUT 1500)
  # The console's transcripts: printing scripts on both back ends, a typed
  # session against the engine without a window, a pasted 1 MB line.
  add_test(NAME gui-console-transcripts COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE}
    ${CMAKE_SOURCE_DIR}/tests/gui/console_transcript_check.py $<TARGET_FILE:mox> $<TARGET_FILE:mox-run>
    ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(gui-console-transcripts PROPERTIES TIMEOUT 1500)
  add_test(NAME gui-windows COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/gui/gui_check.py
    $<TARGET_FILE:mox-run> $<TARGET_FILE:win-probe> ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(gui-windows PROPERTIES TIMEOUT 1500)
  # Layered base faces both ways, face pictures, a DPI change and a camera
  # face without devices, read back through Win32 by layered-probe.
  add_executable(layered-probe ${CMAKE_SOURCE_DIR}/tests/gui/layered-probe.cpp)
  target_link_options(layered-probe PRIVATE -municode)
  add_dependencies(mox-run layered-probe)
  add_test(NAME gui-layered COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/gui/layered_check.py
    $<TARGET_FILE:mox-run> $<TARGET_FILE:layered-probe> ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(gui-layered PROPERTIES TIMEOUT 1500)
  # Direct2D drawing: draw tables into images against geometric models,
  # windows with draw blocks grabbed from the screen, a lost device.
  add_test(NAME gui-draw COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/gui/draw_check.py
    $<TARGET_FILE:mox-run> ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(gui-draw PROPERTIES TIMEOUT 1500)
  # Rich-text metrics against DirectWrite's own cluster and line metrics.
  add_executable(text-probe ${CMAKE_SOURCE_DIR}/tests/gui/text-probe.cpp)
  target_link_libraries(text-probe PRIVATE dwrite)
  add_dependencies(mox-run text-probe)
  add_test(NAME gui-text COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/gui/text_check.py
    $<TARGET_FILE:mox-run> $<TARGET_FILE:text-probe> ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(gui-text PROPERTIES TIMEOUT 1500)
  # Menus, widgets, common dialogs and wait, driven by keys and clicks.
  add_executable(widget-probe ${CMAKE_SOURCE_DIR}/tests/gui/widget-probe.cpp)
  target_link_options(widget-probe PRIVATE -municode)
  add_dependencies(mox-run widget-probe)
  add_test(NAME gui-widgets COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/gui/widgets_check.py
    $<TARGET_FILE:mox-run> $<TARGET_FILE:win-probe> $<TARGET_FILE:widget-probe>
    ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(gui-widgets PROPERTIES TIMEOUT 1500)
  # Scroller steps, edit selections and scroll bars, tab stops, a para
  # change, button font colours and accelerated faces, in the runner with
  # the console's manifest.
  add_test(NAME gui-controls COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/gui/controls_check.py
    $<TARGET_FILE:mox-run> $<TARGET_FILE:win-probe> $<TARGET_FILE:widget-probe>
    $<TARGET_FILE:layered-probe> ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(gui-controls PROPERTIES TIMEOUT 1500)
  # Native windows where input cannot reach them or calls are made to
  # fail: picked presses, gestures as messages, creation failures, the
  # GDI+ text of base faces without Direct2D, batched moves.
  add_test(NAME gui-native COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/gui/native_check.py
    $<TARGET_FILE:mox-run> $<TARGET_FILE:win-probe> $<TARGET_FILE:widget-probe>
    ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(gui-native PROPERTIES TIMEOUT 1500)
  # The View dispatch and VID tables on real windows: clicks, keys and
  # close boxes by xdotool, faces read back through win-probe, colours on
  # an X grab.
  add_test(NAME gui-view-rows COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/gui/view_rows_check.py
    $<TARGET_FILE:mox-run> $<TARGET_FILE:win-probe> ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(gui-view-rows PROPERTIES TIMEOUT 1500)
  # The console's configuration file through real starts and quits of mox.exe.
  add_test(NAME gui-console-cfg COMMAND ${MOX_GUI_RUN} ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/gui/cfg_check.py
    $<TARGET_FILE:mox> ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(gui-console-cfg PROPERTIES TIMEOUT 1500)
endif()

# The console engine through mox-run --console: transcripts of sessions.
add_test(NAME console-transcripts COMMAND ${Python3_EXECUTABLE}
  ${CMAKE_SOURCE_DIR}/tests/console/transcripts.py $<TARGET_FILE:mox-run> ${CMAKE_CROSSCOMPILING_EMULATOR})
add_test(NAME console-flip-exe COMMAND ${Python3_EXECUTABLE}
  ${CMAKE_SOURCE_DIR}/tests/console/flip_exe.py $<TARGET_FILE:mox-run> ${CMAKE_CROSSCOMPILING_EMULATOR})
add_test(NAME console-cache-http COMMAND ${Python3_EXECUTABLE}
  ${CMAKE_SOURCE_DIR}/tests/console/cache_http.py $<TARGET_FILE:mox-run> ${CMAKE_CROSSCOMPILING_EMULATOR})

# The sources (once, in the native build): includes only look down the
# layers, and every C++ file is as clang-format writes it.
if(NOT CMAKE_CROSSCOMPILING)
  add_test(NAME layers COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/check-layers.py ${CMAKE_SOURCE_DIR})
  add_test(NAME format COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/check-format.py ${CMAKE_SOURCE_DIR})
endif()
