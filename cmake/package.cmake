# The release package: a ZIP of the two programs, the user guide and the licence.
if(WIN32)
  install(TARGETS veltrane RUNTIME DESTINATION .)
  if(TARGET mpqadd)
    install(TARGETS mpqadd RUNTIME DESTINATION .)
  endif()
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
  set(package_name "veltrane-${PROJECT_VERSION}-win32")
  set(CPACK_PACKAGE_FILE_NAME ${package_name})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
  include(CPack)

  # The package builds and holds exactly what a user gets.
  add_test(NAME release_package
           COMMAND ${CMAKE_COMMAND} -DBINARY_DIR=${CMAKE_BINARY_DIR}
                   -DPACKAGE=${CMAKE_BINARY_DIR}/package/${package_name}.zip
                   -P ${PROJECT_SOURCE_DIR}/cmake/check_package.cmake)
endif()
