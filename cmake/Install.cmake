# Installs the detector as a library other projects can use:
#   <prefix>/include/velmora/          the public headers only, flat, as Velmora.h includes them
#   <prefix>/<libdir>/libvelmora.a, or libvelmora.so.<major> with -DBUILD_SHARED_LIBS=ON
#   <prefix>/<libdir>/cmake/Velmora/   package files for find_package(Velmora)
#   <prefix>/<libdir>/pkgconfig/velmora.pc
# and the command-line programs that this build defines into <prefix>/bin.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The library target's INSTALL_INTERFACE names include/velmora, so the headers
# go exactly there whatever CMAKE_INSTALL_INCLUDEDIR says.
set(velmora_install_includedir include/velmora)
set(velmora_install_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/Velmora)
set(velmora_install_pkgconfigdir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Everything a consumer of the library needs is in the component "library":
#   cmake --install <build> --component library --prefix <prefix>
install(TARGETS velmora
  EXPORT VelmoraTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT library
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library)

# The public headers and the one record header they need; the detector's
# internals and the linear algebra stay private.
install(FILES
  ${PROJECT_SOURCE_DIR}/detector/public/Velmora.h
  ${PROJECT_SOURCE_DIR}/detector/public/VelmoraCodes.h
  ${PROJECT_SOURCE_DIR}/detector/public/VelmoraObservation.h
  ${PROJECT_SOURCE_DIR}/detector/public/VelmoraSettings.h
  ${PROJECT_SOURCE_DIR}/orientation/public/AttitudeState.h
  DESTINATION ${velmora_install_includedir}
  COMPONENT library)

install(EXPORT VelmoraTargets
  NAMESPACE Velmora::
  FILE VelmoraTargets.cmake
  DESTINATION ${velmora_install_cmakedir}
  COMPONENT library)

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/VelmoraConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VelmoraConfig.cmake
  INSTALL_DESTINATION ${velmora_install_cmakedir})
# Settings and result codes may change meaning across major versions.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/VelmoraConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/VelmoraConfig.cmake
  ${PROJECT_BINARY_DIR}/VelmoraConfigVersion.cmake
  DESTINATION ${velmora_install_cmakedir}
  COMPONENT library)

# The .pc file locates the prefix from its own directory, so that
# `cmake --install --prefix DIR` (which overrides the configured prefix) still
# yields a correct file.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(velmora_pc_prefix "${CMAKE_INSTALL_PREFIX}")
  set(velmora_pc_libdir "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH velmora_pc_up "/root/${velmora_install_pkgconfigdir}" "/root")
  string(REGEX REPLACE "/$" "" velmora_pc_up "${velmora_pc_up}")
  set(velmora_pc_prefix "\${pcfiledir}/${velmora_pc_up}")
  set(velmora_pc_libdir "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/velmora.pc.in ${PROJECT_BINARY_DIR}/velmora.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velmora.pc DESTINATION ${velmora_install_pkgconfigdir}
  COMPONENT library)

# The programs, when this build defines them.
foreach(program IN ITEMS Drovik velmora-trace velmora-eval velmora-import velmora-plot velmora-synth
                        velmora-tune velmora-live)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  endif()
endforeach()
