# Where an install puts the program, and the Debian package made from it. Included from the
# top-level CMakeLists.txt after the targets exist.
include(GNUInstallDirs)

set(vorlagen_installed vorlagen)
# The virtual port for trying the program without hardware (Linux only).
if(TARGET vorlagen-monitor)
    list(APPEND vorlagen_installed vorlagen-monitor)
endif()
# They link only system libraries; a search path next to the binary has no use there.
set_target_properties(${vorlagen_installed} PROPERTIES INSTALL_RPATH "")
install(TARGETS ${vorlagen_installed} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(UNIX AND NOT APPLE)
    install(FILES ${PROJECT_SOURCE_DIR}/app/vorlagen.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    set(vorlagen_icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
    install(FILES ${PROJECT_SOURCE_DIR}/app/icons/vorlagen-16.png
            DESTINATION ${vorlagen_icons}/16x16/apps RENAME vorlagen.png)
    install(FILES ${PROJECT_SOURCE_DIR}/app/icons/vorlagen-32.png
            DESTINATION ${vorlagen_icons}/32x32/apps RENAME vorlagen.png)
    install(FILES ${PROJECT_SOURCE_DIR}/app/icons/vorlagen.svg
            DESTINATION ${vorlagen_icons}/scalable/apps)
endif()

set(CPACK_PACKAGE_NAME vorlagen)
set(CPACK_PACKAGE_VENDOR "Projekat vorlagen")
set(CPACK_PACKAGE_CONTACT "Projekat vorlagen")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "Pretvara serijski port racunara u generator povorki bajtova \
(impulsnih obrazaca): povorka se salje jednom ili periodicno, uz DTR i RTS linije. Uz program \
ide vorlagen-monitor, virtuelni port za probu bez hardvera.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # vorlagen_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Projekat vorlagen")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The platform plugins: nothing links them, yet without them no window opens. The libraries
# the binaries link come from dpkg-shlibdeps with the versions their symbols need; without
# that tool, the Qt runtime packages are named by hand.
find_program(VORLAGEN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VORLAGEN_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), \
libqt6widgets6 (>= 6.4), libqt6serialport6 (>= 6.4), qt6-qpa-plugins")
endif()

include(CPack)
