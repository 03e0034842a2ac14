# Makes the zip of a Windows build with CPack and checks that it holds
# exactly the expected files: cmake -DCPACK= -DBUILD= -DZIP= -DEXPECTED= -P.
file(REMOVE ${BUILD}/${ZIP})
execute_process(COMMAND ${CPACK} -G ZIP WORKING_DIRECTORY ${BUILD} RESULT_VARIABLE status
                OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0 OR NOT EXISTS ${BUILD}/${ZIP})
  message(FATAL_ERROR "cpack did not make ${ZIP}:\n${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${BUILD}/${ZIP} RESULT_VARIABLE status
                OUTPUT_VARIABLE listing)
string(REPLACE "\n" ";" files "${listing}")
list(FILTER files EXCLUDE REGEX "^$")
list(SORT files)
set(expected ${EXPECTED})
list(SORT expected)
if(NOT files STREQUAL expected)
  message(FATAL_ERROR "${ZIP} holds [${files}], expected [${expected}]")
endif()
message(STATUS "${ZIP}: ${files}")
