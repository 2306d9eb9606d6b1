# Run by CPack after PackageRezip.cmake: writes SHA256SUMS for every zip of this
# version in the release folder.
#
# The other build's zip belongs to this release only where it is this one's
# but for its program, and signed as this one is: a signature checked only when
# it was made may be revoked since, or made for another authority. Any other zip
# is removed, to be made again the same way.
file(GLOB packages "${CPACK_PACKAGE_DIRECTORY}/${CPACK_FRAMELATCH_ZIP_PATTERN}")
list(GET CPACK_PACKAGE_FILES 0 this_package)
get_filename_component(this_name "${this_package}" NAME)
foreach(package IN LISTS packages)
  get_filename_component(name "${package}" NAME)
  if(NOT name STREQUAL this_name)
    execute_process(COMMAND "${CPACK_FRAMELATCH_PYTHON}" "${CPACK_FRAMELATCH_SIGN_PROGRAM}" belongs
                    "${this_package}" "${package}" RESULT_VARIABLE other ERROR_VARIABLE why OUTPUT_QUIET
                    ERROR_STRIP_TRAILING_WHITESPACE)
    if(NOT other EQUAL 0)
      message(WARNING "Removed ${name}, which is no part of this release: ${why}")
      file(REMOVE "${package}")
      list(REMOVE_ITEM packages "${package}")
    endif()
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
