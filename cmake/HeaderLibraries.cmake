# CLI11 and nlohmann-json are header-only. A MinGW build must not see /usr/include (glibc's headers would shadow
# its own), so their two folders are linked into a folder of the build tree and only that is added, each as a
# target of its own: fwu_cli11 for the command line, fwu_json for whatever reads or writes JSON.
find_path(FWU_CLI11_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(FWU_JSON_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(FWU_HEADER_LIBRARIES "${CMAKE_BINARY_DIR}/third_party")
file(MAKE_DIRECTORY "${FWU_HEADER_LIBRARIES}/cli11" "${FWU_HEADER_LIBRARIES}/json")
file(CREATE_LINK "${FWU_CLI11_DIR}/CLI" "${FWU_HEADER_LIBRARIES}/cli11/CLI" COPY_ON_ERROR SYMBOLIC)
file(CREATE_LINK "${FWU_JSON_DIR}/nlohmann" "${FWU_HEADER_LIBRARIES}/json/nlohmann" COPY_ON_ERROR SYMBOLIC)
add_library(fwu_cli11 INTERFACE)
target_include_directories(fwu_cli11 SYSTEM INTERFACE "${FWU_HEADER_LIBRARIES}/cli11")
add_library(fwu_json INTERFACE)
target_include_directories(fwu_json SYSTEM INTERFACE "${FWU_HEADER_LIBRARIES}/json")
