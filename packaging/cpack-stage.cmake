# Read by cpack once per generator. For the release tarball it fills a tree
# beside the package (so that two runs with their own -B never share one)
# with the files git tracks, and has cpack pack that: a build directory, a data
# set or an editor's backup can never slip in, and a file that a commit adds
# comes along without a word here. Left out: what serves only the checkout
# (.git*, .ci/, .clang-*) and the conda recipe, which carries the tarball's
# checksum and so cannot be inside it. Other dotfiles, such as a workflow's
# .test/, are sources like any other.
if(NOT CPACK_INSTALLED_DIRECTORIES STREQUAL "${CPACK_CORVANE_SOURCE_TREE};/")
  return()
endif()
set(corvane_tree "${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/source-tree")
set(CPACK_INSTALLED_DIRECTORIES "${corvane_tree};/")

find_program(corvane_git git)
if(corvane_git)
  execute_process(COMMAND "${corvane_git}" -c core.quotePath=false ls-files --stage
                  WORKING_DIRECTORY "${CPACK_CORVANE_SOURCE_DIR}"
                  OUTPUT_VARIABLE corvane_files RESULT_VARIABLE corvane_rc ERROR_QUIET)
endif()
if(NOT corvane_git OR NOT corvane_rc EQUAL 0 OR corvane_files STREQUAL "")
  message(FATAL_ERROR "The release tarball is made from a git checkout: "
                      "${CPACK_CORVANE_SOURCE_DIR} is none.")
endif()

file(REMOVE_RECURSE "${corvane_tree}")
# One "MODE HASH STAGE<TAB>PATH" line per file. The modes are git's, 0644 or
# 0755, not the checkout's nor the umask's; so are the directories'.
set(rw OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(rwx ${rw} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
string(REPLACE "\n" ";" corvane_files "${corvane_files}")
foreach(line IN LISTS corvane_files)
  if(line STREQUAL "")
    continue()
  elseif(NOT line MATCHES "^([0-7]+) [0-9a-f]+ [0-3]\t(.*)$")
    message(FATAL_ERROR "Not a line of git ls-files --stage: ${line}")
  endif()
  set(mode ${CMAKE_MATCH_1})
  set(f "${CMAKE_MATCH_2}")
  if(f MATCHES "^(\\.git|\\.ci/|\\.clang-|packaging/conda/)")
    continue()
  endif()
  if(f MATCHES "^\"")
    message(FATAL_ERROR "A tracked file name the tarball cannot carry: ${f}")
  endif()
  # Tracked but deleted in the work tree: the tarball follows the work tree.
  if(NOT EXISTS "${CPACK_CORVANE_SOURCE_DIR}/${f}")
    continue()
  endif()
  get_filename_component(dir "${corvane_tree}/${f}" DIRECTORY)
  if(mode STREQUAL "100755")
    set(perms ${rwx})
  else()
    set(perms ${rw})
  endif()
  file(COPY "${CPACK_CORVANE_SOURCE_DIR}/${f}" DESTINATION "${dir}" FILE_PERMISSIONS ${perms})
endforeach()
file(GLOB_RECURSE dirs LIST_DIRECTORIES true "${corvane_tree}/*")
foreach(dir IN LISTS dirs)
  if(IS_DIRECTORY "${dir}")
    file(CHMOD "${dir}" DIRECTORY_PERMISSIONS ${rwx})
  endif()
endforeach()
