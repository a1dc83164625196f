# SPDX-License-Identifier: MIT
# Run by cpack once it has made the archive. CPack records the owner of
# each file as whoever built it, and the entries in the order the file
# system gave them; packed again with GNU tar, the archive records owner and
# group 0, modes that do not depend on the builder's umask (directories
# and programs 755, other files 644), the entries sorted by name, the
# commit's time for every entry and no time in the gzip header: the same
# bytes for the same commit, whoever builds it and wherever.
foreach(archive IN LISTS CPACK_PACKAGE_FILES)
  set(unpacked "${archive}.unpacked")
  file(REMOVE_RECURSE "${unpacked}")
  file(MAKE_DIRECTORY "${unpacked}")
  execute_process(COMMAND tar -xzf "${archive}" -C "${unpacked}" COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB top_directories RELATIVE "${unpacked}" "${unpacked}/*")
  set(time_options "")
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(time_options "--mtime=@$ENV{SOURCE_DATE_EPOCH}")
  endif()
  execute_process(
    COMMAND tar --sort=name --owner=0 --group=0 --numeric-owner --mode=u+rw,go-w,a+rX --format=gnu ${time_options}
            -C "${unpacked}" -cf - ${top_directories}
    COMMAND gzip -9n
    OUTPUT_FILE "${archive}"
    COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${unpacked}")
endforeach()
