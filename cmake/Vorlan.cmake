# Helpers for the folders of the project.

# vorlan_add_filter_library(<name> SOURCES ... [LIBS ...])
# A plug-in: filters/<name>.so in the build tree, exporting only the entry
# points of the contract.
function(vorlan_add_filter_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${VORLAN_FILTER_OUTPUT_DIR}
    AUTOMOC ON
    AUTOUIC ON)
  target_link_libraries(${name} PRIVATE vorlan_framework ${ARG_LIBS})
  target_link_options(${name} PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/filter_exports.map)
  # Clang's sanitizer runtimes live in the program, not in the plug-in.
  if(NOT VORLAN_SANITIZE AND NOT VORLAN_BUILD_FUZZERS)
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/filter_exports.map)
  install(TARGETS ${name} LIBRARY DESTINATION ${VORLAN_INSTALL_DIR}/filters)
endfunction()

# vorlan_add_test(<name> SOURCES ... [LIBS ...] [LABELS ...])
# A GoogleTest program whose cases CTest lists at test time.
function(vorlan_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE vorlan_test_support ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    PROPERTIES LABELS "${ARG_LABELS}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# vorlan_add_gui_test(<name> SOURCES ... [LIBS ...])
# A GoogleTest program with a QApplication on the offscreen platform, for
# dialogs and windows.
function(vorlan_add_gui_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/gui_test_main.cpp)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests AUTOMOC ON AUTOUIC ON)
  target_link_libraries(${name} PRIVATE vorlan_test_support ${ARG_LIBS} Qt6::Widgets GTest::gtest)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    PROPERTIES LABELS gui ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
