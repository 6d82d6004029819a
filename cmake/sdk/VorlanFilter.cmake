# vorlan_add_filter(<name> SOURCES <file>... [LIBS <lib>...] [GUI])
#
# Builds the plug-in <name>.so (no "lib" prefix) into <build>/filters the way
# Vorlan's own plug-ins are built: C++20, position-independent, hidden
# visibility, linked against the filter framework, and exporting exactly the
# entry points of the filter contract (the export map), with undefined
# symbols refused at link time. GUI adds the framework's Qt Widgets helpers
# (vorlan/gui/gui_support.h) and turns on AUTOMOC and AUTOUIC for dialogs.
#
# Run the result with `vorlan --filters <build>/filters`, or copy it into
# ~/.local/share/vorlan/filters.

set(VORLAN_FILTER_EXPORTS_MAP "${CMAKE_CURRENT_LIST_DIR}/filter_exports.map")

function(vorlan_add_filter name)
  cmake_parse_arguments(ARG "GUI" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "vorlan_add_filter(${name}): SOURCES names no file")
  endif()
  add_library(${name} MODULE ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    CXX_STANDARD 20
    CXX_STANDARD_REQUIRED ON
    CXX_EXTENSIONS OFF
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/filters)
  target_link_libraries(${name} PRIVATE Vorlan::framework ${ARG_LIBS})
  if(ARG_GUI)
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTOUIC ON)
    target_link_libraries(${name} PRIVATE Vorlan::framework_gui)
  endif()
  target_link_options(${name} PRIVATE
    "-Wl,--version-script=${VORLAN_FILTER_EXPORTS_MAP}" -Wl,--no-undefined)
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS "${VORLAN_FILTER_EXPORTS_MAP}")
endfunction()
