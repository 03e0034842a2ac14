# What an administrator takes: one zip per Windows build holding the files to
# put in one folder and run (install.exe beside the two libraries and the
# monitor's prompt program that it copies, and a short text saying what to
# do), made with
#   cpack --preset win32   ->  build/win32/telvor-printer-<version>-windows-x86.zip
#   cpack --preset win64   ->  build/win64/telvor-printer-<version>-windows-x64.zip
# The Linux files are installed by `cmake --install` (rules beside the
# Linux hosts in spoolhost/).
if(NOT TELVOR_WINDOWS)
  return()
endif()

# The installer copies the libraries from its own folder: all at the top.
install(TARGETS telvor_install quorprompt RUNTIME DESTINATION . COMPONENT windows)
install(TARGETS quor LIBRARY DESTINATION . COMPONENT windows)
install(TARGETS telvor RUNTIME DESTINATION . COMPONENT windows)
install(FILES ${PROJECT_SOURCE_DIR}/installer/package/README.txt DESTINATION . COMPONENT windows)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(TELVOR_PACKAGE_ARCH x64)
else()
  set(TELVOR_PACKAGE_ARCH x86)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME telvor-printer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(telvor_package telvor-printer-${PROJECT_VERSION}-windows-${TELVOR_PACKAGE_ARCH})
set(CPACK_PACKAGE_FILE_NAME ${telvor_package})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_COMPONENTS_ALL windows)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)

# The zip as an administrator gets it: made afresh, holding exactly these.
if(TELVOR_TESTS)
  add_test(NAME package_contents
    COMMAND ${CMAKE_COMMAND} -DCPACK=${CMAKE_CPACK_COMMAND} -DBUILD=${PROJECT_BINARY_DIR}
            -DZIP=${telvor_package}.zip
            "-DEXPECTED=README.txt;install.exe;quor.dll;quorprompt.exe;telvor.dll"
            -P ${CMAKE_CURRENT_LIST_DIR}/check_package.cmake)
  set_tests_properties(package_contents PROPERTIES LABELS package TIMEOUT 120)
endif()
