# What `cmake --install` puts under the prefix, and the Debian package
# `cpack -G DEB` makes of it. The programs install themselves next to their
# targets (install(TARGETS ...) in app/, tools/ftjpeg/, tools/ssimdiff/); this file adds
# the data, the weights table, the desktop entry, the icon and the man pages.

# The data folder: the window's background and start-up image and the test
# photographs with their licence, where ftjpeg workdir looks first.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/ DESTINATION ${VELTRANO_INSTALL_DATADIR})

# The weights table ftjpeg workdir writes, made by ftjpeg itself from a
# working directory laid out at build time (again only when the generator
# changes, not at every link of ftjpeg).
set(VELTRANO_WEIGHTS_WORKDIR ${CMAKE_BINARY_DIR}/share-veltrano)
add_custom_command(
    OUTPUT ${VELTRANO_WEIGHTS_WORKDIR}/weights_out.txt
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:ftjpeg> workdir
            --data ${PROJECT_SOURCE_DIR}/data ${VELTRANO_WEIGHTS_WORKDIR}
    DEPENDS ${PROJECT_SOURCE_DIR}/experiments/workdirgenerator.cpp
    COMMENT "Writing the weights table of ftjpeg workdir"
    VERBATIM)
add_custom_target(veltrano_weights ALL DEPENDS ${VELTRANO_WEIGHTS_WORKDIR}/weights_out.txt)
add_dependencies(veltrano_weights ftjpeg)
install(FILES ${VELTRANO_WEIGHTS_WORKDIR}/weights_out.txt DESTINATION ${VELTRANO_INSTALL_DATADIR})

# The window in the desktop's menus.
install(FILES ${PROJECT_SOURCE_DIR}/app/veltrano.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/app/veltrano.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Man pages of the command-line programs, from their --help (help2man).
find_program(HELP2MAN_EXECUTABLE help2man)
if(HELP2MAN_EXECUTABLE)
    set(man_pages)
    foreach(entry "ftjpeg|the F-transform hybrid JPEG codec and its experiments on the command line|ON"
                  "ssimdiff_cygwin|structural similarity and PSNR of two images|OFF")
        string(REPLACE "|" ";" entry "${entry}")
        list(GET entry 0 program)
        list(GET entry 1 description)
        list(GET entry 2 commands)
        set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
        add_custom_command(
            OUTPUT ${page}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
            COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${HELP2MAN_EXECUTABLE} -DPROGRAM=$<TARGET_FILE:${program}>
                    -DDESCRIPTION=${description} -DOUTPUT=${page} -DCOMMANDS=${commands}
                    -P ${CMAKE_CURRENT_LIST_DIR}/manpage.cmake
            DEPENDS ${program} ${CMAKE_CURRENT_LIST_DIR}/manpage.cmake
            COMMENT "Writing the man page of ${program}"
            VERBATIM)
        list(APPEND man_pages ${page})
    endforeach()
    add_custom_target(veltrano_man_pages ALL DEPENDS ${man_pages})
    install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(STATUS "help2man not found: no man pages (scripts/setup.sh installs it)")
endif()

# The Debian package: veltrano_<version>_<arch>.deb, installing under /usr,
# its dependencies computed from the programs by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltrano)
set(CPACK_PACKAGE_VENDOR "Veltrano")
set(CPACK_PACKAGE_CONTACT "Veltrano developers <veltrano@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop testbed for image compression with the F-transform: the hybrid JPEG codec (ftjpeg), "
    "the image-difference program ssimdiff_cygwin, the window that compares the scheme with plain JPEG "
    "(veltrano), and the rate-distortion study, with test photographs and the weights table.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The plots of ftjpeg rd draw their text with a font the libraries do not
# name; the experiments run ssimdiff_cygwin through the shell.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
include(CPack)

# The package, unpacked into a scratch root, runs from any folder.
find_program(DPKG_DEB_EXECUTABLE dpkg-deb)
find_program(DPKG_SHLIBDEPS_EXECUTABLE dpkg-shlibdeps)
if(BUILD_TESTING AND NOT VELTRANO_SANITIZE AND DPKG_DEB_EXECUTABLE AND DPKG_SHLIBDEPS_EXECUTABLE)
    add_test(NAME package COMMAND ${PROJECT_SOURCE_DIR}/scripts/package-check.sh ${CMAKE_BINARY_DIR})
endif()
