# What `cmake --install` puts beside bin/wyke: the desktop entry, the icon, the
# manual page, the AppStream metainfo, the copyright and the changelog. Files
# that carry the version are made from their .in templates at configure time.
include(GNUInstallDirs)

set(WYKE_HOMEPAGE "https://example.org/wyke" CACHE STRING "The project's web page")
set(WYKE_SCREENSHOT_URL "${WYKE_HOMEPAGE}/docs/notifier.png" CACHE STRING
    "Where software centres fetch the screenshot (docs/notifier.png)")
set(WYKE_MAINTAINER "The Wyke developers <wyke@example.org>" CACHE STRING
    "Name and address of the package's maintainer")

# The copyright file carries the licence text in its own indented form.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE WYKE_LICENSE_TEXT)
string(STRIP "${WYKE_LICENSE_TEXT}" WYKE_LICENSE_TEXT)
string(REPLACE "\n\n" "\n.\n" WYKE_LICENSE_TEXT "${WYKE_LICENSE_TEXT}")
string(REPLACE "\n" "\n " WYKE_LICENSE_TEXT " ${WYKE_LICENSE_TEXT}")

set(WYKE_DATA ${PROJECT_BINARY_DIR}/data)
foreach(template wyke.1 wyke.metainfo.xml copyright changelog)
  configure_file(${PROJECT_SOURCE_DIR}/data/${template}.in ${WYKE_DATA}/${template} @ONLY)
endforeach()

# Manual pages and changelogs are installed compressed, without a time stamp
# in the gzip header so that two builds give the same package.
find_program(WYKE_GZIP gzip REQUIRED)
set(WYKE_DATA_OUTPUTS)
foreach(file wyke.1 changelog)
  add_custom_command(OUTPUT ${WYKE_DATA}/${file}.gz
    COMMAND ${WYKE_GZIP} -9 -n -c ${WYKE_DATA}/${file} > ${WYKE_DATA}/${file}.gz
    DEPENDS ${WYKE_DATA}/${file} VERBATIM)
  list(APPEND WYKE_DATA_OUTPUTS ${WYKE_DATA}/${file}.gz)
endforeach()

# The 48-pixel icon is drawn from the scalable one.
set(WYKE_ICON_SVG ${PROJECT_SOURCE_DIR}/data/icons/wyke.svg)
find_program(WYKE_RSVG_CONVERT rsvg-convert)
if(WYKE_RSVG_CONVERT)
  add_custom_command(OUTPUT ${WYKE_DATA}/wyke.png
    COMMAND ${WYKE_RSVG_CONVERT} -w 48 -h 48 -o ${WYKE_DATA}/wyke.png ${WYKE_ICON_SVG}
    DEPENDS ${WYKE_ICON_SVG} VERBATIM)
  list(APPEND WYKE_DATA_OUTPUTS ${WYKE_DATA}/wyke.png)
  install(FILES ${WYKE_DATA}/wyke.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps)
else()
  message(STATUS "rsvg-convert not found (Debian: librsvg2-bin): only the scalable icon is installed")
endif()
add_custom_target(wyke_data ALL DEPENDS ${WYKE_DATA_OUTPUTS})

install(FILES data/wyke.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${WYKE_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${WYKE_DATA}/wyke.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${WYKE_DATA}/wyke.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${WYKE_DATA}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${WYKE_DATA}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
