# The Debian package: cpack -G DEB in a build configured with the prefix /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vrax-bin-writer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR VRAX)
set(CPACK_PACKAGE_CONTACT "VRAX 2K-Bin Writer developers <vrax-bin-writer@vrax.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "program the configuration image of VRAX mouse controllers")
set(CPACK_PACKAGE_DESCRIPTION
    "A production-line tool for optical mice: it writes a 2048-byte BIN image
into the mouse controller's configuration memory through the mouse's own USB
HID interface, optionally stamps a factory record, checks the result and
shows the verdict. It also verifies a mouse against an image, reads a mouse
back into a file and reads the factory record.

The package holds the station window (vrax-bin-writer), the same window on a
virtual bench of simulated mice (vrax-bin-writer-bench), the command-line
program (vrax-bin-writer-cli) and the udev rule that lets the user at the
seat open VRAX mice.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps; the platform plugins are loaded at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/postinst ${CMAKE_CURRENT_LIST_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Debian wants the copyright and a compressed changelog under /usr/share/doc/<package>.
set(doc_dir share/doc/vrax-bin-writer)
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
                   COMMAND gzip -n -9 -c ${CMAKE_CURRENT_LIST_DIR}/changelog > ${changelog}
                   DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${changelog})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${changelog} DESTINATION ${doc_dir})
include(CPack)
