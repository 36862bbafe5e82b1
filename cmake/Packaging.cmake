# The Debian package: `cpack -G DEB` (or just `cpack`) in the build folder, after the build,
# writes pagewick_<version>_<arch>.deb of the tree `cmake --install` makes, under /usr.
# Its dependencies are the Debian packages of the shared libraries the program links
# (dpkg-shlibdeps, from dpkg-dev), so they follow the Qt packages it was built against; the PDF
# export's qpdf library (libqpdf29 on Debian 12) comes in the same way.

set(PAGEWICK_PACKAGE_MAINTAINER "Pagewick developers <pagewick@example.org>" CACHE STRING
    "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pagewick)
set(CPACK_PACKAGE_VENDOR "Pagewick")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reader for Compiled HTML Help (.chm) books")
# Lines of the package description, as apt shows them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Pagewick opens the .chm files in which many programs ship their manuals.\n"
    "It shows a book's table of contents beside the page, searches the book's\n"
    "full-text index, zooms, prints, saves and copies pages, and extracts every\n"
    "file of a book into a folder. Bookmarks and coloured notes on passages are\n"
    "stored inside the .chm file itself, where other readers do not look, so\n"
    "they travel with the book.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PAGEWICK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its SVG icon engine as a plugin, which dpkg-shlibdeps cannot see: without it the
# reader's own icons, all SVG drawings, are blank.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
# Books in Chinese, Japanese and Korean need fonts for those scripts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")

include(CPack)
