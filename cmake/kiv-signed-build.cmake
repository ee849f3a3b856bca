# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# A second build of the library and the driver beside this one (signed/), which take the
# configuration only with a signature checked against KIV_SIGNED_KEYRING. Nothing on the machine
# holds that keyring: the signed road's tests, scripts/run --signed and the benchmarks put one
# there in a private namespace, with keys made for the run. Its target, kiv-signed-build, is built
# with everything else, or alone by name.
include(ExternalProject)
set(KIV_SIGNED_KEYRING /usr/share/keyrings/kiv-config-test.gpg)
ExternalProject_Add(kiv-signed-build
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${PROJECT_BINARY_DIR}/signed
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
    -DKIV_CONFIG_KEYRING:STRING=${KIV_SIGNED_KEYRING}
    -DKIV_BUILD_TESTS:BOOL=OFF
    -DKIV_BUILD_SIGNED:BOOL=OFF
    -DKIV_BUILD_UI:BOOL=OFF
    -DKIV_BUILD_BENCH:BOOL=OFF
    -DKIV_BUILD_GIR:BOOL=OFF
    -DKIV_BUILD_DOCS:BOOL=OFF
  INSTALL_COMMAND ""
  # Its sources are this project's: the build step runs every time and finds what changed.
  BUILD_ALWAYS ON)
