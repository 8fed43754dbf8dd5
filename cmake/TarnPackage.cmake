# `make package`: a Debian package of everything `cmake --install` puts in
# place, under /usr, named tarn_VERSION_ARCH.deb. Its dependencies are those of
# the libraries the programs and plug-ins link (dpkg-shlibdeps), and the cairo
# device PLplot loads at run time for the Histogrammer's plots.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarn)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Analysis plug-ins for MIDAS data and the tarn runner")
set(CPACK_PACKAGE_CONTACT "tarn developers <tarn@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package's own libraries, which dpkg-shlibdeps finds through the RPATH.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "plplot-driver-cairo")
# What the Python package needs where it is built (python/CMakeLists.txt).
if(TARN_PYTHON_PACKAGE_DEPENDS)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${TARN_PYTHON_PACKAGE_DEPENDS}")
endif()
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
set(CPACK_STRIP_FILES ON)
include(CPack)
