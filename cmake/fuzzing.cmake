# gridwave_add_fuzzer(NAME SOURCE [LIBS...] [MAX_LEN bytes])
#
# SOURCE defines LLVMFuzzerTestOneInput (and optionally LLVMFuzzerInitialize).
# Seeds live in tests/fuzz/corpus/NAME/, inputs that once crashed in
# tests/fuzz/regressions/NAME/.
#
# - With GRIDWAVE_FUZZ: builds the libFuzzer executable NAME and registers it
#   for tests/fuzz/run.sh (a line in <build>/fuzz-targets/NAME).
# - With BUILD_TESTING: builds NAME_replay, which runs the same code on every
#   seed and regression input without libFuzzer (any compiler), as the CTest
#   test fuzz_replay.NAME. So every crash ever found stays in the normal suite.
function(gridwave_add_fuzzer name source)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "MAX_LEN" "")
  set(libs ${arg_UNPARSED_ARGUMENTS})
  if(NOT arg_MAX_LEN)
    set(arg_MAX_LEN 4096)
  endif()
  set(corpus "${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name}")
  set(regressions "${PROJECT_SOURCE_DIR}/tests/fuzz/regressions/${name}")

  if(GRIDWAVE_FUZZ)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE ${libs})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    # One line per field: binary, seed folder, regression folder, max input length.
    file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/fuzz-targets/${name}"
         CONTENT "$<TARGET_FILE:${name}>\n${corpus}\n${regressions}\n${arg_MAX_LEN}\n")
  endif()

  if(BUILD_TESTING)
    add_executable(${name}_replay ${source} "${PROJECT_SOURCE_DIR}/tests/fuzz/replay_main.cpp")
    target_link_libraries(${name}_replay PRIVATE ${libs})
    add_test(NAME fuzz_replay.${name} COMMAND ${name}_replay "${corpus}" "${regressions}")
  endif()
endfunction()
