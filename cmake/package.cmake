# The release package: a ZIP of the two programs, the user guide and the licence, named for
# the architecture it was built for (win32 or win64).
if(WIN32)
  install(TARGETS veltrane mpqadd RUNTIME DESTINATION .)
  # Text files with Windows line ends, for every editor the user may open them in.
  configure_file(${PROJECT_SOURCE_DIR}/packaging/README.txt ${CMAKE_BINARY_DIR}/package-text/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/package-text/LICENSE.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/package-text/README.txt
                ${CMAKE_BINARY_DIR}/package-text/LICENSE.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME Veltrane)
  set(CPACK_PACKAGE_VENDOR "The Veltrane developers")
  if(VELTRANE_ARCH STREQUAL amd64)
    set(package_name "veltrane-${PROJECT_VERSION}-win64")
    set(pe_machine 6486) # IMAGE_FILE_MACHINE_AMD64, as its bytes appear in the file
  else()
    set(package_name "veltrane-${PROJECT_VERSION}-win32")
    set(pe_machine 4c01) # IMAGE_FILE_MACHINE_I386
  endif()
  set(CPACK_PACKAGE_FILE_NAME ${package_name})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
  include(CPack)

  # The package builds and holds exactly what a user gets.
  add_test(NAME release_package
           COMMAND ${CMAKE_COMMAND} -DBINARY_DIR=${CMAKE_BINARY_DIR}
                   -DPACKAGE=${CMAKE_BINARY_DIR}/package/${package_name}.zip
                   -DMACHINE=${pe_machine} -DARCH=${VELTRANE_ARCH}
                   -P ${PROJECT_SOURCE_DIR}/cmake/check_package.cmake)
endif()
