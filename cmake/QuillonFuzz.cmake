# libFuzzer targets that compare a parser or a cipher with a reference.
#
#   quillon_add_fuzzer(NAME <name> SOURCES <file>... [LIBRARIES <target>...] CORPUS <dir>
#                      [SECONDS <n>])
#
# The sources define LLVMFuzzerTestOneInput and may define LLVMFuzzerInitialize;
# they abort (tests/fuzz/fuzz_check.h) on any mismatch with their reference.
# CORPUS is the folder of seed inputs in the source tree, one file each.
# SECONDS is how long scripts/fuzz.sh runs the target by default (20): the
# durations of all targets add up to the fuzz stage of every CI run.
#
# With QUILLON_FUZZ (the build scripts/fuzz.sh makes in build/fuzz, with clang)
# every target is a libFuzzer program in <build>/fuzzers/, built by the target
# quillon_fuzzers and listed in <build>/fuzzers.txt ("name program corpus seconds"
# a line), from which scripts/fuzz.sh runs each. All code of that build carries
# libFuzzer's coverage instrumentation, AddressSanitizer and UBSan.
#
# Any other build with tests makes of each target a program that runs its
# seeds once, as the ctest test fuzz.<name>.seeds: the seeds are regression
# inputs, and the targets keep compiling with the code they test.
option(QUILLON_FUZZ "Build the libFuzzer targets (clang only)" OFF)

set(QUILLON_FUZZ_SUPPORT_DIR ${CMAKE_CURRENT_LIST_DIR}/../tests/fuzz)
set(QUILLON_FUZZ_MANIFEST ${CMAKE_BINARY_DIR}/fuzzers.txt)

if(QUILLON_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUILLON_FUZZ needs clang (libFuzzer); this is ${CMAKE_CXX_COMPILER_ID}")
  endif()
  if(QUILLON_SANITIZE)
    message(FATAL_ERROR "QUILLON_FUZZ brings its own sanitizers; leave QUILLON_SANITIZE empty")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  add_custom_target(quillon_fuzzers)
  file(WRITE ${QUILLON_FUZZ_MANIFEST} "")
endif()

function(quillon_add_fuzzer)
  cmake_parse_arguments(PARSE_ARGV 0 fuzzer "" "NAME;CORPUS;SECONDS" "SOURCES;LIBRARIES")
  if(NOT fuzzer_NAME OR NOT fuzzer_SOURCES OR NOT fuzzer_CORPUS)
    message(FATAL_ERROR "quillon_add_fuzzer: NAME, SOURCES and CORPUS are required")
  endif()
  if(NOT fuzzer_SECONDS)
    set(fuzzer_SECONDS 20)
  endif()
  get_filename_component(corpus ${fuzzer_CORPUS} ABSOLUTE)
  if(NOT IS_DIRECTORY ${corpus})
    message(FATAL_ERROR "quillon_add_fuzzer(${fuzzer_NAME}): no corpus folder ${corpus}")
  endif()

  if(QUILLON_FUZZ)
    set(program ${fuzzer_NAME})
    add_executable(${program} ${fuzzer_SOURCES})
    target_link_options(${program} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${program} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
    add_dependencies(quillon_fuzzers ${program})
    file(APPEND ${QUILLON_FUZZ_MANIFEST} "${fuzzer_NAME} ${CMAKE_BINARY_DIR}/fuzzers/${program} ${corpus} ${fuzzer_SECONDS}\n")
  elseif(QUILLON_BUILD_TESTS)
    set(program ${fuzzer_NAME}_seeds)
    add_executable(${program} ${fuzzer_SOURCES} ${QUILLON_FUZZ_SUPPORT_DIR}/seed_runner.cpp)
    add_test(NAME fuzz.${fuzzer_NAME}.seeds COMMAND ${program} ${corpus})
  else()
    return()
  endif()
  target_include_directories(${program} PRIVATE ${QUILLON_FUZZ_SUPPORT_DIR})
  target_link_libraries(${program} PRIVATE ${fuzzer_LIBRARIES})
endfunction()
