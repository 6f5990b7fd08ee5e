# The Debian package: cmake --build BUILD --target package (or
# bash tools/make-package.sh). Programs in /usr/bin, shared files in
# /usr/share/grazulo, the kiosk's service unit in /lib/systemd/system.
install(TARGETS grazulo dbftool grazulo-admin RUNTIME DESTINATION bin)
if(TARGET devsim)
  install(TARGETS devsim RUNTIME DESTINATION bin)
endif()
install(PROGRAMS ${CMAKE_SOURCE_DIR}/tools/site/grazulo-session DESTINATION bin)
install(FILES ${CMAKE_SOURCE_DIR}/assets/warning.bmp ${CMAKE_SOURCE_DIR}/assets/error.bmp
              ${CMAKE_SOURCE_DIR}/assets/question.bmp DESTINATION share/grazulo)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/grazulo)
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
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6serialport6 (>= 6.4), libqt6printsupport6 (>= 6.4), qt6-qpa-plugins, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xserver-xorg-core, xserver-xorg-legacy, xserver-xorg-input-libinput, xserver-xorg-video-fbdev, cups-client")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/tools/site/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# grazulo-admin mirror talks to the head office's database through libpq.
string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libpq5")
include(CPack)
