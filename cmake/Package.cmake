# Installation, the Debian package, and the test that installs that package.
# Included by the top-level CMakeLists.txt once the zarvo target exists.
include(GNUInstallDirs)

install(TARGETS zarvo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(UNIX)
  # Debian keeps manual pages compressed; gzip -n leaves out the time stamp
  # so that the package's bytes do not depend on the build time.
  find_program(ZARVO_GZIP gzip)
  set(ZARVO_MAN_SOURCE ${PROJECT_SOURCE_DIR}/docs/zarvo.1)
  if(ZARVO_GZIP)
    set(ZARVO_MAN_PAGE ${PROJECT_BINARY_DIR}/zarvo.1.gz)
    add_custom_command(OUTPUT ${ZARVO_MAN_PAGE}
      COMMAND ${CMAKE_COMMAND} -E copy ${ZARVO_MAN_SOURCE} ${PROJECT_BINARY_DIR}
      COMMAND ${ZARVO_GZIP} -9 -n -f ${PROJECT_BINARY_DIR}/zarvo.1
      DEPENDS ${ZARVO_MAN_SOURCE}
      COMMENT "Compressing the manual page"
      VERBATIM)
    add_custom_target(zarvo_man ALL DEPENDS ${ZARVO_MAN_PAGE})
  else()
    set(ZARVO_MAN_PAGE ${ZARVO_MAN_SOURCE})
  endif()
  install(FILES ${ZARVO_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
    DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
endif()

# ------------------------------------------------------------------ CPack
set(CPACK_PACKAGE_NAME zarvo)
set(CPACK_PACKAGE_VENDOR "Zarvo developers")
set(CPACK_PACKAGE_CONTACT "Zarvo developers <zarvo@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "echo a message to the console and a log file from scripts")
set(CPACK_PACKAGE_DESCRIPTION
    "Zarvo shows one message on the console, appends it to the log file that
ZARVO_LOG names, formats it (backslash escapes, the date and the time),
repeats it, pauses for a key or counts down, and ends with the exit code
that the caller chooses. Shell scripts and batch files call it.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build/" "/out/" "/\\\\.git/")
if(NOT DEFINED CPACK_GENERATOR AND UNIX AND NOT APPLE)
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The C++ runtime is linked in; the C library is the only shared library.
# dpkg-shlibdeps (dpkg-dev) works out its version; CPack also needs `file`
# to find the programs to scan. Without them, name the library by hand.
find_program(ZARVO_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(ZARVO_FILE file)
if(ZARVO_DPKG_SHLIBDEPS AND ZARVO_FILE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")
endif()

include(CPack)

# ------------------------------------------------- the package's own test
# It installs the package into the running system with dpkg and removes it
# again, so it is registered only for a native release build configured by
# root on a machine with dpkg. The script checks again when it runs.
option(ZARVO_PACKAGE_TEST
  "Test the Debian package by installing and removing it (root only)" ON)
find_program(ZARVO_DPKG dpkg)
execute_process(COMMAND id -u OUTPUT_VARIABLE ZARVO_UID
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(ZARVO_BUILD_TESTS AND ZARVO_PACKAGE_TEST AND UNIX
   AND NOT CMAKE_CROSSCOMPILING AND CMAKE_BUILD_TYPE STREQUAL "Release"
   AND ZARVO_DPKG AND ZARVO_UID STREQUAL "0")
  enable_testing()
  add_test(NAME package_deb
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/PackageTest.sh
            ${PROJECT_BINARY_DIR})
  # 77: the system already holds a zarvo that the test must not touch.
  set_tests_properties(package_deb PROPERTIES
    SKIP_RETURN_CODE 77 RUN_SERIAL TRUE TIMEOUT 300)
endif()
