# Installation, the Debian package, and the test that installs that package.
# Included by the top-level CMakeLists.txt once the zarvo target exists.
include(GNUInstallDirs)

install(TARGETS zarvo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(ZARVO_MAINTAINER "Zarvo Maintainers <maintainers@zarvo.dev>")

if(UNIX)
  # Debian keeps manual pages and changelogs compressed; gzip -n leaves out
  # the name and time stamp, so the package's bytes do not depend on when
  # or where it was built.
  find_program(ZARVO_GZIP gzip)
  function(zarvo_gzip source output)
    if(NOT ZARVO_GZIP)
      set(${output} ${source} PARENT_SCOPE)
      return()
    endif()
    get_filename_component(name ${source} NAME)
    set(gz ${PROJECT_BINARY_DIR}/${name}.gz)
    add_custom_command(OUTPUT ${gz}
      COMMAND ${ZARVO_GZIP} -9 -n -c ${source} > ${gz}
      DEPENDS ${source}
      COMMENT "Compressing ${name}")
    set(${output} ${gz} PARENT_SCOPE)
  endfunction()
  zarvo_gzip(${PROJECT_SOURCE_DIR}/docs/zarvo.1 ZARVO_MAN_PAGE)
  zarvo_gzip(${PROJECT_SOURCE_DIR}/cmake/debian/changelog ZARVO_CHANGELOG)
  add_custom_target(zarvo_docs ALL DEPENDS ${ZARVO_MAN_PAGE} ${ZARVO_CHANGELOG})

  # The copyright file in Debian's machine-readable format, made from
  # LICENSE: its copyright line, then its text as the licence paragraph.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE ZARVO_LICENSE)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${ZARVO_LICENSE}")
  set(ZARVO_COPYRIGHT_HOLDER "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "^.*\n\n(Permission is hereby)" "\\1" ZARVO_LICENSE_TEXT
         "${ZARVO_LICENSE}")
  string(STRIP "${ZARVO_LICENSE_TEXT}" ZARVO_LICENSE_TEXT)
  string(REGEX REPLACE "\n\n" "\n.\n" ZARVO_LICENSE_TEXT "${ZARVO_LICENSE_TEXT}")
  string(REGEX REPLACE "\n" "\n " ZARVO_LICENSE_TEXT "${ZARVO_LICENSE_TEXT}")
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/copyright CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: zarvo
Upstream-Contact: ${ZARVO_MAINTAINER}

Files: *
Copyright: ${ZARVO_COPYRIGHT_HOLDER}
License: Expat

License: Expat
 ${ZARVO_LICENSE_TEXT}
")

  install(FILES ${ZARVO_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${ZARVO_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DOCDIR}
    RENAME changelog.gz)
endif()

# ------------------------------------------------------------------ CPack
set(CPACK_PACKAGE_NAME zarvo)
set(CPACK_PACKAGE_VENDOR "Zarvo developers")
set(CPACK_PACKAGE_CONTACT "${ZARVO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "echo a message to the console and a log file from scripts")
set(CPACK_PACKAGE_DESCRIPTION
    "Zarvo shows one message on the console, appends it to the log file that
ZARVO_LOG names, formats it (backslash escapes, the date and the time),
repeats it, pauses for a key or counts down, and ends with the exit code
that the caller chooses. Shell scripts and batch files call it.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Reproducible packages: every file's time is that of the last commit
# (SOURCE_DATE_EPOCH, which CPack honours; cpack reads the commit's time
# itself when it is unset). The folders' modes follow the umask, as do the
# modes of the package's own members: build it under umask 022 (tools/dist
# does, as dpkg-buildpackage does).
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackSourceDate.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT [=[
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  execute_process(COMMAND git -C "@PROJECT_SOURCE_DIR@" log -1 --format=%ct
    OUTPUT_VARIABLE ZARVO_COMMIT_TIME OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE ZARVO_GIT_STATUS ERROR_QUIET)
  if(ZARVO_GIT_STATUS EQUAL 0 AND ZARVO_COMMIT_TIME MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} "${ZARVO_COMMIT_TIME}")
  endif()
endif()
]=] @ONLY)
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

# The RPM spec of the static program, which tools/dist builds the .rpm
# packages from (rpmbuild): version, summary and description as above. RPM
# summaries start with a capital letter, Debian's with a small one.
string(SUBSTRING "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}" 0 1 _first)
string(SUBSTRING "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}" 1 -1 _rest)
string(TOUPPER "${_first}" _first)
set(ZARVO_RPM_SUMMARY "${_first}${_rest}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/rpm/zarvo.spec.in
  ${PROJECT_BINARY_DIR}/zarvo.spec @ONLY)

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
            ${PROJECT_BINARY_DIR} ${CMAKE_CXX_COMPILER_ID})
  # 77: the system already holds a zarvo that the test must not touch. The
  # time allows for a wait on the package test of another clone.
  set_tests_properties(package_deb PROPERTIES
    SKIP_RETURN_CODE 77 RUN_SERIAL TRUE TIMEOUT 1500)
endif()
