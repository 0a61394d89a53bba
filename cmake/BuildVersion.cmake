# Writes build_version.h: the program's version (the project's VERSION, the one place it is set) and the commit
# the build comes from, so that --version, the Windows programs' file properties and the packages all say the
# same. Run as a script at every build (cmake -P), so the commit follows new commits without a new configure;
# the header is rewritten only when its text changes, so an unchanged build stays unchanged.
#   -DVERSION=1.1.0 -DSOURCE_DIR=... -DOUTPUT=.../build_version.h
# FWU_COMMIT in the environment names the commit where there is no git checkout (a source tarball).

set(commit "$ENV{FWU_COMMIT}")
if(commit STREQUAL "")
  find_program(GIT git)
  if(GIT)
    execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" rev-parse --short=12 HEAD OUTPUT_VARIABLE commit
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    if(failed)
      set(commit "")
    else()
      # Uncommitted changes to tracked files make it a build of no commit at all: say so.
      execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" diff --quiet HEAD -- RESULT_VARIABLE dirty ERROR_QUIET)
      if(dirty)
        string(APPEND commit "-modified")
      endif()
    endif()
  endif()
endif()
if(commit STREQUAL "")
  set(commit "unknown")
endif()

string(REPLACE "." ";" parts "${VERSION}")
list(LENGTH parts count)
while(count LESS 4)
  list(APPEND parts 0)
  list(LENGTH parts count)
endwhile()
list(GET parts 0 major)
list(GET parts 1 minor)
list(GET parts 2 patch)
list(GET parts 3 tweak)

set(text "// Written by cmake/BuildVersion.cmake at build time; not to be edited.
#pragma once

#define FWU_VERSION \"${VERSION}\"
#define FWU_COMMIT \"${commit}\"
// The version with its commit, as the Windows programs' product version shows it.
#define FWU_PRODUCT_VERSION \"${VERSION} (commit ${commit})\"
// The version as the four numbers a Windows version resource takes.
#define FWU_VERSION_NUMBERS ${major}, ${minor}, ${patch}, ${tweak}
")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
else()
  set(old "")
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
