# The Debian package, built by CPack (`cpack -G DEB` in a build configured
# with -DCMAKE_INSTALL_PREFIX=/usr; scripts/package.sh does both), with the
# copyright and change log files that Debian asks of every package.

set(TARNWICK_DOCDIR "${CMAKE_INSTALL_DATADIR}/doc/tarnwick")
install(FILES "${PROJECT_SOURCE_DIR}/packaging/copyright" DESTINATION "${TARNWICK_DOCDIR}")

# The change log's date in the form Debian writes it, from the release day.
execute_process(COMMAND date --utc --rfc-email --date "${TARNWICK_RELEASE_DATE} 12:00"
  OUTPUT_VARIABLE TARNWICK_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(changelog "${CMAKE_BINARY_DIR}/packaging/changelog")
configure_file("${PROJECT_SOURCE_DIR}/packaging/changelog.in" "${changelog}" @ONLY)
add_custom_command(OUTPUT "${changelog}.gz"
  COMMAND gzip -9 -n -k -f "${changelog}"
  DEPENDS "${changelog}")
add_custom_target(tarnwick_changelog ALL DEPENDS "${changelog}.gz")
install(FILES "${changelog}.gz" DESTINATION "${TARNWICK_DOCDIR}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VENDOR "The Tarnwick developers")
set(CPACK_PACKAGE_CONTACT "The Tarnwick developers <support@tarnwick.example>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.tarnwick.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The problem report hands Err.log to the mail program through xdg-email.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
# CPack puts the summary first and indents the rest; an empty line parts
# the paragraphs.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find deleted files on NTFS volumes and restore them")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tarnwick is for people who have just lost files. It reads the Master File
Table of an NTFS volume itself, shows the deleted files and folders it can
still find with an estimate of how much of each file has been overwritten
since, and copies the files you tick, byte for byte, into a folder on
another drive. It never writes to the volume it reads: a disk, a partition
or a volume image file.

The package holds the wizard tarnwick for the desktop and tarnwick-cli,
the same engine for terminals and scripts.")
include(CPack)
