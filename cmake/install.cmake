# What `make install` (cmake --install) puts where, and the files made for it
# at build time: the programs, their manual pages, the desktop entry, the
# icon in the hicolor theme, the AppStream metainfo, and the documents the
# Debian package needs (copyright, changelog). Every install rule of the
# project is here.
#
# The prefix is CMAKE_INSTALL_PREFIX (default /usr/local); DESTDIR is
# honoured, as cmake --install does. Nothing installed names the prefix, so
# one build installs anywhere.
include(GNUInstallDirs)

# Morva's licence, as an SPDX name for the metainfo and the copyright file.
# Its text is the last paragraph of data/copyright.in.
set(MORVA_LICENSE "LicenseRef-proprietary")
set(MORVA_MAINTAINER "Morva developers <morva@morva.org>" CACHE STRING
    "Who answers for the Debian package (its Maintainer field)")
set(MORVA_APP_ID org.morva.Morva)  # desktop entry, icon, metainfo
set(MORVA_DATA_OUT ${CMAKE_BINARY_DIR}/data)
file(MAKE_DIRECTORY ${MORVA_DATA_OUT})

# The release's date, for the manual pages, the metainfo and the changelog:
# SOURCE_DATE_EPOCH when the builder sets one (reproducible builds), else the
# date of the commit built, else today.
set(MORVA_RELEASE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
if(NOT MORVA_RELEASE_EPOCH)
  execute_process(COMMAND git log -1 --format=%ct
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE MORVA_RELEASE_EPOCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
set(MORVA_SAVED_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
if(MORVA_RELEASE_EPOCH)
  set(ENV{SOURCE_DATE_EPOCH} "${MORVA_RELEASE_EPOCH}")
endif()
string(TIMESTAMP MORVA_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP MORVA_RELEASE_YEAR "%Y" UTC)
string(TIMESTAMP MORVA_RELEASE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${MORVA_SAVED_EPOCH}")

find_program(GZIP gzip REQUIRED)

# Files compressed as Debian ships them: gzip -9n, without name or time.
function(morva_gzip out in)
  add_custom_command(OUTPUT ${out}
    COMMAND sh -c "\"$1\" -9nc \"$2\" > \"$3\"" sh ${GZIP} ${in} ${out}
    DEPENDS ${in} VERBATIM)
endfunction()

# The packer, and its manual page, in every build.
install(TARGETS morva-pack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(MORVA_MAN_PAGES morva-pack)
if(MORVA_GUI)
  install(TARGETS morva RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  list(APPEND MORVA_MAN_PAGES morva)
endif()
set(MORVA_DATA_FILES)
foreach(page ${MORVA_MAN_PAGES})
  configure_file(${CMAKE_SOURCE_DIR}/data/${page}.1.in
                 ${MORVA_DATA_OUT}/${page}.1 @ONLY)
  morva_gzip(${MORVA_DATA_OUT}/${page}.1.gz ${MORVA_DATA_OUT}/${page}.1)
  list(APPEND MORVA_DATA_FILES ${MORVA_DATA_OUT}/${page}.1.gz)
  install(FILES ${MORVA_DATA_OUT}/${page}.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The copyright file: Morva's own stanza, then one for each component
# bundled into the player. A part of the build that bundles one (a runtime
# compiled into the binary, say) adds a file of DEP-5 stanzas (Files: ...,
# Copyright: ..., License: ... and the licence's text) with
#   set_property(GLOBAL APPEND PROPERTY MORVA_BUNDLED_COPYRIGHT <file>)
# before this file is read; installing the licence files themselves under
# share/doc/morva/ stays with that part.
get_property(MORVA_BUNDLED_FILES GLOBAL PROPERTY MORVA_BUNDLED_COPYRIGHT)
set(MORVA_BUNDLED_COPYRIGHT "")
foreach(stanzas ${MORVA_BUNDLED_FILES})
  file(READ ${stanzas} text)
  string(APPEND MORVA_BUNDLED_COPYRIGHT "\n${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${stanzas})
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/data/copyright.in
               ${MORVA_DATA_OUT}/copyright @ONLY)
file(WRITE ${MORVA_DATA_OUT}/changelog
  "morva (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}.\n\n"
  " -- ${MORVA_MAINTAINER}  ${MORVA_RELEASE_RFC2822}\n")
morva_gzip(${MORVA_DATA_OUT}/changelog.gz ${MORVA_DATA_OUT}/changelog)
list(APPEND MORVA_DATA_FILES ${MORVA_DATA_OUT}/changelog.gz)
install(FILES ${MORVA_DATA_OUT}/copyright ${MORVA_DATA_OUT}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The desktop: an entry that opens tour files (Windows programs) with the
# player, its icon at the sizes the hicolor theme lists, rendered from the
# player's own SVG, and what software centres show.
if(MORVA_GUI)
  find_program(RSVG_CONVERT rsvg-convert REQUIRED)
  set(MORVA_ICON_SVG ${CMAKE_SOURCE_DIR}/res/morva.svg)
  foreach(size 16 24 32 48 64 128 256)
    set(dir ${MORVA_DATA_OUT}/icons/${size}x${size})
    set(png ${dir}/${MORVA_APP_ID}.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${RSVG_CONVERT} --width ${size} --height ${size}
              --output ${png} ${MORVA_ICON_SVG}
      DEPENDS ${MORVA_ICON_SVG} VERBATIM)
    list(APPEND MORVA_DATA_FILES ${png})
    install(FILES ${png}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  install(FILES ${MORVA_ICON_SVG}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME ${MORVA_APP_ID}.svg)
  install(FILES ${CMAKE_SOURCE_DIR}/data/${MORVA_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  configure_file(${CMAKE_SOURCE_DIR}/data/${MORVA_APP_ID}.metainfo.xml.in
                 ${MORVA_DATA_OUT}/${MORVA_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${MORVA_DATA_OUT}/${MORVA_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

add_custom_target(install_data ALL DEPENDS ${MORVA_DATA_FILES})

# File managers offer "Open With Morva" for the types the desktop entry
# lists only once the folder's MIME cache lists them too. A package manager
# runs this itself (a trigger), so an install below DESTDIR does not.
if(MORVA_GUI)
  install(CODE "set(MORVA_APPS_DIR \"${CMAKE_INSTALL_DATADIR}/applications\")")
  install(CODE [[
    find_program(MORVA_UPDATE_DESKTOP_DATABASE update-desktop-database)
    if("$ENV{DESTDIR}" STREQUAL "" AND MORVA_UPDATE_DESKTOP_DATABASE)
      message(STATUS "Updating the MIME cache of ${CMAKE_INSTALL_PREFIX}/${MORVA_APPS_DIR}")
      execute_process(COMMAND ${MORVA_UPDATE_DESKTOP_DATABASE} -q
                              "${CMAKE_INSTALL_PREFIX}/${MORVA_APPS_DIR}")
    endif()
  ]])
endif()
