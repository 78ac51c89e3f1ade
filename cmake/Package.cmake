# `make deb`: the installed files (library, header, pkg-config and CMake files, the programs and
# scripts) as one Debian package under /usr. Shared-library dependencies are read off the binaries
# by dpkg-shlibdeps; the programs the launcher and the scripts run are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel-shell-bridge)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Quorvel desktop integration: launcher, tray item, sign-in, login item and lifecycle events")
set(CPACK_PACKAGE_CONTACT "Quorvel desktop integration team <desktop@quorvel.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# bsdtar unpacks update snapshots; update-desktop-database refreshes the callback-scheme claim;
# libcurl (its OpenSSL flavour), the cryptography library (libssl3), the journal's client and
# libsecret are loaded by the library and the launcher when first needed, so dpkg-shlibdeps does not
# see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libarchive-tools, desktop-file-utils, libcurl4, libssl3, libsystemd0, libsecret-1-0")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring, dbus-user-session")
# The installed copy carries no debug information (the build folder keeps it).
set(CPACK_STRIP_FILES ON)
include(CPack)
