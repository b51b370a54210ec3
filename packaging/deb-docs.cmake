# Run by cpack after it has installed corvane into its staging tree, before
# it packs the tree. Makes the Debian package's docs what Debian policy
# asks for: manual pages compressed, and a copyright file and a changelog
# in /usr/share/doc/corvane, every directory 0755 whatever the umask.
# gzip -n keeps the package reproducible.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")

function(gzip_file path)
  execute_process(COMMAND gzip -9nf "${path}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${path}")
  endif()
  file(CHMOD "${path}.gz" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

file(GLOB pages "${root}/share/man/man*/*")
foreach(page IN LISTS pages)
  if(NOT page MATCHES "\\.gz$")
    gzip_file("${page}")
  endif()
endforeach()

# Machine-readable copyright, holder and terms taken from LICENSE: paragraphs
# indented by one space, blank lines written as " .".
file(READ "${CPACK_CORVANE_SOURCE_DIR}/LICENSE" licence)
string(FIND "${licence}" "Permission is hereby granted" start)
if(start EQUAL -1 OR NOT licence MATCHES "Copyright \\(c\\) ([^\n]+)")
  message(FATAL_ERROR "LICENSE does not hold the MIT licence text")
endif()
set(holder "${CMAKE_MATCH_1}")
string(SUBSTRING "${licence}" ${start} -1 terms)
string(STRIP "${terms}" terms)
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")
file(MAKE_DIRECTORY "${doc}")
file(WRITE "${doc}/copyright"
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: ${holder}
License: Expat
 ${terms}
")
file(CHMOD "${doc}/copyright" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# A native package's changelog, in Debian's format. string(TIMESTAMP) takes
# SOURCE_DATE_EPOCH when it is set.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${doc}/changelog"
"${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Release ${CPACK_PACKAGE_VERSION}.

 -- ${CPACK_PACKAGE_CONTACT}  ${date}
")
gzip_file("${doc}/changelog")

file(GLOB_RECURSE dirs LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(dir IN LISTS dirs)
  if(IS_DIRECTORY "${dir}")
    file(CHMOD "${dir}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
         GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
