# Run by CPack on its staging tree before it builds the Debian package: Debian wants manual pages
# and the changelog compressed with gzip -9n (no name, no time stamp, so builds are reproducible),
# and programs without the sections that strip leaves (as dh_strip does).
file(GLOB focusprobe_staged_programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*")
foreach(program IN LISTS focusprobe_staged_programs)
  execute_process(COMMAND "${CPACK_FOCUSPROBE_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "stage.cmake: strip ${program} failed")
  endif()
endforeach()

file(GLOB_RECURSE focusprobe_staged_pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/*.[1-9]")
file(GLOB_RECURSE focusprobe_staged_copyright "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/doc/focusprobe/copyright")
if(NOT focusprobe_staged_copyright)
  message(FATAL_ERROR "stage.cmake: no share/doc/focusprobe/copyright under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
get_filename_component(focusprobe_docdir "${focusprobe_staged_copyright}" DIRECTORY)
configure_file("${CPACK_FOCUSPROBE_CHANGELOG}" "${focusprobe_docdir}/changelog" COPYONLY)

foreach(file IN LISTS focusprobe_staged_pages ITEMS "${focusprobe_docdir}/changelog")
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "stage.cmake: gzip ${file} failed")
  endif()
endforeach()
