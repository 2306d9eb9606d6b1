# Run by CPack after it made the zip, before it copies it out.
#
# CPack's zip records each file's inode change time, which no build can fix.
# Make it again from the staged files, in a fixed order, without extra
# attributes and with times in UTC, so one commit always gives the same zip;
# then write SHA256SUMS for every zip of this version in the release folder.
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
  # CPack copies the new zip out only after this script; put it in place now
  # so that SHA256SUMS can list it beside the other build's.
  file(COPY "${package}" DESTINATION "${CPACK_PACKAGE_DIRECTORY}")
endforeach()

# The other build's zip belongs to this release only if it is signed as this
# one is, and a signed one only if its signature verifies here and now, as this
# build's did: a signed and an unsigned build side by side would be half a
# signed release, and a signature checked only when it was made may be revoked
# since, or made for another authority. Any other zip is removed, to be made
# again the same way.
file(GLOB packages "${CPACK_PACKAGE_DIRECTORY}/${CPACK_FRAMELATCH_ZIP_PATTERN}")
list(GET CPACK_PACKAGE_FILES 0 this_package)
get_filename_component(this_name "${this_package}" NAME)
foreach(package IN LISTS packages)
  get_filename_component(name "${package}" NAME)
  if(name STREQUAL this_name)
    continue()
  endif()
  execute_process(COMMAND "${CPACK_FRAMELATCH_PYTHON}" "${CPACK_FRAMELATCH_SIGN_PROGRAM}" belongs
                  "${this_package}" "${package}" RESULT_VARIABLE other)
  if(NOT other EQUAL 0)
    message(WARNING "Removed ${name}: it is signed differently from this build, or its signature does not verify "
                    "now; make it again the same way")
    file(REMOVE "${package}")
    list(REMOVE_ITEM packages "${package}")
  endif()
endforeach()
list(SORT packages)
set(sums "")
foreach(package IN LISTS packages)
  file(SHA256 "${package}" digest)
  get_filename_component(name "${package}" NAME)
  string(APPEND sums "${digest}  ${name}\n")
endforeach()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${sums}")
