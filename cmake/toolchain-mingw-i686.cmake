# The product: 32-bit Windows, as the hotkey service's 32-bit Orvisk.dll needs.
set(FENWAREL_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
