# libFuzzer targets (clang, TELVOR_FUZZ=ON): each runs as a test for a bounded
# time, starting from the seeds kept beside it.
set(TELVOR_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)

# telvor_add_fuzzer(NAME SOURCE LIBRARY...)
function(telvor_add_fuzzer name source)
  add_executable(${name} ${source})
  target_compile_options(${name} PRIVATE ${TELVOR_FUZZ_FLAGS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${name} PRIVATE ${ARGN})
  # New inputs go to the build tree; the seeds in the source tree stay as they are.
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/corpus)
  add_test(NAME ${name}
           COMMAND ${name} -max_total_time=20 -rss_limit_mb=2048
                   ${CMAKE_CURRENT_BINARY_DIR}/corpus ${CMAKE_CURRENT_SOURCE_DIR}/seeds)
  set_tests_properties(${name} PROPERTIES TIMEOUT 120)
endfunction()
