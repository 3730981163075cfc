# Writes OUT, the header that tells every program its version: the project's
# version, and the commit it was built from when the sources are a git
# checkout ("-dirty" when they differ from it). Run at every build, so the
# commit never goes stale; the file is rewritten only when it changes.
set(commit "")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short=12 HEAD
                  WORKING_DIRECTORY ${SRC} OUTPUT_VARIABLE commit
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(failed)
    set(commit "")
  else()
    execute_process(COMMAND ${GIT_EXECUTABLE} diff-index --quiet HEAD --
                    WORKING_DIRECTORY ${SRC} RESULT_VARIABLE dirty ERROR_QUIET)
    if(dirty)
      string(APPEND commit "-dirty")
    endif()
  endif()
endif()
set(text "// Generated at build time by cmake/version.cmake.\n#pragma once\n#define DRAVIK_VERSION \"${VERSION}\"\n#define DRAVIK_COMMIT \"${commit}\"\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT "${old}" STREQUAL "${text}")
  file(WRITE ${OUT} "${text}")
endif()
