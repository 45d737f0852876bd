# Installing and packaging: the three programs, their desktop integration, manual pages and shell completion,
# and the Debian package. One version number, the project's, goes into every program, the metadata and the
# package.
include(GNUInstallDirs)

foreach(target shell sitereport zirezid zirezid-cli unitsim)
  if(TARGET ${target})
    target_compile_definitions(${target} PRIVATE ZIREZID_VERSION="${PROJECT_VERSION}")
  endif()
endforeach()

foreach(target zirezid zirezid-cli unitsim)
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

set(packaging_dir ${CMAKE_SOURCE_DIR}/packaging)
set(packaging_out ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_out})

# Debian wants manual pages and the changelog compressed, without a time stamp in the gzip header.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(packaging_generated)
foreach(page zirezid zirezid-cli unitsim)
  configure_file(${packaging_dir}/man/${page}.1.in ${packaging_out}/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${packaging_out}/${page}.1.gz
    COMMAND ${GZIP_PROGRAM} -9nc ${packaging_out}/${page}.1 > ${packaging_out}/${page}.1.gz
    DEPENDS ${packaging_out}/${page}.1 VERBATIM)
  list(APPEND packaging_generated ${packaging_out}/${page}.1.gz)
  install(FILES ${packaging_out}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(${packaging_dir}/changelog.in ${packaging_out}/changelog @ONLY)
add_custom_command(OUTPUT ${packaging_out}/changelog.Debian.gz
  COMMAND ${GZIP_PROGRAM} -9nc ${packaging_out}/changelog > ${packaging_out}/changelog.Debian.gz
  DEPENDS ${packaging_out}/changelog VERBATIM)
list(APPEND packaging_generated ${packaging_out}/changelog.Debian.gz)
add_custom_target(packaging_files ALL DEPENDS ${packaging_generated})

configure_file(${packaging_dir}/ru.nordal.ZIRezid.metainfo.xml ${packaging_out}/ru.nordal.ZIRezid.metainfo.xml @ONLY)
install(FILES ${packaging_dir}/ru.nordal.ZIRezid.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging_out}/ru.nordal.ZIRezid.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging_dir}/zirezid-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME zirezid.xml)
install(FILES ${packaging_dir}/icons/zirezid.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${packaging_dir}/icons/zirezid-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME zirezid.png)
endforeach()
install(FILES ${packaging_dir}/zirezid-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zirezid-cli)
install(FILES ${packaging_dir}/copyright ${packaging_out}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zirezid)

# What `cmake --install` puts in place, checked file by file (the package is checked by scripts/check-package.sh).
add_test(NAME package.install
  COMMAND ${CMAKE_SOURCE_DIR}/packaging/check-install.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
set_tests_properties(package.install PROPERTIES LABELS package TIMEOUT 300)
# The manual page and the completion of zirezid-cli against the commands and options of its own usage.
if(TARGET zirezid-cli)
  add_test(NAME package.cli_docs
    COMMAND ${CMAKE_SOURCE_DIR}/packaging/check-cli-docs.sh $<TARGET_FILE:zirezid-cli> ${packaging_out}/zirezid-cli.1
            ${packaging_dir}/zirezid-cli.bash-completion)
  set_tests_properties(package.cli_docs PROPERTIES LABELS "package;cli" TIMEOUT 120)
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zirezid)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR NORDAL)
set(CPACK_PACKAGE_CONTACT "ZIRezid developers <dev@zirezid.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configurator of telephone auto-attendant units")
# CPack puts the summary on the Description line and indents every line of this text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "ZIRezid edits the settings database of a telephone auto-attendant unit\n(lines, timetables, voice menus with their recorded messages, mailboxes),\nreads it from the unit and writes it back over a serial line. The package\nholds the window program, the command-line tool zirezid-cli and the\nsimulated unit unitsim.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://zirezid.invalid/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the libraries alone do not tell: Qt's platform plugins to open a window, the sound back end (without
# it the player crashes on the first recording) and Qt's own Russian texts.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")
include(CPack)
