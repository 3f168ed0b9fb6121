# `cpack` (make package): wyke_<version>_amd64.deb from the install tree, its
# dependencies read from the binary by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wyke)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small notifier listing the mail waiting on a POP3 server")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${WYKE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${WYKE_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The trust store for TLS accounts; the keyring and password-manager tools
# that password_command is usually given.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libsecret-tools, pass")
# CPack indents the text and marks its empty lines as Debian wants.
set(CPACK_PACKAGE_DESCRIPTION "Wyke shows the From: and Subject: lines of every message waiting on your
POP3 server in a tiny window, checks again every few minutes, and
minimizes itself a few seconds after each check. Nothing is ever deleted
or marked as read.

It speaks TLS on port 995 and STARTTLS on port 110 with verified
certificates, takes the password from a command such as a keyring or
password-manager lookup, and signs in with OAuth 2.0 where a provider
demands it.")
include(CPack)
