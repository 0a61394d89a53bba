# Cross-build for 32-bit Windows with MinGW-w64 (the posix thread model, for std::thread and friends).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(FWU_MINGW_TRIPLE i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake")
