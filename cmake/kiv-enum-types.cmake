# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# kiv_enum_types(TARGET HEADER): registers the enumerations that the public HEADER declares as
# GTypes, in a C source that glib-mkenums makes from it and TARGET compiles. The header declares
# each NAME_get_type () itself, so the values are written once, in the header.
find_program(GLIB_MKENUMS glib-mkenums REQUIRED)
function(kiv_enum_types target header)
  cmake_path(GET header STEM name)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${name}-enum-types.c)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${GLIB_MKENUMS} --template ${PROJECT_SOURCE_DIR}/cmake/kiv-enum-types.c.template
            --output ${output} ${header}
    DEPENDS ${header} ${PROJECT_SOURCE_DIR}/cmake/kiv-enum-types.c.template
    VERBATIM)
  target_sources(${target} PRIVATE ${output})
endfunction()
