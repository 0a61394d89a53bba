# Each folder's includes are checked against its charter, the first line of its CMakeLists.txt, whenever one of
# its files changes: fwu_charter(<target> <folder> ALLOWS <folders or files>... [EXCEPT <file>=<folder>/...]).
# The folder itself is always allowed.
function(fwu_charter target folder)
  cmake_parse_arguments(PARSE_ARGV 2 charter "" "" "ALLOWS;EXCEPT")
  file(GLOB sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${folder}/*.cpp" "${PROJECT_SOURCE_DIR}/${folder}/*.h")
  set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${target}.charter")
  string(REPLACE ";" "," allowed "${folder};${charter_ALLOWS}")
  string(REPLACE ";" "," exceptions "${charter_EXCEPT}")
  add_custom_command(
    OUTPUT "${stamp}"
    COMMAND "${CMAKE_COMMAND}" "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}" "-DFOLDER=${folder}" "-DALLOWED=${allowed}"
            "-DEXCEPTIONS=${exceptions}" "-DSTAMP=${stamp}" -P "${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake"
    DEPENDS ${sources} "${PROJECT_SOURCE_DIR}/${folder}/CMakeLists.txt" "${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake"
    COMMENT "Checking the includes of ${folder}/ against its charter"
    VERBATIM)
  add_custom_target(${target}_charter DEPENDS "${stamp}")
  add_dependencies(${target} ${target}_charter)
endfunction()
