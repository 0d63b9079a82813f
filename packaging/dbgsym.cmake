# Run by cpack once it has made the packages (CPACK_POST_BUILD_SCRIPTS).
# CPack 3.25 writes a -dbgsym package's md5sums with the paths its files had
# in the build folder, and gives the package no /usr/share/doc entry. Both are
# put right here, as debhelper makes such packages: the md5sums of the files
# as installed, and the documentation folder a link to that of the package
# whose symbols it holds (and on which it depends).
foreach(ddeb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT ddeb MATCHES "\\.ddeb$")
    continue()
  endif()
  set(root ${CPACK_TOPLEVEL_DIRECTORY}/dbgsym-rebuild)
  file(REMOVE_RECURSE ${root})
  execute_process(COMMAND dpkg-deb --raw-extract ${ddeb} ${root} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND dpkg-deb --field ${ddeb} Package OUTPUT_VARIABLE package
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE "-dbgsym$" "" stripped_package ${package})

  file(MAKE_DIRECTORY ${root}/usr/share/doc)
  file(CREATE_LINK ${stripped_package} ${root}/usr/share/doc/${package} SYMBOLIC)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${root} ${root}/usr/*)
  set(md5sums "")
  foreach(file IN LISTS files)
    if(NOT IS_SYMLINK ${root}/${file})
      file(CHMOD ${root}/${file} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
      file(MD5 ${root}/${file} sum)
      string(APPEND md5sums "${sum}  ${file}\n")
    endif()
  endforeach()
  file(WRITE ${root}/DEBIAN/md5sums "${md5sums}")

  execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build ${root} ${ddeb} OUTPUT_QUIET
                  COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${root})
endforeach()
