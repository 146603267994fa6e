# The project's folders depend on each other in one direction only. Run at every build
# (cmake -DSOURCE_DIR=<top> -P CheckLayers.cmake): a source that includes a project header
# from a folder it may not use stops the build with the file, its line and the rule.
#
# Each rule: a folder, then the project folders its sources may include. A project header
# is one whose path begins with one of the project's top folders.
cmake_minimum_required(VERSION 3.25)
set(_rules
  "app/common:app/common,imaging"
  "app/registration:app/common,app/registration,imaging"
  "app/engine:app/common,app/registration,app/engine,imaging,markers"
  "imaging:imaging"
  "markers:imaging,markers"
  "registrator:registrator"
  "shellext:shellext"
)
# Folders whose code is portable: no Windows header at all.
set(_portable imaging)
set(_top_folders app bench cmake fuzz imaging markers registrator shellext tests tools)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "CheckLayers: SOURCE_DIR is not set")
endif()

set(_faults "")
set(_checked 0)
foreach(rule IN LISTS _rules)
  string(REPLACE ":" ";" _parts "${rule}")
  list(GET _parts 0 _folder)
  list(GET _parts 1 _allowed)
  set(_allowed_text "${_allowed}")
  string(REPLACE "," ";" _allowed "${_allowed}")
  file(GLOB_RECURSE _sources "${SOURCE_DIR}/${_folder}/*.h" "${SOURCE_DIR}/${_folder}/*.cpp")
  if(NOT _sources)
    list(APPEND _faults "${_folder}: no sources found (the rule names a folder that is gone)")
  endif()
  foreach(source IN LISTS _sources)
    file(STRINGS "${source}" _lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    file(RELATIVE_PATH _name "${SOURCE_DIR}" "${source}")
    foreach(line IN LISTS _lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]*)[>\"].*" "\\1" _header "${line}")
      math(EXPR _checked "${_checked} + 1")
      if(_folder IN_LIST _portable AND _header MATCHES "^(windows|winuser|wingdi|commctrl|shlobj|objbase)\\.h$")
        list(APPEND _faults "${_name}: includes <${_header}>, but ${_folder}/ is portable")
        continue()
      endif()
      string(REGEX MATCH "^[a-z]+" _top "${_header}")
      if(NOT _header MATCHES "/" OR NOT _top IN_LIST _top_folders)
        continue()  # the platform's, the compiler's or a dependency's header
      endif()
      set(_ok OFF)
      foreach(allowed IN LISTS _allowed)
        string(LENGTH "${allowed}/" _len)
        string(SUBSTRING "${_header}" 0 ${_len} _prefix)
        if(_prefix STREQUAL "${allowed}/")
          set(_ok ON)
        endif()
      endforeach()
      if(NOT _ok)
        list(APPEND _faults "${_name}: includes \"${_header}\"; ${_folder}/ may use only ${_allowed_text}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(_faults)
  string(REPLACE ";" "\n  " _text "${_faults}")
  message(FATAL_ERROR "Include rules broken:\n  ${_text}")
endif()
message(STATUS "Include rules hold (${_checked} includes checked)")
