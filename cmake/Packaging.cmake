# Debian packages with CPack (scripts/package.sh):
#   vorlan_<version>_amd64.deb      the program, its plug-ins, the manual and
#                                   whatever else installs into "runtime"
#   vorlan-dev_<version>_amd64.deb  the plug-in SDK ("dev")
# Depends are computed by dpkg-shlibdeps from the installed binaries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlan)
set(CPACK_PACKAGE_VENDOR "The Vorlan developers")
set(CPACK_PACKAGE_CONTACT "Vorlan developers <vorlan@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Filter-graph editor and runner with a fractal image-compression workbench")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The plug-ins live in a private folder; dpkg-shlibdeps must not look for
# their (non-existent) shlibs entries.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME vorlan)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION graphics)
# The editor's windows need Qt's platform plug-ins and the picture filters
# Qt's TIFF and WebP readers, which no binary links;
# the node captions want a face metric-compatible with Arial.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-image-formats-plugins")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "fonts-liberation")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "Filter-graph editor and runner (vorlan) with the fractal image-compression plug-ins.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME vorlan-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "vorlan (= ${PROJECT_VERSION}), qt6-base-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "Headers, framework libraries, CMake package and pkg-config files to build Vorlan filter plug-ins.")
include(CPack)
