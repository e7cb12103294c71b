# `cpack -G DEB` (scripts/package.sh) makes tessaly-draviel_<version>_<arch>.deb
# from what `cmake --install` installs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaly-draviel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Ombrisk)
set(CPACK_PACKAGE_CONTACT "Ombrisk <support@ombrisk.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "wizard that joins the fields of a Microsoft Access table into a new column")
# Lines under 80 characters once Debian's leading blank is added.
set(CPACK_PACKAGE_DESCRIPTION
    "Tessaly Draviel opens Microsoft Access databases (.mdb and .accdb) with
an engine of its own, lets the user pick a table and some of its fields in
order, and fills a new memo column with the fields' values joined. The
tessaly command-line tool lists, dumps, checks, creates, imports into and
merges Access databases from a terminal.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.ombrisk.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt finds its window-system plugins at run time, which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
