# Run by CPack in its staging folder before the packages are made: Debian wants the manual
# pages and the changelogs compressed, without a time stamp in the gzip header. Every manual
# page and changelog is taken, of every package, whichever install rule laid it down.
file(GLOB_RECURSE staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
list(FILTER staged INCLUDE REGEX "/share/man/man[1-9]/[^/]+\\.[1-9]$|/share/doc/[^/]+/changelog$")
foreach(file IN LISTS staged)
  execute_process(COMMAND gzip -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
