# vantrel_add_test(NAME <name> TARGET <target> [ARGS ...] [WINDOW])
# Registers a test binary with CTest: natively it runs directly, in the Windows presets it
# runs under Wine through scripts/wine-run.sh (throwaway WINEPREFIX inside build/, Xvfb).
# Wine tests share one prefix (registry, AppData), so they hold a common resource lock.
# VANTREL_WAIT_SCALE lengthens each test's time limit, and the waits inside the tests for
# windows and processes, for a build whose programs run slower than natively (32-bit
# programs by emulation; scripts/test.sh sets it from scripts/wine-env.sh).
set(VANTREL_WAIT_SCALE 1 CACHE STRING "How many times longer tests may wait (1 natively)")
if(NOT VANTREL_WAIT_SCALE MATCHES "^[1-9][0-9]?$")
  message(FATAL_ERROR "VANTREL_WAIT_SCALE must be a whole number from 1 to 99, not \"${VANTREL_WAIT_SCALE}\"")
endif()
function(vantrel_add_test)
  cmake_parse_arguments(T "WINDOW" "NAME;TARGET;TIMEOUT" "ARGS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  # GoogleTest binaries leave an XML report per test, summed up by scripts/test.sh.
  set(_xml "${CMAKE_BINARY_DIR}/test-results/${T_NAME}.xml")
  if(VANTREL_WINDOWS)
    set(_xml "Z:${_xml}")  # the Unix root is drive Z: in Wine
  endif()
  if(VANTREL_WINDOWS)
    add_test(NAME ${T_NAME}
      COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:${T_TARGET}> ${T_ARGS}
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(${T_NAME} PROPERTIES
      RESOURCE_LOCK wineprefix
      ENVIRONMENT "VANTREL_WINEPREFIX=${CMAKE_BINARY_DIR}/../wineprefix;VANTREL_DIST=${VANTREL_DIST_DIR};GTEST_OUTPUT=xml:${_xml};VANTREL_WAIT_SCALE=${VANTREL_WAIT_SCALE}")
  else()
    add_test(NAME ${T_NAME} COMMAND $<TARGET_FILE:${T_TARGET}> ${T_ARGS}
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "GTEST_OUTPUT=xml:${_xml}")
  endif()
  math(EXPR T_TIMEOUT "${T_TIMEOUT} * ${VANTREL_WAIT_SCALE}")
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()
