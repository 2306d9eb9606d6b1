# Run by CPack after PackageRezip.cmake: writes SHA256SUMS for every zip of this
# version in the release folder that belongs to this release, and removes any
# other, to be made again the same way (cmake/signing/release_zips.py says which).
list(GET CPACK_PACKAGE_FILES 0 this_package)
get_filename_component(this_name "${this_package}" NAME)
execute_process(COMMAND "${CPACK_FRAMELATCH_PYTHON}" "${CPACK_FRAMELATCH_SIGN_PROGRAM}" sums
                        "${CPACK_PACKAGE_DIRECTORY}/${this_name}" "${CPACK_FRAMELATCH_ZIP_PATTERN}"
                COMMAND_ERROR_IS_FATAL ANY)
