# The docs target: the API reference of every registered library's public
# headers, by Doxygen, into <build>/docs/html. Any Doxygen warning fails it.
# Doxygen reads the headers where the build lays them out for clients, so the
# reference shows them as clients include them: <QelChart/Node.h>.
find_package(Doxygen)
if(NOT DOXYGEN_FOUND)
  message(STATUS "Doxygen not found: no docs target")
  return()
endif()

get_property(qel_doc_headers GLOBAL PROPERTY QEL_HEADER_NAMES)
list(TRANSFORM qel_doc_headers PREPEND "${QEL_INCLUDE_DIR}/QelChart/")

set(DOXYGEN_PROJECT_NAME "Qel.Chart.Core")
set(DOXYGEN_PROJECT_NUMBER "${PROJECT_VERSION}")
set(DOXYGEN_PROJECT_BRIEF "The core object model of a chart framework")
set(DOXYGEN_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/docs")
set(DOXYGEN_STRIP_FROM_PATH "${QEL_INCLUDE_DIR}")
set(DOXYGEN_STRIP_FROM_INC_PATH "${QEL_INCLUDE_DIR}")
set(DOXYGEN_GENERATE_LATEX NO)
set(DOXYGEN_QUIET YES)
set(DOXYGEN_WARN_AS_ERROR YES)
# Every public entity is in the reference, documented or not: a warning
# means a comment that says something wrong, not one that is missing.
set(DOXYGEN_EXTRACT_ALL YES)
set(DOXYGEN_JAVADOC_AUTOBRIEF YES)
# Attributes, the export macros among them, are not part of the API (and
# Doxygen's parser trips over them).
set(DOXYGEN_MACRO_EXPANSION YES)
set(DOXYGEN_EXPAND_ONLY_PREDEF YES)
set(DOXYGEN_PREDEFINED "__attribute__(x)=" QELCORE_API= QELDEBUG_API= QELUTILITY_API=)

# The README is the main page: what the library is and how to use it, before
# the reference of each class. The pages it links to come along, so that
# its links resolve.
set(DOXYGEN_USE_MDFILE_AS_MAINPAGE "${PROJECT_SOURCE_DIR}/README.md")
set(qel_doc_pages
  "${PROJECT_SOURCE_DIR}/README.md"
  "${PROJECT_SOURCE_DIR}/CHANGELOG.md"
  "${PROJECT_SOURCE_DIR}/docs/errors.md"
  "${PROJECT_SOURCE_DIR}/docs/file-format.md"
  "${PROJECT_SOURCE_DIR}/docs/performance.md")

doxygen_add_docs(docs ${qel_doc_pages} ${qel_doc_headers}
  COMMENT "API reference (Doxygen) into ${PROJECT_BINARY_DIR}/docs/html")
