# Installing the toolbox and making its Debian package: the programs, the desktop entry, the icon in every
# size, the AppStream data, a manual page for each program and the package's copyright and changelog.
# `cmake --install build --prefix P` lays the files out under P; `cpack` (see ./run package) builds the .deb.
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/OpenedLibraries.cmake)

set(QARVIA_INSTALLED_TARGETS) # the programs of this build that are installed
# A sanitizer build is for testing only: nothing of it is installed or packaged.
if(QARVIA_SANITIZE)
    return()
endif()

set(QARVIA_APP_ID net.lumora_games.QarviaToolbox)
set(QARVIA_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(QARVIA_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/qarvia-toolbox)

# Every program that is installed, with the one line its manual page gives after its name. A program whose
# target is not part of this build (GUI off, a tool still to come) is left out.
set(QARVIA_INSTALLED_PROGRAMS
    "qarvia-toolbox|level calculators and hero ranking lookup for players of Qarvia"
    "qarvia-json|read a JSON document with the toolbox's reader and write it back"
    "qarvia-post|post form fields with the toolbox's HTTP client and print the answer"
    "qarvia-fetch|download a URL with the toolbox's update transfer"
    "qarvia-rank-demo|serve a generated hero ranking for trying the toolbox locally"
    "qarvia-sign-update|sign an update published for the toolbox")

# --- Programs and their manual pages, made from each program's --help by help2man ---------------------------
find_program(QARVIA_HELP2MAN help2man)
find_program(QARVIA_GZIP gzip)
if(NOT QARVIA_HELP2MAN OR NOT QARVIA_GZIP)
    message(WARNING "help2man or gzip not found: the programs are installed without manual pages")
endif()
set(man_dir ${CMAKE_BINARY_DIR}/packaging/man)
set(man_pages)
foreach(entry IN LISTS QARVIA_INSTALLED_PROGRAMS)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 program)
    list(GET entry 1 summary)
    if(NOT TARGET ${program})
        continue()
    endif()
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND QARVIA_INSTALLED_TARGETS ${program})
    if(QARVIA_HELP2MAN AND QARVIA_GZIP)
        add_custom_command(
            OUTPUT ${man_dir}/${program}.1.gz
            COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
            COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                    ${QARVIA_HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
                    --name=${summary} --output=${man_dir}/${program}.1 $<TARGET_FILE:${program}>
            COMMAND ${QARVIA_GZIP} -n -9 -f ${man_dir}/${program}.1
            DEPENDS ${program}
            COMMENT "Manual page of ${program}"
            VERBATIM)
        list(APPEND man_pages ${man_dir}/${program}.1.gz)
    endif()
endforeach()
add_custom_target(qarvia_man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# --- The desktop program: menu entry, AppStream data, icons ------------------------------------------------
if(TARGET qarvia-toolbox)
    install(FILES ${QARVIA_PACKAGING_DIR}/${QARVIA_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
    install(FILES ${QARVIA_PACKAGING_DIR}/${QARVIA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
    set(icon_root ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor)
    install(FILES ${QARVIA_PACKAGING_DIR}/${QARVIA_APP_ID}.svg DESTINATION ${icon_root}/scalable/apps)

    # The drawn icon rendered at the sizes desktops ask for.
    find_program(QARVIA_RSVG_CONVERT rsvg-convert)
    if(QARVIA_RSVG_CONVERT)
        set(icon_files)
        foreach(size 16 22 24 32 48 64 128 256)
            set(png ${CMAKE_BINARY_DIR}/packaging/icons/${size}x${size}/${QARVIA_APP_ID}.png)
            add_custom_command(
                OUTPUT ${png}
                COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/icons/${size}x${size}
                COMMAND ${QARVIA_RSVG_CONVERT} --width=${size} --height=${size} --format=png
                        --output=${png} ${QARVIA_PACKAGING_DIR}/${QARVIA_APP_ID}.svg
                DEPENDS ${QARVIA_PACKAGING_DIR}/${QARVIA_APP_ID}.svg
                VERBATIM)
            list(APPEND icon_files ${png})
            install(FILES ${png} DESTINATION ${icon_root}/${size}x${size}/apps)
        endforeach()
        add_custom_target(qarvia_icons ALL DEPENDS ${icon_files})
    else()
        message(WARNING "rsvg-convert not found: only the scalable icon is installed")
    endif()
endif()

# --- Licence and history, where Debian looks for them --------------------------------------------------------
set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(
    OUTPUT ${changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND ${QARVIA_GZIP} -n -9 -c ${QARVIA_PACKAGING_DIR}/debian/changelog > ${changelog}
    DEPENDS ${QARVIA_PACKAGING_DIR}/debian/changelog)
add_custom_target(qarvia_changelog ALL DEPENDS ${changelog})
install(FILES ${QARVIA_PACKAGING_DIR}/debian/copyright ${changelog} DESTINATION ${QARVIA_DOC_DIR})

# --- The Debian package -------------------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qarvia-toolbox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lumora Games")
set(CPACK_PACKAGE_CONTACT "Lumora Games <toolbox@lumora-games.net>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # qarvia-toolbox_<version>_amd64.deb
# A companion of the game, not a game: Debian's games section wants its programs in /usr/games.
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://qarvia.lumora-games.net/")
# Qt, libcurl and OpenSSL come from Debian: the dependencies are read from the programs' libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The skin's pictures and the icon are SVG, drawn by Qt's SVG plugins, which no program links directly; the
# update check opens libcurl and libcrypto itself when it first runs.
qarvia_opened_library_packages(opened_packages)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
if(opened_packages)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${opened_packages}")
endif()
# Chinese text the program's own fonts lack (names, pasted text) needs a CJK font; links and update pages
# open in the desktop's browser.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "level calculators and hero ranking lookup for Qarvia players
Qarvia Toolbox gathers in one window what players of the online role-playing
game Qarvia look up every day: the experience a character, a spirit beast or a
soul pearl needs between two levels, the result and cost of fusing two soul
pearls, and the experience and gold value of a stock of huaxue pills. It also
looks characters up in the game's hero ranking and opens the publisher's
point-allocation simulator.
.
The package holds the program, its menu entry and the command-line tools built
on its libraries (a JSON reformatter, a form poster, a downloader and a local
ranking service for trying the lookup). Installed from the package, the
program announces new versions instead of replacing its own files.")
include(CPack)
