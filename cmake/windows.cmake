# SPDX-License-Identifier: MIT
# The Windows side of a program: a resource with the icon and the version from the project
# version (cmake/vorlagen.rc.in). The .rc is made on every platform, so that the Linux test
# command can check that it compiles (tools/windows-build-check.sh); only Windows builds it in.
function(vorlagen_add_windows_resource target description)
    set(VORLAGEN_RC_NAME ${target})
    set(VORLAGEN_RC_DESCRIPTION "${description}")
    set(VORLAGEN_RC_ICON "${PROJECT_SOURCE_DIR}/app/icons/vorlagen.ico")
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/vorlagen.rc.in ${rc} @ONLY)
    if(WIN32)
        target_sources(${target} PRIVATE ${rc})
    endif()
endfunction()
