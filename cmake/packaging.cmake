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

# Every shipped file carries the project's version (VERSIONINFO): FILEOS
# VOS_NT_WINDOWS32, FILETYPE 1 for a program, 2 for a library.
foreach(shipped
    "telvor_install|install.exe|1|Telvor Printer installer"
    "quor|quor.dll|2|Telvor Printer port monitor"
    "quorprompt|quorprompt.exe|1|Telvor Printer prompts"
    "telvor|telvor.dll|2|Telvor Printer HylaFAX client")
  string(REPLACE "|" ";" fields "${shipped}")
  list(GET fields 0 target)
  list(GET fields 1 TELVOR_FILE_NAME)
  list(GET fields 2 TELVOR_FILE_TYPE)
  list(GET fields 3 TELVOR_FILE_DESCRIPTION)
  set(version_rc ${PROJECT_BINARY_DIR}/version/${TELVOR_FILE_NAME}.rc)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/version.rc.in ${version_rc} @ONLY)
  target_sources(${target} PRIVATE ${version_rc})
endforeach()

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

# The MSI beside the zip, from the zip's files:
#   cmake --build --preset win64 --target msi  ->  build/win64/telvor-printer-<version>-windows-x64.msi
# Signed (the zip's programs and libraries, then the MSI made from them):
#   installer/package/sign.sh build/win64 certificate.p12 password-file
set(telvor_msi_command ${PROJECT_SOURCE_DIR}/installer/package/make_msi.sh ${CMAKE_CPACK_COMMAND}
    ${PROJECT_BINARY_DIR} ${telvor_package} ${TELVOR_PACKAGE_ARCH} ${PROJECT_VERSION}
    ${PROJECT_SOURCE_DIR}/installer/package/telvor-printer.wxs)
add_custom_target(msi COMMAND bash ${telvor_msi_command}
                  DEPENDS telvor_install quor quorprompt telvor VERBATIM)

# The zip as an administrator gets it: made afresh, holding exactly these.
if(TELVOR_TESTS)
  add_test(NAME package_contents
    COMMAND ${CMAKE_COMMAND} -DCPACK=${CMAKE_CPACK_COMMAND} -DBUILD=${PROJECT_BINARY_DIR}
            -DZIP=${telvor_package}.zip
            "-DEXPECTED=README.txt;install.exe;quor.dll;quorprompt.exe;telvor.dll"
            -DWINDRES=${CMAKE_RC_COMPILER} -DVERSION=${PROJECT_VERSION}
            -P ${CMAKE_CURRENT_LIST_DIR}/check_package.cmake)
  set_tests_properties(package_contents PROPERTIES LABELS package TIMEOUT 120)
  # The MSI made and its tables read; 77: wixl or msiinfo missing outside CI.
  list(INSERT telvor_msi_command 1 --check)
  add_test(NAME package_msi COMMAND bash ${telvor_msi_command})
  set_tests_properties(package_msi PROPERTIES LABELS package TIMEOUT 120 SKIP_RETURN_CODE 77
                                              RESOURCE_LOCK package)
  set_tests_properties(package_contents PROPERTIES RESOURCE_LOCK package)
  # sign.sh over this build with a throwaway self-signed certificate; every
  # signature verified.
  add_test(NAME package_signing
    COMMAND bash ${PROJECT_SOURCE_DIR}/installer/tests/win/check_signing.sh
            ${PROJECT_SOURCE_DIR}/installer/package/sign.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(package_signing PROPERTIES LABELS package TIMEOUT 120 SKIP_RETURN_CODE 77
                                                  RESOURCE_LOCK package)
endif()
