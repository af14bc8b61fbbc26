# The Debian package of the Linux build, made by cpack in build/package:
# the program, its menu entry and icon, and the files Debian expects of a
# package. Included by CMakeLists.txt.
include(GNUInstallDirs)
set(NORVALE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/norvale)

install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${NORVALE_DOC_DIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME norvale)

# Installs `source` compressed as `name`, without a name or time stamp
# inside, so that every build gives the same bytes.
function(norvale_install_gzipped source name destination)
  set(compressed ${CMAKE_BINARY_DIR}/${name})
  add_custom_command(OUTPUT ${compressed}
    COMMAND gzip -9 -n -c ${source} > ${compressed}
    DEPENDS ${source})
  string(MAKE_C_IDENTIFIER ${name} target)
  add_custom_target(${target} ALL DEPENDS ${compressed})
  install(FILES ${compressed} DESTINATION ${destination})
endfunction()
norvale_install_gzipped(${CMAKE_CURRENT_LIST_DIR}/changelog
                        changelog.Debian.gz ${NORVALE_DOC_DIR})
norvale_install_gzipped(${CMAKE_CURRENT_LIST_DIR}/Norvale.1
                        Norvale.1.gz ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norvale)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "Norvale maintainers <maintainers@users.noreply.c-seed-4201e58c.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "compact copies of a tree of Internet shortcut files")
# Debian shows these lines as they are; each must stay under 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "Norvale makes compact copies of a folder tree of Internet shortcuts\n\
(*.url files, as found in a Favorites folder). Every shortcut below a\n\
source folder is written again at the same place below a destination\n\
folder, holding only its address. The sources are only ever read.\n\
\n\
Its window has the two folders and one button that writes the copies;\n\
Norvale --run SOURCE DESTINATION does the same without a window, from a\n\
terminal, a script or a scheduled job.")
# The libraries' packages are found from the program itself; Qt's platform
# plugins, which open the window on the display, are loaded at run time,
# where no tool can see them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
