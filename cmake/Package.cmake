# The release zip: `cmake --build --preset windows --target package` makes
# Framelatch-<version>-win32.zip (the 64-bit build: -win64.zip) in the release
# folder, and writes SHA256SUMS there for every zip of this version in it. The
# presets share build/release, so after both builds it lists both zips.
set(FRAMELATCH_RELEASE_DIR ${PROJECT_BINARY_DIR} CACHE PATH "Where the package target puts the release zips")

install(TARGETS Framelatch RUNTIME DESTINATION .)
install(FILES README.md LICENSE docs/README.ja.md DESTINATION .)

# Every file in the zip gets the time of the commit it was built from, so two
# builds of one commit give the same zip.
execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                OUTPUT_VARIABLE source_date OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE git_failed)
if(git_failed OR NOT source_date)
  set(source_date 1767225600)  # 2026-01-01, for a tree outside git
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Framelatch)
set(CPACK_PACKAGE_VENDOR Framelatch)
set(CPACK_PACKAGE_FILE_NAME Framelatch-${PROJECT_VERSION}-${FRAMELATCH_WINE_ARCH})
set(CPACK_PACKAGE_DIRECTORY ${FRAMELATCH_RELEASE_DIR})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_FRAMELATCH_SOURCE_DATE ${source_date})
set(CPACK_FRAMELATCH_ZIP_PATTERN Framelatch-${PROJECT_VERSION}-*.zip)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageSetTimes.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageRezipAndSum.cmake)
include(CPack)
