# Run as a script at build time: refuses every #include "<folder>/..." in FOLDER's sources whose folder is not
# in ALLOWED (a comma-separated list of folders, or of single files such as app/progress.h). EXCEPTIONS lists "file=folder/"
# pairs let through by name. Writes STAMP when every include keeps the charter.
#   cmake -DSOURCE_DIR=... -DFOLDER=serial -DALLOWED=serial -DEXCEPTIONS=... -DSTAMP=... -P CheckIncludes.cmake
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" ALLOWED "${ALLOWED}")
string(REPLACE "," ";" EXCEPTIONS "${EXCEPTIONS}")
file(READ "${SOURCE_DIR}/${FOLDER}/CMakeLists.txt" lists)
string(REGEX MATCH "^[^\n]*" charter "${lists}")
file(GLOB sources "${SOURCE_DIR}/${FOLDER}/*.cpp" "${SOURCE_DIR}/${FOLDER}/*.h")
set(refused "")
foreach(source IN LISTS sources)
  file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z0-9_]+/")
  file(RELATIVE_PATH name "${SOURCE_DIR}" "${source}")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
    string(REGEX REPLACE "/.*" "" folder "${included}")
    if(folder IN_LIST ALLOWED OR included IN_LIST ALLOWED OR "${name}=${folder}/" IN_LIST EXCEPTIONS)
      continue()
    endif()
    string(APPEND refused "  ${name}: #include \"${included}\"\n")
  endforeach()
endforeach()
if(refused)
  message(FATAL_ERROR "Include against the charter of ${FOLDER}/:\n${refused}The charter (${FOLDER}/CMakeLists.txt):\n  "
                      "${charter}\n")
endif()
file(TOUCH "${STAMP}")
