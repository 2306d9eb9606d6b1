# Run by CPack after it made the zip, before it copies it out.
#
# CPack's zip records each file's inode change time, which no build can fix.
# Make it again from the staged files, in a fixed order, without extra
# attributes and with times in UTC, so one commit always gives the same zip.
find_program(ZIP_PROGRAM zip)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(ZIP_PROGRAM)
    file(GLOB staged RELATIVE "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
    list(SORT staged)
    file(REMOVE "${package}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${ZIP_PROGRAM} -X -D -q -9 "${package}" ${staged}
                    WORKING_DIRECTORY "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" COMMAND_ERROR_IS_FATAL ANY)
  else()
    message(WARNING "zip not found: the package keeps CPack's own zip, which differs from build to build")
  endif()
  # CPack copies the new zip out only after the post-build scripts; put it in
  # place now so that SHA256SUMS can list it beside the other build's.
  file(COPY "${package}" DESTINATION "${CPACK_PACKAGE_DIRECTORY}")
endforeach()
