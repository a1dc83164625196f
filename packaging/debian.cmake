# SPDX-License-Identifier: MIT
# One Debian package with both programs, linked against the shared C
# library so that its security updates reach them; their dependency on it
# is worked out by dpkg-shlibdeps.
install(FILES copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quizpair)
if(QUIZPAIR_PACKAGE_CONTACT STREQUAL default_contact)
  string(REGEX REPLACE "^.*<(.*)>$" "\\1" contact_address "${QUIZPAIR_PACKAGE_CONTACT}")
  configure_file(lintian-overrides.in quizpair @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quizpair DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_CONTACT "${QUIZPAIR_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "quiz with a signalled hint, and two joined threads")
# The synopsis above is the first line of the Description field; this is
# the extended description under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Two small console programs that each show one mechanism of concurrent
work on Linux, written to be read.
.
quizhint asks one multiplication question. It forks a reminder process
that sends it SIGUSR1 after five seconds; a signal handler then prints a
hint if no answer is in, and the interrupted read carries on.
.
pairjoin starts two POSIX threads that each print a line, joins them in
order and reports the result of each start request.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/set-deb-member-modes.cmake)
