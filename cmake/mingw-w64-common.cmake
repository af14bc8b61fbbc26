# What both MinGW-w64 toolchains share; NORVALE_MINGW_TRIPLE names the target.
set(CMAKE_SYSTEM_NAME Windows)
if(NORVALE_MINGW_TRIPLE MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()

# The posix flavour: its libstdc++ has std::thread and std::mutex.
set(CMAKE_C_COMPILER ${NORVALE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NORVALE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NORVALE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${NORVALE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One executable that runs on its own: the C and C++ run-times and
# winpthreads are linked in, so no DLL has to travel beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Lets ctest, and the test discovery it does, run the test programs under
# Wine: Debian's wine64 runs the 64-bit ones and wine32's wine the 32-bit
# ones, both outside the PATH.
if(NORVALE_MINGW_TRIPLE MATCHES "^x86_64")
  set(NORVALE_WINE_NAME wine64)
else()
  set(NORVALE_WINE_NAME wine)
endif()
find_program(NORVALE_WINE NAMES ${NORVALE_WINE_NAME} PATHS /usr/lib/wine
             NO_DEFAULT_PATH)
if(NORVALE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NORVALE_WINE})
endif()
