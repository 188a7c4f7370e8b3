# Cross-builds for Windows (i686) with Debian's MinGW-w64 (package g++-mingw-w64-i686).
set(MINGW_TRIPLET i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
