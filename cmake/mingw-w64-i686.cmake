# Cross-builds Norvale for 32-bit Windows with Debian's MinGW-w64 (posix
# threads); the tests run under wine32's Wine.
set(NORVALE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
