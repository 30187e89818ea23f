# What a user gets: the module and its guide, nothing of the tests or the
# sandbox. Linux: a Debian package (cpack -G DEB). Windows: a zip for those
# who copy the executable by hand (cpack -G ZIP) and a per-user installer
# (target `installer`, Debian's makensis). All take the version of project().

set(CPACK_PACKAGE_NAME "Module_Lumivane")
set(CPACK_PACKAGE_VENDOR "Lumivane")
set(CPACK_PACKAGE_CONTACT "Lumivane <support@lumivane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "brings a quote from the Lumivane web configurator into a quoting program")
# Lines under 80 columns: Debian shows the description as it is.
set(CPACK_PACKAGE_DESCRIPTION
    "Module_Lumivane is started by a host quoting program with an exchange file
and a configuration file. It signs in to the maker's gateway, opens the
Lumivane configurator in the browser and, when asked, fetches the quote,
downloads the pictures of its lines and writes the result into the exchange
file.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
# The install rules below are the whole content: nothing of a subproject.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};module;/")

if(NOT TARGET Module_Lumivane)
  # A build without the module's executable (a Windows build before its
  # window exists) has nothing to install.
  return()
endif()

if(WIN32)
  # Beside the executable: images/ is created there on the first picture.
  install(TARGETS Module_Lumivane RUNTIME DESTINATION . COMPONENT module)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT module)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/window.png DESTINATION docs COMPONENT module)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "Module_Lumivane-${PROJECT_VERSION}-windows-x64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

  # The per-user installer, built with Debian's nsis.
  find_program(LUMIVANE_MAKENSIS makensis)
  set(LUMIVANE_INSTALLER ${CPACK_PACKAGE_DIRECTORY}/Module_Lumivane-${PROJECT_VERSION}-windows.exe)
  set(stripped_dir ${PROJECT_BINARY_DIR}/installer-files)
  if(LUMIVANE_MAKENSIS)
    add_custom_target(installer
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CPACK_PACKAGE_DIRECTORY} ${stripped_dir}
      # Without its symbols, as in the zip.
      COMMAND ${CMAKE_STRIP} -o ${stripped_dir}/Module_Lumivane.exe $<TARGET_FILE:Module_Lumivane>
      COMMAND ${LUMIVANE_MAKENSIS} -V2 -INPUTCHARSET UTF8
              -DVERSION=${PROJECT_VERSION}
              -DEXE=${stripped_dir}/Module_Lumivane.exe
              -DGUIDE=${PROJECT_SOURCE_DIR}/README.md
              -DPICTURE=${PROJECT_SOURCE_DIR}/docs/window.png
              -DOUTFILE=${LUMIVANE_INSTALLER}
              ${PROJECT_SOURCE_DIR}/packaging/windows/lumivane.nsi
      DEPENDS Module_Lumivane ${PROJECT_SOURCE_DIR}/packaging/windows/lumivane.nsi
      COMMENT "Building the installer ${LUMIVANE_INSTALLER}"
      VERBATIM)
  else()
    add_custom_target(installer
      COMMAND ${CMAKE_COMMAND} -E echo "makensis not found: install Debian's nsis (scripts/setup)"
      COMMAND ${CMAKE_COMMAND} -E false
      VERBATIM)
  endif()
else()
  include(GNUInstallDirs)
  # Debian names packages in lower case; the guide goes where Debian keeps
  # every package's documentation.
  set(CPACK_DEBIAN_PACKAGE_NAME "module-lumivane")
  set(lumivane_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_PACKAGE_NAME})
  install(TARGETS Module_Lumivane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT module)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${lumivane_doc_dir} COMPONENT module)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/window.png DESTINATION ${lumivane_doc_dir}/docs
          COMPONENT module)

  # What Debian asks of every package beside the program: its changelog (made
  # from CHANGELOG.md), its copyright file and a manual page (from the
  # guide's section for hosts), both compressed without name or date.
  include(${PROJECT_SOURCE_DIR}/cmake/debian-changelog.cmake)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
  set(debian_dir ${PROJECT_BINARY_DIR}/debian)
  lumivane_debian_changelog(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${CPACK_DEBIAN_PACKAGE_NAME}
    "The Module_Lumivane developers <support@lumivane.example>" ${debian_dir}/changelog
    newest_version LUMIVANE_RELEASE_DATE)
  if(NOT newest_version STREQUAL PROJECT_VERSION)
    message(WARNING "CHANGELOG.md: the newest entry is ${newest_version}, the project is "
                    "${PROJECT_VERSION}: add an entry for this version")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/Module_Lumivane.1.in
                 ${debian_dir}/Module_Lumivane.1 @ONLY)
  foreach(page IN ITEMS changelog Module_Lumivane.1)
    execute_process(COMMAND gzip -9 -n -c ${debian_dir}/${page}
      OUTPUT_FILE ${debian_dir}/${page}.gz COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  install(FILES ${debian_dir}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
          DESTINATION ${lumivane_doc_dir} COMPONENT module)
  install(FILES ${debian_dir}/Module_Lumivane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT module)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION "misc")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
  # The libraries it links, as dpkg-shlibdeps finds them; then what it
  # needs at run time without linking: the certificate store for HTTPS,
  # xdg-open for the browser (without it the module shows the address).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "ca-certificates")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
endif()

include(CPack)
