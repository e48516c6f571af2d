# Run by CPack on the staged install before it builds the package: Debian wants
# the manual pages compressed and a changelog beside the copyright file, both
# gzipped without a time stamp so the package builds the same bytes each time.
file(GLOB_RECURSE manpages "${CPACK_TEMPORARY_DIRECTORY}/*/share/man/man*/*.[1-9]")
foreach(page IN LISTS manpages)
  execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()

file(GLOB_RECURSE copyright "${CPACK_TEMPORARY_DIRECTORY}/*/share/doc/${CPACK_PACKAGE_NAME}/copyright")
if(NOT copyright)
  message(FATAL_ERROR "no copyright file in ${CPACK_TEMPORARY_DIRECTORY}")
endif()
get_filename_component(docdir "${copyright}" DIRECTORY)

execute_process(COMMAND date -u -R -d "${CPACK_VAREK_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE VAREK_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
set(PROJECT_VERSION "${CPACK_PACKAGE_VERSION}")
set(VAREK_MAINTAINER "${CPACK_VAREK_MAINTAINER}")
configure_file("${CPACK_VAREK_CHANGELOG}" "${docdir}/changelog" @ONLY)
file(CHMOD "${docdir}/changelog" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
execute_process(COMMAND gzip -9nf "${docdir}/changelog" COMMAND_ERROR_IS_FATAL ANY)
