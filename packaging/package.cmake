# The Debian package (CPack's DEB generator): `scripts/package.sh` builds it.
#
#   /usr/lib/vorta-pc-tool/      the program folder: binary, pages, string.json
#   /usr/bin/vorta-pc-tool       a link to the binary
#   /usr/share/applications/     desktop entry
#   /usr/share/icons/hicolor/    icon
#   /usr/share/metainfo/         AppStream metadata
#   /usr/lib/udev/rules.d/       the dive computer's udev rule, applied by
#                                postinst at once
#
# Dependencies are computed from the shared libraries the binary links
# (dpkg-shlibdeps); libcurl, which it loads at run time, is added by name.
# Only the program is installed: the testbed, tests and benchmarks have no
# install rules.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/com.vorta.pctool.metainfo.xml DESTINATION share/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/device/udev/60-vorta-dive-computer.rules DESTINATION lib/udev/rules.d)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorta-pc-tool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR VORTA)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "companion program of the VORTA dive computer")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Syncs the dive computer's log memory to a cloud account, browses the\ndives, manages dive sites and updates the dive computer's firmware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "VORTA <support@vorta.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.vorta.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The pages' faces: Inter for Latin text, Noto Sans CJK for the Traditional
# Chinese pages (their style sheet names both; the Latin face comes first, so
# Latin text is never drawn with the CJK face). Added to the libraries'
# dependencies that dpkg-shlibdeps finds.
# libcurl is loaded at run time, at the first transfer (cloud/http_post.cpp),
# so dpkg-shlibdeps does not see it: named here, at the version whose options
# the program uses (CURLOPT_PROTOCOLS_STR, 7.85).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-inter, fonts-noto-cjk, libcurl4 (>= 7.85.0)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES ON)
include(CPack)
