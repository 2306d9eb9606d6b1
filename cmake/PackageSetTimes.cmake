# Run by CPack on the staged files before it zips them.
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
execute_process(COMMAND touch -h -d "@${CPACK_FRAMELATCH_SOURCE_DATE}" ${staged} COMMAND_ERROR_IS_FATAL ANY)
