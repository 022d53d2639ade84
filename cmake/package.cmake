# `make package`: a Debian package of what cmake/install.cmake installs,
# made by CPack's DEB generator (the `package` target of the build, or cpack
# in the build folder). The version is the project's; the dependencies are
# computed from the programs by dpkg-shlibdeps; the programs are stripped.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morva)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${MORVA_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "player for virtual tours that come as one program file")
# The extended description; CPack indents it and marks the blank lines
# between paragraphs for the control file. Lines of at most 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
"Morva plays self-contained virtual tours: panoramas, pages, images and
sound packed into a single program file, as tours on discs and downloads
have long come. It plays the tours made with its packer, morva-pack, and
the Tour.exe files made for Windows, from the command line, the file
manager (Open With) or its own window.

A tour is treated like a web page from a stranger: it reaches only its own
files, downloads nothing and gets no permissions, and everything it unpacks
is deleted when its window closes.

morva-pack builds tour executables from a folder or a ZIP archive, and
checks, lists and unpacks tours the way the player reads them.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no library dependency names it: the SVG loader for
# the window icon (without it the player runs without one).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "librsvg2-common")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
