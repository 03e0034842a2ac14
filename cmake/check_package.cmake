# Makes the zip of a Windows build with CPack and checks that it holds
# exactly the expected files, each program and library with the project's
# version in its VERSIONINFO:
#   cmake -DCPACK= -DBUILD= -DZIP= -DEXPECTED= -DWINDRES= -DVERSION= -P.
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

# The files as shipped (stripped by CPack), each with its version resource.
set(unpacked ${BUILD}/package-check)
file(REMOVE_RECURSE ${unpacked})
file(MAKE_DIRECTORY ${unpacked})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${BUILD}/${ZIP} WORKING_DIRECTORY ${unpacked})
string(REPLACE "." ", " numbers "${VERSION}")
foreach(file ${files})
  if(NOT file MATCHES "\\.(exe|dll)$")
    continue()
  endif()
  execute_process(COMMAND ${WINDRES} -i ${unpacked}/${file} -O rc RESULT_VARIABLE status
                  OUTPUT_VARIABLE resources ERROR_VARIABLE resources)
  if(NOT status EQUAL 0 OR NOT resources MATCHES "VERSIONINFO"
     OR NOT resources MATCHES "FILEVERSION ${numbers}, 0\n"
     OR NOT resources MATCHES "VALUE \"FileVersion\", \"${VERSION}\""
     OR NOT resources MATCHES "VALUE \"ProductVersion\", \"${VERSION}\""
     OR NOT resources MATCHES "VALUE \"OriginalFilename\", \"${file}\"")
    message(FATAL_ERROR "${file} does not carry the version ${VERSION}:\n${resources}")
  endif()
endforeach()
file(REMOVE_RECURSE ${unpacked})
message(STATUS "each program and library carries version ${VERSION}")
