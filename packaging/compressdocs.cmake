# Run by CPack in its staging folder before the package is made: Debian wants the manual pages
# and the changelog compressed, without a time stamp in the gzip header. Every manual page is
# taken, whichever install rule laid it down.
file(GLOB_RECURSE uncompressed
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man?/*.[1-9]"
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/doc/quillfen/changelog")
foreach(file IN LISTS uncompressed)
  execute_process(COMMAND gzip -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
