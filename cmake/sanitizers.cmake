# GRIDWAVE_SANITIZE=ON builds every target with AddressSanitizer and
# UndefinedBehaviorSanitizer. Any report aborts the process, so a test that
# triggers one fails instead of printing a warning nobody reads.
option(GRIDWAVE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

# GRIDWAVE_FUZZ=ON (clang only) adds libFuzzer coverage instrumentation on top
# of the sanitizers and builds the fuzz targets; see tests/fuzz/run.sh.
option(GRIDWAVE_FUZZ "Build the libFuzzer targets (needs clang)" OFF)

if(GRIDWAVE_SANITIZE OR GRIDWAVE_FUZZ)
  set(gridwave_sanitizer_flags -fsanitize=address,undefined -fno-sanitize-recover=all
                               -fno-omit-frame-pointer)
  if(GRIDWAVE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
      message(FATAL_ERROR "GRIDWAVE_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
  add_compile_options(${gridwave_sanitizer_flags})
  add_link_options(${gridwave_sanitizer_flags})
endif()
