# Run by CPack on the staged files before it zips them: signs Framelatch.exe
# where the environment asks for it (cmake/sign-program.py says how). A failed
# signing leaves no release behind: no zip of this version and no SHA256SUMS,
# so that a release is never half signed.
execute_process(COMMAND "${CPACK_FRAMELATCH_PYTHON}" "${CPACK_FRAMELATCH_SIGN_PROGRAM}" sign
                        "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/Framelatch.exe"
                RESULT_VARIABLE failed)
if(failed)
  file(GLOB release "${CPACK_PACKAGE_DIRECTORY}/${CPACK_FRAMELATCH_ZIP_PATTERN}")
  # Nor is the unsigned program left to be zipped.
  file(REMOVE ${release} "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/Framelatch.exe")
  message(FATAL_ERROR "Signing failed: no release was made, and the release folder holds none of this version")
endif()
