# Installation (cmake --install) and the Debian package (cmake --build build
# --target package: build/kestrel_<version>_amd64.deb), laid out as an
# installed program expects:
#
#   /usr/bin/kestrel                the launcher (packaging/kestrel-launcher.sh): makes
#                                   the user's working folder and runs the program there
#   /usr/bin/kestrel-cli, kestrel-ecusim
#   /usr/lib/kestrel/kestrel        the program itself, and VORTA.so, the vehicle module
#   /usr/share/kestrel/ECU, pic, scenarios   the shipped catalogue, pictures and
#                                   the simulator's scenarios; shipped_copy.sh
#   /usr/share/applications/kestrel.desktop, /usr/share/icons/hicolor/NxN/apps/kestrel.png
#
# Nothing is ever written under /usr: the launcher copies what the program
# changes into $XDG_DATA_HOME/kestrel (see the launcher).
set(KESTREL_PRIVATE_DIR lib/kestrel)
set(KESTREL_SHARE_DIR share/kestrel)

install(TARGETS kestrel-cli kestrel-ecusim RUNTIME DESTINATION bin)
install(TARGETS kestrel RUNTIME DESTINATION ${KESTREL_PRIVATE_DIR})
install(TARGETS VORTA LIBRARY DESTINATION ${KESTREL_PRIVATE_DIR})
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/kestrel-launcher.sh DESTINATION bin RENAME kestrel)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/shipped_copy.sh DESTINATION ${KESTREL_SHARE_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ECU DESTINATION ${KESTREL_SHARE_DIR})
install(DIRECTORY ${KESTREL_RUNTIME_DIR}/pic/ DESTINATION ${KESTREL_SHARE_DIR}/pic
        FILES_MATCHING PATTERN "*.bmp")
install(DIRECTORY ${CMAKE_SOURCE_DIR}/ecusim/scenarios/ DESTINATION ${KESTREL_SHARE_DIR}/scenarios
        FILES_MATCHING PATTERN "*.scn")
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kestrel.desktop DESTINATION share/applications)
install(DIRECTORY ${KESTREL_ICON_DIR}/hicolor DESTINATION share/icons
        FILES_MATCHING PATTERN "kestrel.png")
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/kestrel)

# The installed layout started as a user starts it (also as the user nobody
# when run as root). Not under the sanitizers: it is about the layout.
if(KESTREL_TESTS AND NOT KESTREL_SANITIZE)
  add_test(NAME installed_layout
           COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/tests/installed_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(installed_layout PROPERTIES LABELS e2e RUN_SERIAL TRUE TIMEOUT 300)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Kestrel maintainers <maintainers@kestrel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "K-Line diagnostic tester for engine and gearbox ECUs")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kestrel reads live data, trouble codes, freeze frames and ECU information\n"
    "from the engine and transmission control units of Japanese-market cars\n"
    "through a plain serial K-Line adapter (ISO 14230 fast or 5-baud\n"
    "initialisation, ISO 9141). Its interface is in Russian. The package also\n"
    "holds kestrel-cli, the same tester on the command line with an adapter\n"
    "check (kestrel-cli doctor), and kestrel-ecusim, a simulated ECU.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # kestrel_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link against (dpkg-shlibdeps), and what they
# load at run time: Qt's platform plugins, a font with Cyrillic letters.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-dejavu-core")
# Qt's own dialog buttons in Russian; the dashboard's display face.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-league-spartan")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES ON)
include(CPack)
