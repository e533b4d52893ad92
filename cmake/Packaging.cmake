# Install layout and the Debian package. The installed tree is deliberately
# small: the program, its menu entry, its icon and the README. The core
# library, tests and benchmarks have no install rules; the install-tree test
# below fails if one ever gains some.

if(NOT UNIX OR APPLE)
    return()
endif()

include(GNUInstallDirs)

set(SOCKWISE_PACKAGING_DIR "${PROJECT_SOURCE_DIR}/packaging")
# Spelled out: GNUInstallDirs would derive the doc folder from the project
# name, which is capitalised, while the package is lower case.
set(SOCKWISE_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/sockwise")

install(TARGETS sockwise RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${SOCKWISE_PACKAGING_DIR}/sockwise.desktop"
        DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/applications")
install(FILES "${SOCKWISE_PACKAGING_DIR}/sockwise.png"
        DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/64x64/apps")
install(FILES "${PROJECT_SOURCE_DIR}/README.md"
        DESTINATION "${SOCKWISE_INSTALL_DOCDIR}")

# --- Debian package -------------------------------------------------------
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "sockwise")
set(CPACK_PACKAGE_VENDOR "Sockwise developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop tool for exercising WebSocket endpoints by hand")
set(CPACK_PACKAGE_DESCRIPTION
    "Sockwise connects to a WebSocket server as a client or listens as a server, \
sends text or binary frames by hand or on a timer, keeps a time-stamped log of \
every frame and connection event, and plots numbers found in received messages.")
set(CPACK_PACKAGE_CONTACT "Sockwise developers <sockwise@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME "sockwise")
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Depends comes from the libraries the binary links, as dpkg-shlibdeps reads
# them; the Qt plugins it loads at run time live in those same packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# Not linked, only read at run time: Qt's Chinese texts for the standard
# dialogs, and a colour emoji font for the glyphs in the header and banner.
# Without them the program still runs; dialogs keep Qt's English texts and
# emoji show as empty boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-noto-color-emoji")

set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/_[^/]*/")

include(CPack)

# --- Install-tree test ------------------------------------------------------
if(BUILD_TESTING)
    set(_sockwise_check "${PROJECT_SOURCE_DIR}/cmake/CheckInstallTree.cmake")
    set(_sockwise_check_args
        -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
        -DBUILD_DIR=${PROJECT_BINARY_DIR}
        -DBINDIR=${CMAKE_INSTALL_BINDIR}
        -DDATAROOTDIR=${CMAKE_INSTALL_DATAROOTDIR}
        -DDOCDIR=${SOCKWISE_INSTALL_DOCDIR})

    add_test(NAME install_tree
        COMMAND ${CMAKE_COMMAND} ${_sockwise_check_args}
                -DSTAGING=${PROJECT_BINARY_DIR}/install-check/good
                -P ${_sockwise_check})

    # The checker itself: a stray file in the staged tree must be named and
    # fail the check, or install_tree would pass whatever is installed.
    add_test(NAME install_tree_rejects_stray_file
        COMMAND ${CMAKE_COMMAND} ${_sockwise_check_args}
                -DSTAGING=${PROJECT_BINARY_DIR}/install-check/stray
                -DPLANT_STRAY=lib/libsockwise_core.a
                -P ${_sockwise_check})
    set_tests_properties(install_tree_rejects_stray_file PROPERTIES
        PASS_REGULAR_EXPRESSION "unexpected in the install tree: lib/libsockwise_core.a")

    # The menu entry against the freedesktop rules; skipped, not failed, on a
    # machine without desktop-file-utils.
    add_test(NAME desktop_entry_valid
        COMMAND /bin/sh -c "command -v desktop-file-validate >/dev/null || { echo 'desktop-file-validate not found (desktop-file-utils): skipped'; exit 77; }; desktop-file-validate \"$1\"" sh
                ${SOCKWISE_PACKAGING_DIR}/sockwise.desktop)
    set_tests_properties(desktop_entry_valid PROPERTIES SKIP_RETURN_CODE 77)

    # Both install from the same build directory and write its manifest.
    set_tests_properties(install_tree install_tree_rejects_stray_file PROPERTIES
        RESOURCE_LOCK sockwise_install TIMEOUT 120)
endif()
