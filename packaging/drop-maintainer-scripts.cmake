# Run by CPack after it has made the package: takes out the postinst and the postrm that CPack
# writes for any shared object under /usr/lib. They only run ldconfig, which never looks into
# /usr/lib/mirlet, and a package with a postrm stays in dpkg's "config-files" state after
# dpkg -r until it is purged; mirlet's package needs no maintainer scripts at all.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  set(tree "${package}.tree")
  file(REMOVE_RECURSE "${tree}")
  # The umask keeps the modes that the package's files had, whatever the caller's umask.
  execute_process(COMMAND sh -c "umask 022 && exec dpkg-deb --raw-extract \"$0\" \"$1\""
    "${package}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE "${tree}/DEBIAN/postinst" "${tree}/DEBIAN/postrm")
  execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${package}"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
