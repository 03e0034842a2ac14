# The Debian package of the Linux hosts, telvor-printer_<version>_amd64.deb:
# the CUPS backend, its PPD, telvor-spool and the two plug-ins, as the
# install rules beside the hosts (spoolhost/) place them, made with
#   cpack --preset deb   ->  build/release/telvor-printer_<version>_amd64.deb
# (the release preset installs under /usr). The settings store is written
# by the administrator's command, not by the package: removing the package
# keeps it, purging removes it (postrm).
if(TELVOR_WINDOWS OR TELVOR_FUZZ)
  return()
endif()

# The store's path has one definition, the hosts' own.
file(STRINGS ${PROJECT_SOURCE_DIR}/spoolhost/src/host.h telvor_store_line
     REGEX "kCupsStore\\[\\] = \"")
string(REGEX REPLACE ".*= \"([^\"]+)\".*" "\\1" TELVOR_CUPS_STORE "${telvor_store_line}")
configure_file(${PROJECT_SOURCE_DIR}/spoolhost/package/postrm.in
               ${PROJECT_BINARY_DIR}/package/postrm @ONLY)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME telvor-printer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Telvor Printer <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Print to fax through a HylaFAX server (CUPS backend)")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# What the queue's set-up needs: cupsd, its filters and cups-driverd
# (lpadmin -m), all pulled in by "cups"; lpr comes with cups-bsd.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "cups")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-bsd")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/package/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

# Made, installed with dpkg, set up and printed through as docs/linux.md
# says, removed and purged: on a machine of its own (CI), as root.
if(TELVOR_TESTS AND CMAKE_INSTALL_PREFIX STREQUAL "/usr" AND NOT TELVOR_SANITIZE)
  add_test(NAME cups_package
    COMMAND ${PROJECT_SOURCE_DIR}/tests/system/cups/cups_test.sh package ${PROJECT_BINARY_DIR}
            ${PROJECT_BINARY_DIR}/tests/system/cups)
  set_tests_properties(cups_package PROPERTIES LABELS "system;cups;package"
    SKIP_RETURN_CODE 77 TIMEOUT 120 RESOURCE_LOCK system_install)
endif()
