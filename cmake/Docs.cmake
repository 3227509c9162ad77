# The API reference: `cmake --build --preset default --target docs` builds HTML from the
# public headers and docs/api.md (its main page) into <build>/docs/html with Doxygen.
# Every public name must be documented: an undocumented one, or any other Doxygen
# warning, fails the target.
find_package(Doxygen QUIET)

set(ZM_DOCS_OUT ${CMAKE_BINARY_DIR}/docs)
set(ZM_DOCS_INPUTS ${CMAKE_SOURCE_DIR}/ZipMate191/include/ZipMate191 ${CMAKE_SOURCE_DIR}/docs/api.md)

if(NOT DOXYGEN_FOUND)
  add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -E echo
            "docs: doxygen was not found when this build was configured; install the Debian package doxygen (scripts/setup does) and configure again"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
  return()
endif()

list(JOIN ZM_DOCS_INPUTS "\" \"" ZM_DOCS_INPUT_LIST)
file(WRITE ${ZM_DOCS_OUT}/Doxyfile "\
PROJECT_NAME           = \"ZipMate191\"
PROJECT_NUMBER         = ${PROJECT_VERSION}
PROJECT_BRIEF          = \"The zip component TZipMate and its engine\"
OUTPUT_DIRECTORY       = \"${ZM_DOCS_OUT}\"
INPUT                  = \"${ZM_DOCS_INPUT_LIST}\"
FILE_PATTERNS          = *.h *.md
USE_MDFILE_AS_MAINPAGE = \"${CMAKE_SOURCE_DIR}/docs/api.md\"
STRIP_FROM_PATH        = \"${CMAKE_SOURCE_DIR}\"
FULL_PATH_NAMES        = NO
EXTRACT_ALL            = NO
EXTRACT_PRIVATE        = NO
EXTRACT_STATIC         = YES
HIDE_FRIEND_COMPOUNDS  = YES
DISTRIBUTE_GROUP_DOC   = YES
JAVADOC_AUTOBRIEF      = YES
QUIET                  = YES
WARNINGS               = YES
WARN_IF_UNDOCUMENTED   = YES
WARN_IF_DOC_ERROR      = YES
WARN_NO_PARAMDOC       = NO
WARN_AS_ERROR          = FAIL_ON_WARNINGS
GENERATE_HTML          = YES
GENERATE_LATEX         = NO
HAVE_DOT               = NO
SEARCHENGINE           = NO
")

add_custom_target(docs
  COMMAND ${DOXYGEN_EXECUTABLE} ${ZM_DOCS_OUT}/Doxyfile
  COMMAND ${CMAKE_COMMAND} -E echo "docs: ${ZM_DOCS_OUT}/html/index.html"
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
  COMMENT "Building the API reference with Doxygen"
  VERBATIM)
