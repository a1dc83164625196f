# SPDX-License-Identifier: MIT
# A release archive of the static programs, to unpack and run anywhere:
# bin/, the pages, the licence and the README, under one top directory.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)

set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_FILE_NAME "quizpair-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/repack-archive.cmake)
