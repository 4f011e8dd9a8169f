# Windows with mingw-w64, for the processor that the including toolchain file
# names in FENWAREL_MINGW_PROCESSOR (i686 or x86_64). The -posix compilers
# carry std::mutex and std::thread, which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${FENWAREL_MINGW_PROCESSOR})
set(triple ${FENWAREL_MINGW_PROCESSOR}-w64-mingw32)

set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_OBJDUMP ${triple}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests of the Windows build run under Wine of the same width (win32 or
# win64), through a wrapper that sets up that Wine's private prefix.
if(FENWAREL_MINGW_PROCESSOR STREQUAL "x86_64")
  set(FENWAREL_WINE_ARCH win64)
else()
  set(FENWAREL_WINE_ARCH win32)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh;${FENWAREL_WINE_ARCH}")
