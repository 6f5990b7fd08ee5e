# The Debian package: cmake --build BUILD --target package. Programs in
# /usr/bin, shared files in /usr/share/grazulo, the kiosk's service unit in
# /lib/systemd/system, the maintainer scripts of tools/site. Its version is
# the project's version and the number of commits (0.1.70), found when the
# package is made (package-version.cmake), so that every newer build
# upgrades an older one; GRAZULO_PACKAGE_VERSION in the environment of cpack
# gives it another.
install(TARGETS grazulo dbftool grazulo-admin RUNTIME DESTINATION bin)
if(TARGET devsim)
  install(TARGETS devsim RUNTIME DESTINATION bin)
endif()
install(PROGRAMS ${CMAKE_SOURCE_DIR}/tools/site/grazulo-session DESTINATION bin)
install(FILES ${CMAKE_SOURCE_DIR}/assets/warning.bmp ${CMAKE_SOURCE_DIR}/assets/error.bmp
              ${CMAKE_SOURCE_DIR}/assets/question.bmp DESTINATION share/grazulo)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/tools/site/copyright
        DESTINATION share/doc/grazulo)
install(FILES ${CMAKE_SOURCE_DIR}/tools/site/grazulo-kiosk.service DESTINATION /lib/systemd/system)
# The mirror into the head office's database, every few minutes.
install(FILES ${CMAKE_SOURCE_DIR}/tools/site/grazulo-mirror.service ${CMAKE_SOURCE_DIR}/tools/site/grazulo-mirror.timer
        DESTINATION /lib/systemd/system)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME grazulo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Grazulo Weighing Systems <support@grazulo.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "weighing program of a truck scale site: kiosk and attended station")
# The synopsis is the summary above; this is the long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "An unattended kiosk on a touch screen weighs trucks in and out on a driver's
customer card, with a scale indicator, a card reader and a ticket printer on
serial ports; an attended station behind it weighs by hand, reprints tickets,
keeps the customer and product records and prints reports. Its tables are
xBase tables that other programs at the site also use. grazulo-session and
the unit grazulo-kiosk.service run the kiosk on the console at power-up.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the programs link (dpkg-shlibdeps finds them), and what they
# do not link: the Qt platform plugins, the fonts of the screens and reports,
# and adduser, with which the postinst makes the kiosk's user.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, qt6-qpa-plugins, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xserver-xorg-core, xserver-xorg-legacy, xserver-xorg-input-libinput, xserver-xorg-video-fbdev, cups-client")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/tools/site/postinst ${CMAKE_SOURCE_DIR}/tools/site/prerm ${CMAKE_SOURCE_DIR}/tools/site/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
# When the package is made: its version, and its changelog for that version.
set(CPACK_GRAZULO_SOURCE_DIR ${CMAKE_SOURCE_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/tools/site/package-version.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/tools/site/package-changelog.cmake)
# grazulo-admin mirror talks to the head office's database through libpq.
string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libpq5")
include(CPack)
