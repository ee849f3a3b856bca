# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# kiv_install_pkgconfig(TEMPLATE): installs the pkg-config file made from TEMPLATE (NAME.pc.in)
# into the library directory.
#
# A packager installs with DESTDIR and keeps the configured prefix; someone trying a build out
# runs `cmake --install --prefix DIR`, which moves every file to DIR. The file must name where
# the headers and libraries really are in both cases, so its prefix is filled in when it is
# installed, from the prefix of that installation, and stays an absolute path that pkg-config
# can recognise as a system directory.
function(kiv_install_pkgconfig template)
  cmake_path(GET template STEM name)
  foreach(kind LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
      set(KIV_PC_${kind} "${CMAKE_INSTALL_${kind}}")
    else()
      set(KIV_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
    endif()
  endforeach()
  # Everything but the prefix is known now; the prefix placeholder survives this first pass.
  set(KIV_PC_PREFIX "@CMAKE_INSTALL_PREFIX@")
  set(partial ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc.partial)
  set(installed ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig-install/${name}.pc)
  configure_file(${template} ${partial} @ONLY)
  # Runs in the install script, where CMAKE_INSTALL_PREFIX is the prefix being installed to.
  install(CODE "configure_file(\"${partial}\" \"${installed}\" @ONLY)")
  install(FILES ${installed} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
