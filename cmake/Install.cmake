# Installation and the Debian package.
#
#   cmake --install build --prefix /usr/local     # programs, desktop entries, icons, guide
#   (cd build && cpack)                            # kestrom-trakbus_<version>_<arch>.deb
#
# Every program is installed only when its target exists, so a partial tree still configures.
include(GNUInstallDirs)

set(KESTROM_DIST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/dist)

foreach(program kelvload kelvmon trakbus-flash trakbus-sim trakbus-cap2pcap)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
                COMPONENT programs)
    endif()
endforeach()

# The two desktop programs get a menu entry and an icon (scalable, plus two rendered sizes).
foreach(program kelvload kelvmon)
    if(TARGET ${program})
        install(FILES ${KESTROM_DIST_DIR}/${program}.desktop
                DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT programs)
        install(FILES ${KESTROM_DIST_DIR}/icons/${program}.svg
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
                COMPONENT programs)
        foreach(size 48 128)
            install(FILES ${KESTROM_DIST_DIR}/icons/${program}-${size}.png
                    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                    RENAME ${program}.png COMPONENT programs)
        endforeach()
    endif()
endforeach()

# The command-line loader has a manual page.
if(TARGET trakbus-flash)
    install(FILES ${KESTROM_DIST_DIR}/trakbus-flash.1
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
endif()

# Wireshark: the dissector among its plugins and the live capture among its extcap programs,
# in the folders a Wireshark installed under the same prefix searches (on Debian, with prefix
# /usr, /usr/lib/<arch>/wireshark). The user guide tells how to use them from personal folders.
if(CMAKE_LIBRARY_ARCHITECTURE)
    set(KESTROM_WIRESHARK_DEFAULT lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark)
else()
    set(KESTROM_WIRESHARK_DEFAULT ${CMAKE_INSTALL_LIBDIR}/wireshark)
endif()
set(KESTROM_WIRESHARK_DIR ${KESTROM_WIRESHARK_DEFAULT} CACHE STRING
    "Wireshark's folder for plugins and extcap programs, below the prefix")
install(FILES ${KESTROM_DIST_DIR}/wireshark/trakbus.lua
        DESTINATION ${KESTROM_WIRESHARK_DIR}/plugins COMPONENT programs)
if(TARGET trakbus-extcap)
    install(TARGETS trakbus-extcap RUNTIME DESTINATION ${KESTROM_WIRESHARK_DIR}/extcap
            COMPONENT programs)
endif()

install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/docs/user-guide.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT programs)
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/docs/images)
    install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/docs/images/
            DESTINATION ${CMAKE_INSTALL_DOCDIR}/images COMPONENT programs
            FILES_MATCHING PATTERN "*.png")
endif()

# Debian package. The Qt libraries the programs link are declared by name, together with the
# platform plugins that Qt needs to open a window at all (not a linked library, so the
# automatic dependency scan cannot find it); the scan adds the C and C++ run-time libraries.
set(CPACK_PACKAGE_NAME kestrom-trakbus)
set(CPACK_PACKAGE_VENDOR Kestrom)
set(CPACK_PACKAGE_CONTACT Kestrom)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Trakbus firmware loader (kelvload, trakbus-flash), bus monitor (kelvmon) and test bus")
set(CPACK_PACKAGE_DESCRIPTION
    "kelvload downloads KFW firmware files to devices on the Trakbus serial control bus and \
finds the devices on it; trakbus-flash does the same from the command line, for scripts and \
production benches. kelvmon shows, captures and sends bus traffic. trakbus-sim is a \
simulated bus interface with devices on a pseudo-terminal, for trying both without hardware. \
With Wireshark, trakbus.lua decodes the bus, trakbus-extcap captures it live and \
trakbus-cap2pcap turns kelvmon's capture files into pcap files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(KESTROM_QT_MIN "${Qt6_VERSION_MAJOR}.${Qt6_VERSION_MINOR}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6core6 (>= ${KESTROM_QT_MIN}), libqt6gui6 (>= ${KESTROM_QT_MIN}), \
libqt6widgets6 (>= ${KESTROM_QT_MIN}), qt6-qpa-plugins (>= ${KESTROM_QT_MIN})")
# Wireshark is not needed to run the programs; with it, the dissector and extcap take effect.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wireshark")
include(CPack)
