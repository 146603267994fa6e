# Generator tools: programs of ours that the build runs to make files (Main.icl, the
# program's icon, the menu pictures). Natively they run directly; in the Windows presets
# they run under Wine through scripts/wine-run.sh. They write the same bytes in every
# preset.
#
# A kernel without IA32 emulation runs no 32-bit program, so there the win32 preset cannot
# run its own tools. VANTREL_GENERATORS_FROM then names a win64 build folder: the win32
# build runs that build's tools, made from the same sources, under the 64-bit loader, and
# builds its own only to compile them. scripts/test.sh sets it there (it builds win64
# first); a win32 configure that needs it and lacks it stops with the reason.
set(VANTREL_GENERATORS_FROM "" CACHE PATH
  "A win64 build folder whose generator tools make the files of this win32 build (for machines that cannot run 32-bit programs)")

set(_vantrel_win32 OFF)
if(VANTREL_WINDOWS AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_vantrel_win32 ON)
endif()

if(VANTREL_GENERATORS_FROM)
  if(NOT _vantrel_win32)
    message(FATAL_ERROR "VANTREL_GENERATORS_FROM is for the win32 preset only (this build runs its own generator tools); leave it empty")
  endif()
  if(NOT IS_DIRECTORY "${VANTREL_GENERATORS_FROM}")
    message(FATAL_ERROR "VANTREL_GENERATORS_FROM: ${VANTREL_GENERATORS_FROM} is no folder: name the win64 build folder (build/win64) after building the win64 preset")
  endif()
elseif(_vantrel_win32)
  execute_process(
    COMMAND bash -c ". \"$0\" >/dev/null 2>&1 && echo \"$VANTREL_RUNS_32BIT\"" ${CMAKE_SOURCE_DIR}/scripts/wine-env.sh
    OUTPUT_VARIABLE _vantrel_runs_32bit OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(_vantrel_runs_32bit STREQUAL "0")
    message(FATAL_ERROR
      "This machine cannot run 32-bit programs (its kernel has no IA32 emulation), so the win32 "
      "build cannot run its own generator tools under Wine. Build the win64 preset first and "
      "configure with -DVANTREL_GENERATORS_FROM=${CMAKE_SOURCE_DIR}/build/win64 to run that "
      "build's tools instead (scripts/test.sh does so).")
  endif()
endif()

# vantrel_generator_command(<var> <target>)
# Sets <var> to the command line (without arguments) that runs the generator tool <target>
# of the current folder, and <var>_DEPENDS to what a custom command running it depends on.
function(vantrel_generator_command var target)
  if(NOT VANTREL_WINDOWS)
    set(_command $<TARGET_FILE:${target}>)
    set(_depends ${target})
  elseif(VANTREL_GENERATORS_FROM)
    # The same target of the win64 build: same folder below the build folder, same name.
    file(RELATIVE_PATH _folder ${CMAKE_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR})
    set(_tool ${VANTREL_GENERATORS_FROM}/${_folder}/${target}${CMAKE_EXECUTABLE_SUFFIX})
    if(NOT EXISTS ${_tool})
      message(FATAL_ERROR "VANTREL_GENERATORS_FROM: ${_tool} is missing: build the win64 preset first")
    endif()
    # A 64-bit Windows program: "PE\0\0" at the offset the DOS header names, then machine
    # 0x8664 (stored little-endian).
    file(READ ${_tool} _pe_at OFFSET 60 LIMIT 4 HEX)
    string(REGEX REPLACE "^(..)(..)(..)(..)$" "\\4\\3\\2\\1" _pe_at "${_pe_at}")
    math(EXPR _pe_at "0x${_pe_at}")
    file(READ ${_tool} _pe OFFSET ${_pe_at} LIMIT 6 HEX)
    if(NOT _pe STREQUAL "504500006486")
      message(FATAL_ERROR "VANTREL_GENERATORS_FROM: ${_tool} is not a 64-bit Windows program: name the win64 build folder")
    endif()
    set(_command ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${_tool})
    set(_depends ${_tool})
  else()
    set(_command ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:${target}>)
    set(_depends ${target})
  endif()
  set(${var} ${_command} PARENT_SCOPE)
  set(${var}_DEPENDS ${_depends} PARENT_SCOPE)
endfunction()
