# SPDX-License-Identifier: MIT
# Where an install puts the program, and the packages made from it: the Debian package, and on
# Windows a ZIP and an NSIS installer that carry Qt with them. Included from the top-level
# CMakeLists.txt after the targets exist.
include(GNUInstallDirs)

set(vorlagen_installed vorlagen vorlagen-send)
# The virtual port for trying the program without hardware (Linux only).
if(TARGET vorlagen-monitor)
    list(APPEND vorlagen_installed vorlagen-monitor)
endif()
# They link only system libraries; a search path next to the binary has no use there.
set_target_properties(${vorlagen_installed} PROPERTIES INSTALL_RPATH "")
install(TARGETS ${vorlagen_installed} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(UNIX AND NOT APPLE)
    # The newest changelog entry's date is the release's: the manual pages and the AppStream
    # release carry it.
    file(STRINGS ${PROJECT_SOURCE_DIR}/dist/debian/changelog vorlagen_signed
         REGEX "^ -- " LIMIT_COUNT 1)
    string(REGEX MATCH "([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9])" vorlagen_date
           "${vorlagen_signed}")
    set(vorlagen_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(FIND vorlagen_months "${CMAKE_MATCH_2}" vorlagen_month)
    math(EXPR vorlagen_month "${vorlagen_month} + 1" OUTPUT_FORMAT DECIMAL)
    if(vorlagen_month LESS 10)
        set(vorlagen_month 0${vorlagen_month})
    endif()
    set(VORLAGEN_RELEASE_DATE "${CMAKE_MATCH_3}-${vorlagen_month}-${CMAKE_MATCH_1}")

    # The desktop entry's id, which the AppStream metadata and the window also carry (the
    # project's home on Codeberg, reversed).
    set(vorlagen_app_id page.codeberg.vorlagen.Vorlagen)
    install(FILES ${PROJECT_SOURCE_DIR}/app/${vorlagen_app_id}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    configure_file(${PROJECT_SOURCE_DIR}/dist/${vorlagen_app_id}.metainfo.xml.in
                   ${PROJECT_BINARY_DIR}/dist/${vorlagen_app_id}.metainfo.xml @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/dist/${vorlagen_app_id}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    # Where Debian's bash-completion looks, one file under each program's name.
    foreach(program IN LISTS vorlagen_installed)
        install(FILES ${PROJECT_SOURCE_DIR}/dist/completion/vorlagen.bash
                DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
                RENAME ${program})
    endforeach()
    set(vorlagen_icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
    install(FILES ${PROJECT_SOURCE_DIR}/app/icons/vorlagen-16.png
            DESTINATION ${vorlagen_icons}/16x16/apps RENAME vorlagen.png)
    install(FILES ${PROJECT_SOURCE_DIR}/app/icons/vorlagen-32.png
            DESTINATION ${vorlagen_icons}/32x32/apps RENAME vorlagen.png)
    install(FILES ${PROJECT_SOURCE_DIR}/app/icons/vorlagen.svg
            DESTINATION ${vorlagen_icons}/scalable/apps)

    # Debian wants manual pages and the changelog compressed with gzip -9n (no name, no time
    # stamp, so the same sources give the same package).
    find_program(VORLAGEN_GZIP gzip REQUIRED)
    function(vorlagen_add_gzipped file)
        add_custom_command(OUTPUT ${file}.gz
                           COMMAND ${VORLAGEN_GZIP} -9nkf ${file}
                           DEPENDS ${file} VERBATIM)
        get_filename_component(name ${file} NAME)
        add_custom_target(vorlagen_gzip_${name} ALL DEPENDS ${file}.gz)
    endfunction()

    # The manual page of a program: dist/man/<program>.1.in with the project version and the
    # release date filled in.
    function(vorlagen_add_manpage program)
        set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
        configure_file(${PROJECT_SOURCE_DIR}/dist/man/${program}.1.in ${page} @ONLY)
        vorlagen_add_gzipped(${page})
        install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endfunction()
    foreach(program IN LISTS vorlagen_installed)
        vorlagen_add_manpage(${program})
    endforeach()

    # The changelog's newest entry names the version the package gets.
    file(STRINGS ${PROJECT_SOURCE_DIR}/dist/debian/changelog vorlagen_newest
         REGEX "^vorlagen \\(" LIMIT_COUNT 1)
    string(REGEX REPLACE "^vorlagen \\(([^)]*)\\).*" "\\1" vorlagen_newest "${vorlagen_newest}")
    if(NOT "${vorlagen_newest}" STREQUAL "${PROJECT_VERSION}")
        message(FATAL_ERROR "dist/debian/changelog: the newest entry is version "
                "\"${vorlagen_newest}\", the project's is ${PROJECT_VERSION}; add an entry on top.")
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/dist/debian/changelog
                   ${PROJECT_BINARY_DIR}/doc/changelog COPYONLY)
    vorlagen_add_gzipped(${PROJECT_BINARY_DIR}/doc/changelog)
    install(FILES ${PROJECT_BINARY_DIR}/doc/changelog.gz ${PROJECT_SOURCE_DIR}/dist/debian/copyright
            DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

if(WIN32)
    # Qt's DLLs and plugins beside the programs, put there at install time by Qt's deploy script
    # (windeployqt), so that the install folder, the ZIP and the installer run without Qt.
    foreach(program vorlagen vorlagen-send)
        if(NOT COMMAND qt_generate_deploy_app_script)
            message(WARNING "This Qt has no qt_generate_deploy_app_script (Qt 6.3 or later has): "
                    "the install gets no Qt DLLs; run windeployqt on ${program}.exe by hand.")
            break()
        elseif(Qt6_VERSION VERSION_LESS 6.5)
            qt_generate_deploy_app_script(TARGET ${program} FILENAME_VARIABLE deploy_script)
        else()
            qt_generate_deploy_app_script(TARGET ${program} OUTPUT_SCRIPT deploy_script)
        endif()
        install(SCRIPT ${deploy_script})
    endforeach()
    # The compiler's runtime: Microsoft's DLLs, or MinGW's from beside the compiler.
    if(MSVC)
        set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION ${CMAKE_INSTALL_BINDIR})
        include(InstallRequiredSystemLibraries)
    elseif(MINGW)
        get_filename_component(vorlagen_mingw_bin "${CMAKE_CXX_COMPILER}" DIRECTORY)
        foreach(dll libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
            if(EXISTS "${vorlagen_mingw_bin}/${dll}")
                install(FILES "${vorlagen_mingw_bin}/${dll}" DESTINATION ${CMAKE_INSTALL_BINDIR})
            endif()
        endforeach()
    endif()
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
endif()

set(CPACK_PACKAGE_NAME vorlagen)
set(vorlagen_maintainer "vorlagen developers <vorlagen@users.noreply.codeberg.org>")
set(CPACK_PACKAGE_VENDOR "The vorlagen developers")
set(CPACK_PACKAGE_CONTACT "${vorlagen_maintainer}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Lines of at most 80 characters, as the package tools show them.
set(CPACK_PACKAGE_DESCRIPTION "\
Pretvara serijski port racunara u generator povorki bajtova (impulsnih
obrazaca). Povorka upisana kao heksadecimalni bajtovi salje se jednom ili
jednom u svakoj periodi, sa zadatom brzinom u b/s i periodom u ms; port radi
8N1, a linije DTR i RTS se postavljaju iz prozora. Prozor je na
srpskohrvatskom jeziku.")
if(TARGET vorlagen-monitor)
    string(APPEND CPACK_PACKAGE_DESCRIPTION "

Uz prozor idu vorlagen-send, isti posao iz komandne linije za skripte
(izlazni kod kaze da li je svaki bajt otisao na liniju), i vorlagen-monitor,
virtuelni serijski port za probu bez hardvera.")
endif()
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # vorlagen_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${vorlagen_maintainer}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://codeberg.org/vorlagen/vorlagen")
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

if(WIN32)
    # cpack -G ZIP: the install folder as it is; cpack -G NSIS: an installer with a Start menu
    # entry and an uninstaller (NSIS 3 must be installed).
    set(CPACK_GENERATOR ZIP NSIS)
    set(CPACK_PACKAGE_FILE_NAME vorlagen-${PROJECT_VERSION}-windows-x64)
    set(CPACK_PACKAGE_INSTALL_DIRECTORY vorlagen)
    set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
    set(CPACK_PACKAGE_EXECUTABLES vorlagen "Vorla generator")
    set(CPACK_NSIS_PACKAGE_NAME "vorlagen ${PROJECT_VERSION}")
    set(CPACK_NSIS_DISPLAY_NAME "vorlagen ${PROJECT_VERSION}")
    set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/app/icons/vorlagen.ico)
    set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/app/icons/vorlagen.ico)
    set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\\\vorlagen.exe")
    set(CPACK_NSIS_URL_INFO_ABOUT https://codeberg.org/vorlagen/vorlagen)
    set(CPACK_NSIS_CONTACT "${vorlagen_maintainer}")
    set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
    # Offers to put bin\ on PATH, for vorlagen-send in scripts.
    set(CPACK_NSIS_MODIFY_PATH ON)
    set(CPACK_STRIP_FILES OFF) # MSVC has no strip, and a Release build has no debug information
endif()

include(CPack)
