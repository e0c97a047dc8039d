# One Debian package with everything an install brings: the programs and
# their manual pages, the detector library (shared, with its SONAME, when
# configured with -DBUILD_SHARED_LIBS=ON as the package build does), its
# headers, CMake package and pkg-config file, the Python module, the
# settings profiles and the documentation. scripts/make-deb.sh configures
# and builds it:  cpack -G DEB  in a build made for the prefix /usr.
include(GNUInstallDirs)

set(velmora_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/velmora)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${velmora_docdir} COMPONENT docs)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${velmora_docdir} COMPONENT docs
        PATTERN man EXCLUDE)

set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "fall detector for a body-worn inertial sensor, with replay, evaluation and tuning tools")
set(CPACK_PACKAGE_DESCRIPTION
    "The Velmora fall detector answers every sample of a 50 Hz accelerometer and gyroscope\nwith 0 or a code naming the fall pattern it recognised. The package brings the\ndetector library (C++ headers, CMake package and pkg-config file), the programs\nDrovik, velmora-eval, velmora-tune, velmora-trace, velmora-plot, velmora-import,\nvelmora-synth and velmora-live with their manual pages, the Python module and the\ndocumentation.")
set(CPACK_PACKAGE_CONTACT "Velmora maintainers <velmora@localhost>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# Shared libraries the programs and the module link are found by
# dpkg-shlibdeps; the Python module's interpreter and numpy it cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, python3-numpy")
# dpkg-shlibdeps must find the package's own libvelmora in the staging tree.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_GENERATOR DEB)
include(CPack)
