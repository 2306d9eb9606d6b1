# The release zip: `cmake --build --preset windows --target package` makes
# Framelatch-<version>-win32.zip (the 64-bit build: -win64.zip) in the release
# folder, and writes SHA256SUMS there for every zip of this version in it. The
# presets share build/release, so after both builds it lists both zips.
set(FRAMELATCH_RELEASE_DIR ${PROJECT_BINARY_DIR} CACHE PATH "Where the package target puts the release zips")

install(TARGETS Framelatch RUNTIME DESTINATION .)

# Beside the program, files a player opens on Windows with a double-click: the
# user guides as HTML pages and the licence as LICENSE.txt, made from docs/ and
# LICENSE at package time by a script that renders the guides with
# Python-Markdown (python3-markdown). The Python that the project's tests use
# may not be the one that has it, so look for one that does.
set(FRAMELATCH_PAGES_PYTHON "" CACHE FILEPATH "A Python 3 with the markdown module, to make the user guide pages")
if(NOT FRAMELATCH_PAGES_PYTHON)
  find_package(Python3 QUIET COMPONENTS Interpreter)
  foreach(candidate IN ITEMS ${Python3_EXECUTABLE} /usr/bin/python3)
    execute_process(COMMAND ${candidate} -c "import markdown" RESULT_VARIABLE no_markdown OUTPUT_QUIET ERROR_QUIET)
    if(no_markdown EQUAL 0)
      set(FRAMELATCH_PAGES_PYTHON ${candidate} CACHE FILEPATH "" FORCE)
      break()
    endif()
  endforeach()
endif()
set(player_files ${PROJECT_BINARY_DIR}/player-files)
if(FRAMELATCH_PAGES_PYTHON)
  install(CODE "execute_process(COMMAND \"${FRAMELATCH_PAGES_PYTHON}\" \"${CMAKE_CURRENT_LIST_DIR}/player-files.py\"
                \"${PROJECT_SOURCE_DIR}\" \"${player_files}\" COMMAND_ERROR_IS_FATAL ANY)")
else()
  install(CODE "message(FATAL_ERROR \"The user guide pages need Python 3 with python3-markdown (scripts/install-deps.sh installs it)\")")
endif()
install(FILES ${player_files}/README-ja.html ${player_files}/README-en.html ${player_files}/LICENSE.txt DESTINATION .)

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
set(CPACK_FRAMELATCH_PYTHON ${FRAMELATCH_PAGES_PYTHON})
set(CPACK_FRAMELATCH_SIGN_PROGRAM ${CMAKE_CURRENT_LIST_DIR}/sign-program.py)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageSign.cmake ${CMAKE_CURRENT_LIST_DIR}/PackageSetTimes.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageRezip.cmake ${CMAKE_CURRENT_LIST_DIR}/PackageSums.cmake)
include(CPack)
