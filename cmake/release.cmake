# The release archive, made by the x86_64 cross build's `package` target
# (CPack, ZIP): the updater for x64 from this build and for x86 from the
# i686 build beside it, the publisher's tool and guide, the users' text in
# Japanese, and the SHA-256 of every file. scripts/release.sh builds both and
# packs. One CMake build is one target, so the 32-bit updater is taken from
# the i686 build named by FIX_RELEASE_I686_BUILD (by default out/i686 beside
# this build).
if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  return()
endif()

get_filename_component(default_i686 "${PROJECT_BINARY_DIR}/../i686" ABSOLUTE)
set(FIX_RELEASE_I686_BUILD "${default_i686}" CACHE PATH
    "The i686 cross build whose fixmodule.exe the release archive carries as x86/fixmodule.exe")

# The users' text: UTF-8 in the sources, code page 932 with CR LF in the
# archive, the form every Japanese Windows and its Notepad read without a
# byte order mark, as the updater's own texts are.
set(release_dir "${PROJECT_BINARY_DIR}/release")
configure_file(docs/user-readme-ja.txt "${release_dir}/readme-utf8.txt" @ONLY)
add_custom_command(OUTPUT "${release_dir}/readme.txt"
  COMMAND sh -c "iconv -f UTF-8 -t CP932 readme-utf8.txt | sed 's/$/\\r/' > readme.txt"
  DEPENDS "${release_dir}/readme-utf8.txt"
  WORKING_DIRECTORY "${release_dir}"
  COMMENT "The users' text in code page 932"
  VERBATIM)
add_custom_target(release_readme ALL DEPENDS "${release_dir}/readme.txt")

install(TARGETS fixmodule RUNTIME DESTINATION x64)
install(PROGRAMS "${FIX_RELEASE_I686_BUILD}/bin/fixmodule.exe" DESTINATION x86)
install(TARGETS fixpack RUNTIME DESTINATION publisher)
install(FILES docs/publishing.md DESTINATION publisher)
install(FILES "${release_dir}/readme.txt" DESTINATION .)
# A signed release (scripts/release.sh with a certificate) puts the signed
# programs in place of the built ones: FIX_RELEASE_SIGNED names their
# folder, with x64/ and x86/ in it.
install(CODE [[
  set(signed "$ENV{FIX_RELEASE_SIGNED}")
  if(signed)
    set(top "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    foreach(pair x64/fixmodule.exe:x64 x86/fixmodule.exe:x86 x64/fixpack.exe:publisher)
      string(REPLACE ":" ";" pair "${pair}")
      list(GET pair 0 from)
      list(GET pair 1 to)
      file(COPY "${signed}/${from}" DESTINATION "${top}/${to}")
    endforeach()
  endif()
]])
# Last, over everything installed before it: SHA256SUMS.txt in the form
# sha256sum -c reads.
install(CODE [[
  set(top "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  file(GLOB_RECURSE files RELATIVE "${top}" "${top}/*")
  list(REMOVE_ITEM files SHA256SUMS.txt)
  list(SORT files)
  set(sums "")
  foreach(file IN LISTS files)
    file(SHA256 "${top}/${file}" sum)
    string(APPEND sums "${sum}  ${file}\n")
  endforeach()
  file(WRITE "${top}/SHA256SUMS.txt" "${sums}")
]])

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME bantou_fix)
set(CPACK_PACKAGE_VENDOR "盤燈 修正モジュール開発チーム")
set(CPACK_PACKAGE_FILE_NAME "bantou_fix-${PROJECT_VERSION}-windows")
set(CPACK_PACKAGE_DIRECTORY "${release_dir}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
