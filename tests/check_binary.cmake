cmake_minimum_required(VERSION 3.25)
# Checks a Windows binary of the build: built for its processor, below a
# size limit and importing only Windows' own DLLs, so that it runs as one
# file on any Windows.
# Usage: cmake -DFILE=... -DMACHINE=i386|x86-64 -DMANIFEST_ARCH=x86|amd64 -DPYTHON=...
#              [-DMAX_BYTES=...] [-DEXTRA_DLLS="a.dll b.dll"] [-DEXPORTS="a b"]
#              [-DPROGRAM=ON -DVERSION=...] -P check_binary.cmake
# EXTRA_DLLS: further Windows DLLs that a test may import. EXPORTS: names
# that a library must export exactly so. PROGRAM: also no import of
# comctl32 nor of the calls that only Windows 10 has, the mark of a program
# aware of terminal services, and a manifest of this processor and VERSION.
file(SIZE "${FILE}" size)
if(MAX_BYTES AND size GREATER MAX_BYTES)
  message(FATAL_ERROR "${FILE} is ${size} bytes, above ${MAX_BYTES}")
endif()
# The headers, imports and exports as tests/pe_info.py reads them from the
# file, one fact a line.
execute_process(COMMAND "${PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/pe_info.py" "${FILE}"
                OUTPUT_VARIABLE facts ERROR_VARIABLE error RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${error}")
endif()
if(NOT facts MATCHES "(^|\n)machine ${MACHINE}\n")
  string(REGEX MATCH "machine [^\n]*" format "${facts}")
  message(FATAL_ERROR "${FILE} is not a ${MACHINE} program: ${format}")
endif()
string(REGEX MATCHALL "(^|\n)import [^\n]+" imports "${facts}")
set(windows_dlls kernel32.dll user32.dll gdi32.dll advapi32.dll comctl32.dll msvcrt.dll)
separate_arguments(extra_dlls UNIX_COMMAND "${EXTRA_DLLS}")
list(APPEND windows_dlls ${extra_dlls})
set(dlls "")
foreach(line IN LISTS imports)
  string(REGEX REPLACE "^\n?import ([^ ]+) ?(.*)$" "\\1;\\2" import "${line}")
  list(GET import 0 dll)
  list(GET import 1 function)
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST windows_dlls)
    message(FATAL_ERROR "${FILE} imports ${dll}, which Windows does not ship")
  endif()
  list(APPEND dlls ${dll})
  # The per-monitor DPI calls are looked up at run time; imported, they would
  # keep the program from starting on Windows before 10.
  if(PROGRAM AND function MATCHES "^([A-Za-z]+ForDpi|GetDpiFor[A-Za-z]+|[A-Za-z]*DpiAwarenessContext)$")
    message(FATAL_ERROR "${FILE} imports ${function}, which older Windows lacks")
  endif()
endforeach()
list(REMOVE_DUPLICATES dlls)
# The program loads the common controls itself once it has limited the
# library search: imported, they would start the window system before that.
if(PROGRAM AND "comctl32.dll" IN_LIST dlls)
  message(FATAL_ERROR "${FILE} imports comctl32.dll, which starts before the program limits the library search")
endif()
separate_arguments(exports UNIX_COMMAND "${EXPORTS}")
foreach(name IN LISTS exports)
  if(NOT facts MATCHES "\nexport ${name}\n")
    message(FATAL_ERROR "${FILE} does not export ${name} under that name")
  endif()
endforeach()
# Aware of remote-desktop session hosts, which would otherwise give the
# program a private Windows folder that the user can write.
if(PROGRAM AND NOT facts MATCHES "\nterminal-service-aware yes\n")
  message(FATAL_ERROR "${FILE} is not marked as aware of terminal services")
endif()
# The manifest: its identity carries the program's version, and it and its
# common-controls dependency the processor's name.
if(PROGRAM)
  file(STRINGS "${FILE}" identities REGEX "processorArchitecture=")
  list(LENGTH identities count)
  if(NOT count EQUAL 2)
    message(FATAL_ERROR "${FILE} has no manifest of the program and its common controls")
  endif()
  foreach(identity IN LISTS identities)
    if(NOT identity MATCHES "processorArchitecture=\"${MANIFEST_ARCH}\"")
      message(FATAL_ERROR "${FILE}'s manifest names another processor: ${identity}")
    endif()
  endforeach()
  list(GET identities 0 own)
  if(NOT own MATCHES "name=\"Zelmoor.Fenwarel\" version=\"${VERSION}\"")
    message(FATAL_ERROR "${FILE}'s manifest is not of version ${VERSION}: ${own}")
  endif()
endif()
message(STATUS "${FILE}: ${size} bytes, imports ${dlls}")
