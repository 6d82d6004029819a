# The plug-in SDK that `cmake --install` installs (component "dev"): the
# contract headers, the framework libraries, a CMake package with
# vorlan_add_filter() and pkg-config files.
include(CMakePackageConfigHelpers)

set(VORLAN_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Vorlan)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/framework/include/vorlan ${PROJECT_SOURCE_DIR}/framework/gui/include/vorlan
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev FILES_MATCHING PATTERN "*.h")
set_target_properties(vorlan_framework PROPERTIES EXPORT_NAME framework)
set_target_properties(vorlan_framework_gui PROPERTIES EXPORT_NAME framework_gui)
install(TARGETS vorlan_framework vorlan_framework_gui EXPORT VorlanTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT VorlanTargets NAMESPACE Vorlan:: DESTINATION ${VORLAN_CMAKE_INSTALL_DIR} COMPONENT dev)

set(VORLAN_SDK_DATA_DIR ${CMAKE_INSTALL_DATADIR}/vorlan)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/sdk/VorlanConfig.cmake.in
  ${PROJECT_BINARY_DIR}/sdk/VorlanConfig.cmake INSTALL_DESTINATION ${VORLAN_CMAKE_INSTALL_DIR}
  PATH_VARS VORLAN_SDK_DATA_DIR CMAKE_INSTALL_BINDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/sdk/VorlanConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/sdk/VorlanConfig.cmake
    ${PROJECT_BINARY_DIR}/sdk/VorlanConfigVersion.cmake
    ${PROJECT_SOURCE_DIR}/cmake/sdk/VorlanFilter.cmake
    ${PROJECT_SOURCE_DIR}/cmake/filter_exports.map
  DESTINATION ${VORLAN_CMAKE_INSTALL_DIR} COMPONENT dev)

# pkg-config files find the prefix from their own folder, so the SDK can be
# installed anywhere (a package, or a scratch prefix in CI).
file(RELATIVE_PATH VORLAN_PC_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" VORLAN_PC_PREFIX "${VORLAN_PC_PREFIX}")
foreach(pc vorlan-filter vorlan-filter-gui)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/sdk/${pc}.pc.in ${PROJECT_BINARY_DIR}/sdk/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/sdk/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endforeach()

# The example plug-in, to copy and start from.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/plugin-template DESTINATION ${CMAKE_INSTALL_DATADIR}/vorlan
  COMPONENT dev PATTERN "build" EXCLUDE PATTERN "*.py" PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Its graph script writes graph files through this module, which it finds in
# the folder above the template.
install(FILES ${PROJECT_SOURCE_DIR}/examples/gph.py DESTINATION ${CMAKE_INSTALL_DATADIR}/vorlan COMPONENT dev)
# How to choose a filter id that no other author's plug-in takes.
install(FILES ${PROJECT_SOURCE_DIR}/docs/filter-ids.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vorlan-dev
  COMPONENT dev)
