# Installation and packages.
#
# The Windows builds give quorvel-VERSION-win32.zip (32-bit) and quorvel-VERSION-win64.zip
# (64-bit, x86_64), each from its own build folder.
# Linux: the programs and the manual live together in lib/quorvel/, so "-manual" finds
# quorvel.txt beside the program it runs; bin/ holds links to them, and the manual page goes to
# share/man/man1. Windows: one flat folder (quorvel.exe, config.exe, quillpost.exe, quorvel.txt
# with DOS line ends), packed as a .zip.
# The manual beside the programs in the build folder (DOS line ends on Windows) is the one
# installed.
set(MANUAL_STAGED ${CMAKE_BINARY_DIR}/quorvel.txt)

set(PROGRAMS quorvel)
if(TARGET quillpost)
  list(APPEND PROGRAMS quillpost)
endif()
if(TARGET config)
  list(APPEND PROGRAMS config)
endif()

if(WIN32)
  install(TARGETS ${PROGRAMS} RUNTIME DESTINATION .)
  if(EXISTS ${MANUAL_STAGED})
    install(FILES ${MANUAL_STAGED} DESTINATION .)
  endif()
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(WINDOWS_PACKAGE win64)
  else()
    set(WINDOWS_PACKAGE win32)
  endif()
  set(CPACK_SYSTEM_NAME ${WINDOWS_PACKAGE})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  include(GNUInstallDirs)
  set(PROGRAM_DIR lib/quorvel)
  install(TARGETS ${PROGRAMS} RUNTIME DESTINATION ${PROGRAM_DIR})
  if(EXISTS ${MANUAL_STAGED})
    install(FILES ${MANUAL_STAGED} DESTINATION ${PROGRAM_DIR})
  endif()
  install(FILES ${CMAKE_SOURCE_DIR}/docs/quorvel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  foreach(p ${PROGRAMS})
    # A relative link, so a staged (DESTDIR) or relocated tree keeps working.
    install(CODE "
      file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
      file(CREATE_LINK \"../${PROGRAM_DIR}/${p}\"
           \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${p}\" SYMBOLIC)")
  endforeach()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-utils")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()

set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR "Penwick Software")
set(CPACK_PACKAGE_CONTACT "Tobrenn <tobrenn@penwick-software.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show how much disk space a directory tree uses")
set(CPACK_PACKAGE_DESCRIPTION "Quorvel prints a directory tree with each directory's own size, the space lost to cluster rounding, its file count and its total with everything below it, followed by the drive's statistics. It offers a full-screen scroller on a terminal, plain text when redirected, and tab or comma separated rows for databases. Quillpost opens a new mail message to the author.")
set(CPACK_PACKAGE_FILE_NAME "quorvel-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}")
if(WIN32)
  set(CPACK_PACKAGE_FILE_NAME "quorvel-${PROJECT_VERSION}-${WINDOWS_PACKAGE}")
endif()
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
include(CPack)
