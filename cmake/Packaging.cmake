# Debian packages with CPack (scripts/package.sh builds them from the
# "package" preset, prefix /usr):
#   vorlan_<version>_amd64.deb          the program, its plug-ins, the manual
#                                       and whatever else installs into "runtime"
#   vorlan-dev_<version>_amd64.deb      the plug-in SDK ("dev")
#   vorlan-dbgsym_<version>_amd64.ddeb  the debug information split off the
#                                       program and the plug-ins, found by build id
# Depends are computed by dpkg-shlibdeps from the installed binaries. The
# copyright and changelog come from packaging/debian.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlan)
set(CPACK_PACKAGE_VENDOR "The Vorlan developers")
# A list address of the project; the packages have no single maintainer.
set(CPACK_PACKAGE_CONTACT "Vorlan developers <vorlan-dev@lists.vorlan.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# No CPACK_PACKAGE_DESCRIPTION_SUMMARY: each package's synopsis is the first
# line of its own description below.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The plug-ins live in a private folder; dpkg-shlibdeps must not look for
# their (non-existent) shlibs entries.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# Installed folders are 0755 whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The binaries are installed with their debug information; CPack moves it
# into the -dbgsym package (named by build id) and strips them.
set(CPACK_STRIP_FILES OFF)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME vorlan)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION graphics)
# The editor's windows need Qt's platform plug-ins and the picture filters
# Qt's TIFF and WebP readers, which no binary links; the examples' scripts
# and the demo run on Python, vorlan-sweep on Python with numpy, SciPy,
# Pillow, matplotlib and tqdm. JPEG's tools give the demo its comparison, the
# rival codecs' tools vorlan-sweep its rivals, Dask its clusters; the node
# captions want a face metric-compatible with Arial. On GNOME and other GTK
# desktops Qt takes the desktop's palette (a dark theme too) only through
# its GTK platform theme. The Python module vorlan is built for one Python
# version.
set(vorlan_python_depends "python3")
if(VORLAN_PYTHON_ABI)
  string(REPLACE "." ";" abi "${VORLAN_PYTHON_ABI}")
  list(GET abi 0 abi_major)
  list(GET abi 1 abi_minor)
  math(EXPR abi_next "${abi_minor} + 1")
  set(vorlan_python_depends "python3 (>= ${abi_major}.${abi_minor}~), python3 (<< ${abi_major}.${abi_next})")
endif()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS
  "qt6-qpa-plugins, qt6-image-formats-plugins, ${vorlan_python_depends}, python3-numpy, python3-scipy, python3-pil, python3-matplotlib, python3-tqdm")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "fonts-liberation, libjpeg-turbo-progs, qt6-gtk-platformtheme")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS
  "vorlan-dev, python3-distributed, libopenjp2-tools, webp, libavif-bin, libjxl-tools")
set(CPACK_DEBIAN_RUNTIME_DEBUGINFO_PACKAGE ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "Filter-graph editor and runner with a fractal image-compression workbench
Vorlan assembles filter graphs from plug-ins, runs them with progress and
measures the result. Its twenty-two filters read and write BMP, PNG, JPEG,
TIFF and WebP pictures, convert colour spaces, code grey planes with
horizontal-vertical (HV) fractal coding, entropy-code and pack the code, and
measure PSNR. The same program runs saved graphs without a display.
.
This package holds the editor, the headless runner, the plug-ins, example
graphs, the demo vorlan-demo, vorlan-sweep (which compares coders over sets
of pictures, keeps the results in SQLite and reports BD-rate, on this
machine or a Dask cluster), the Python module vorlan (encode and decode
numpy arrays, run graphs) and the manual in HTML and PDF.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME vorlan-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION devel)
# The template's graph script runs on Python.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "vorlan (= ${PROJECT_VERSION}), qt6-base-dev, python3")
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "Plug-in SDK of the Vorlan filter-graph editor
Headers of the filter contract, the framework libraries, a CMake package
(find_package(Vorlan), vorlan_add_filter()) and pkg-config files to build
Vorlan filter plug-ins, with a small example plug-in to start from and the
rules for choosing filter ids.")
include(CPack)
