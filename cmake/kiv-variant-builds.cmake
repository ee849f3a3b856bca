# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# Two more builds of the library and the driver beside this one, each with one build-time choice
# that this build leaves empty:
# - signed/ (target kiv-signed-build) takes the configuration only with a signature checked
#   against KIV_SIGNED_KEYRING;
# - pinned/ (target kiv-pinned-build) trusts only the authorities of KIV_PINNED_AUTHORITIES for
#   the configuration server.
# Nothing on the machine holds that keyring or that file: the tests, scripts/run --signed and
# --pinned, and the benchmarks put them there in a private namespace, made for the run. Both
# targets are built with everything else, or alone by name.
include(ExternalProject)
set(KIV_SIGNED_KEYRING /usr/share/keyrings/kiv-config-test.gpg)
set(KIV_PINNED_AUTHORITIES /etc/ssl/kiv-config-test-ca.pem)

# kiv_add_variant_build(NAME FOLDER CMAKE_CACHE_ARG...): the library and the driver, made in
# FOLDER beside this build with the same compiler and flags, and the options given.
function(kiv_add_variant_build name folder)
  ExternalProject_Add(${name}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${PROJECT_BINARY_DIR}/${folder}
    CMAKE_CACHE_ARGS
      -DCMAKE_BUILD_TYPE:STRING=${CMAKE_BUILD_TYPE}
      -DCMAKE_C_COMPILER:FILEPATH=${CMAKE_C_COMPILER}
      -DCMAKE_CXX_COMPILER:FILEPATH=${CMAKE_CXX_COMPILER}
      -DCMAKE_C_FLAGS:STRING=${CMAKE_C_FLAGS}
      -DCMAKE_CXX_FLAGS:STRING=${CMAKE_CXX_FLAGS}
      -DKIV_WERROR:BOOL=${KIV_WERROR}
      -DKIV_SANITIZE:BOOL=${KIV_SANITIZE}
      -DKIV_CONFIG_HOST:STRING=${KIV_CONFIG_HOST}
      -DKIV_SOUP:STRING=${KIV_SOUP}
      -DKIV_BUILD_TESTS:BOOL=OFF
      -DKIV_BUILD_VARIANTS:BOOL=OFF
      -DKIV_BUILD_UI:BOOL=OFF
      -DKIV_BUILD_BENCH:BOOL=OFF
      -DKIV_BUILD_GIR:BOOL=OFF
      -DKIV_BUILD_DOCS:BOOL=OFF
      ${ARGN}
    INSTALL_COMMAND ""
    # Its sources are this project's: the build step runs every time and finds what changed.
    BUILD_ALWAYS ON)
endfunction()

kiv_add_variant_build(kiv-signed-build signed -DKIV_CONFIG_KEYRING:STRING=${KIV_SIGNED_KEYRING})
kiv_add_variant_build(kiv-pinned-build pinned
  -DKIV_CONFIG_CA_FILE:STRING=${KIV_PINNED_AUTHORITIES})
