cmake_minimum_required(VERSION 3.25)
# Checks a Windows binary of the build: below a size limit and importing
# only Windows' own DLLs, so that it runs as one file on any Windows.
# Usage: cmake -DFILE=... -DMAX_BYTES=... -DOBJDUMP=... [-DEXTRA_DLLS="a.dll b.dll"]
#              [-DPROGRAM=ON] -P check_binary.cmake
# EXTRA_DLLS: further Windows DLLs that a test may import. PROGRAM: also no
# import of the calls that only Windows 10 has.
file(SIZE "${FILE}" size)
if(MAX_BYTES AND size GREATER MAX_BYTES)
  message(FATAL_ERROR "${FILE} is ${size} bytes, above ${MAX_BYTES}")
endif()
execute_process(COMMAND "${OBJDUMP}" -p "${FILE}" OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objdump failed on ${FILE}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
set(windows_dlls kernel32.dll user32.dll gdi32.dll advapi32.dll comctl32.dll msvcrt.dll)
separate_arguments(extra_dlls UNIX_COMMAND "${EXTRA_DLLS}")
list(APPEND windows_dlls ${extra_dlls})
foreach(line IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST windows_dlls)
    message(FATAL_ERROR "${FILE} imports ${dll}, which Windows does not ship")
  endif()
endforeach()
# The per-monitor DPI calls are looked up at run time; imported, they would
# keep the program from starting on Windows before 10.
if(PROGRAM AND headers MATCHES "[ \t]([A-Za-z]+ForDpi|GetDpiForWindow|[A-Za-z]*DpiAwarenessContext)\n")
  message(FATAL_ERROR "${FILE} imports ${CMAKE_MATCH_1}, which older Windows lacks")
endif()
message(STATUS "${FILE}: ${size} bytes, imports ${imports}")
