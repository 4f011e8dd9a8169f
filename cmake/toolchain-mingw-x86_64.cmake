# The 64-bit test twin: the same sources for hosts whose Wine cannot run
# 32-bit code. Never packaged for users.
set(FENWAREL_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
