# Packages, all named and versioned from project():
#   cpack -G DEB                            corvane_VERSION_ARCH.deb
#   cpack --config CPackSourceConfig.cmake  corvane-VERSION.tar.gz
# Run them in a Release build directory.

set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The corvane authors")
set(CORVANE_PACKAGE_CONTACT "The corvane authors <corvane@example.org>"
    CACHE STRING "Maintainer written into the Debian package")
set(CPACK_PACKAGE_CONTACT "${CORVANE_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "lay out SAM alignments as read, match and reference lines")
# The summary is the Debian package's one-line description, this the long one.
set(CPACK_PACKAGE_DESCRIPTION [=[
corvane reads alignment records on standard input, SAM text, BAM, CRAM or
compressed SAM, and writes, for every record it can lay out, a block of four
lines: the record's first nine fields, then the read, a match line and the
reference side by side, one column per character. It rebuilds the reference
side from the record's own SEQ, CIGAR and MD tag alone, so it needs no FASTA
file and no index. It fits in samtools and GNU parallel pipelines.]=])

set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The plain install tree gets the manual page as it is and no doc directory;
# the package needs it compressed, a copyright file and a changelog, and
# directories that do not follow the packager's umask.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb-docs.cmake)
set(CPACK_CORVANE_SOURCE_DIR ${PROJECT_SOURCE_DIR})

# The tarball holds the files git tracks: cpack-stage.cmake gathers them
# each time cpack runs and puts their tree in place of the placeholder
# directory named here, which does not exist, so cpack can never fall back
# to packing the whole source directory.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_CORVANE_SOURCE_TREE "git ls-files")
set(CPACK_SOURCE_PACKAGE_FILE_NAME corvane-${PROJECT_VERSION})
set(CPACK_SOURCE_INSTALLED_DIRECTORIES "${CPACK_CORVANE_SOURCE_TREE};/")
set(CPACK_SOURCE_IGNORE_FILES "")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-stage.cmake)

include(CPack)
