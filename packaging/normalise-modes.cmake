# SPDX-License-Identifier: MIT
# Run by cpack once it has staged the files, before it packs them. CPack
# makes the staging directories itself, with the builder's umask: with 077
# a package would hold drwx------ directories, and its bytes would depend on
# who built it. Every mode is made what a umask of 022 gives: directories
# and programs 755, other files 644.
execute_process(COMMAND chmod -R u+rw,go-w,a+rX "${CPACK_TEMPORARY_DIRECTORY}" COMMAND_ERROR_IS_FATAL ANY)
