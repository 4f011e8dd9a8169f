# GoogleTest from the distribution's source package, built with the same
# toolchain as the code under test; nothing is downloaded.
set(FENWAREL_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources")
if(NOT EXISTS "${FENWAREL_GTEST_SOURCE}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest sources not found in ${FENWAREL_GTEST_SOURCE}; install the googletest package")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory("${FENWAREL_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)
# GoogleTest itself is not under test: built without the sanitizers, it
# compiles in a fraction of the time, and the tests' own code keeps them.
if(FENWAREL_SANITIZE)
  set_property(TARGET gtest gtest_main gmock gmock_main PROPERTY COMPILE_OPTIONS "")
endif()

# Registers a GoogleTest executable with CTest. Natively every case is its own
# CTest test; under Wine a whole executable is one test, since each Wine
# process start costs far more than the cases themselves.
function(fenwarel_add_gtest target)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target} --gtest_color=no)
    set_tests_properties(${target} PROPERTIES TIMEOUT 600)
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120)
  endif()
endfunction()
