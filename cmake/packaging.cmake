# What a user gets: the module and its guide, nothing of the tests or the
# sandbox. Linux: a Debian package (cpack -G DEB) with its changelog,
# copyright file and manual page. Windows (target `windows-packages`): a zip
# for those who copy the executable by hand, a per-user installer (Debian's
# makensis) and a per-machine MSI (Debian's wixl). All take the version of
# project(); with SOURCE_DATE_EPOCH set (scripts/package sets it to the last
# commit's time) two builds of one commit give the same bytes.

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

  # The Windows packages, all made of one set of files by
  # packaging/windows/make-packages: the executable stripped and, when a
  # certificate is given (LUMIVANE_SIGN_PKCS12, see packaging/sign), signed
  # before it goes into the zip, the per-user installer (Debian's nsis) and
  # the per-machine MSI (Debian's wixl). Each run makes them anew: the
  # signature depends on the environment.
  set(LUMIVANE_PACKAGE_FILES ${PROJECT_BINARY_DIR}/package-files)
  set(LUMIVANE_INSTALLER ${CPACK_PACKAGE_DIRECTORY}/Module_Lumivane-${PROJECT_VERSION}-windows.exe)
  set(LUMIVANE_MSI ${CPACK_PACKAGE_DIRECTORY}/Module_Lumivane-${PROJECT_VERSION}-windows-x64.msi)
  set(LUMIVANE_ZIP ${CPACK_PACKAGE_DIRECTORY}/Module_Lumivane-${PROJECT_VERSION}-windows-x64.zip)
  find_program(LUMIVANE_MAKENSIS makensis)
  find_program(LUMIVANE_WIXL wixl)
  if(LUMIVANE_MAKENSIS AND LUMIVANE_WIXL)
    add_custom_target(windows-packages
      COMMAND ${PROJECT_SOURCE_DIR}/packaging/windows/make-packages ${PROJECT_VERSION}
              $<TARGET_FILE:Module_Lumivane> ${CMAKE_STRIP} ${PROJECT_SOURCE_DIR}
              ${LUMIVANE_PACKAGE_FILES} ${CPACK_PACKAGE_DIRECTORY}
      DEPENDS Module_Lumivane
      COMMENT "Making the Windows packages in ${CPACK_PACKAGE_DIRECTORY}"
      VERBATIM)
  else()
    add_custom_target(windows-packages
      COMMAND ${CMAKE_COMMAND} -E echo "makensis or wixl not found: install Debian's nsis and wixl (scripts/setup)"
      COMMAND ${CMAKE_COMMAND} -E false
      VERBATIM)
  endif()
  # The name the installer's tests and scripts know.
  add_custom_target(installer DEPENDS windows-packages)
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
  # The package's folders as Debian wants them, whatever the umask of the
  # one who builds it.
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
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
