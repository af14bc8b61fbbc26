# Norvale for Windows as people download it: an installer per width
# (Norvale-<version>-x64.msi or -x86.msi), made by wixl, and a portable zip
# of the same programs, both in package/ of the build. Included by
# window/win32.cmake, after Norvale.exe and Norvale.com.
find_program(NORVALE_WIXL wixl REQUIRED)
find_program(NORVALE_MSIBUILD msibuild REQUIRED)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(NORVALE_MSI_ARCH x64)
else()
  set(NORVALE_MSI_ARCH x86)
endif()
# One product code per version and width, always the same for them, so a
# newer package is a major upgrade of the installed one.
string(UUID NORVALE_PRODUCT_CODE
       NAMESPACE 183C64F1-07A5-4A86-B7DD-A4F996FAB56F
       NAME "${PROJECT_VERSION}-${NORVALE_MSI_ARCH}" TYPE SHA1 UPPER)

set(NORVALE_PACKAGE_DIR ${PROJECT_BINARY_DIR}/package)
set(NORVALE_MSI
    ${NORVALE_PACKAGE_DIR}/Norvale-${PROJECT_VERSION}-${NORVALE_MSI_ARCH}.msi)
set(NORVALE_ZIP
    ${NORVALE_PACKAGE_DIR}/Norvale-${PROJECT_VERSION}-${NORVALE_MSI_ARCH}.zip)
set(NORVALE_MAKE_MSI ${CMAKE_CURRENT_LIST_DIR}/make_msi.sh)
file(MAKE_DIRECTORY ${NORVALE_PACKAGE_DIR})

# The programs as they are shipped: copied from the build and, when the
# owner gives a code-signing certificate (see sign.sh), signed, before the
# installer and the zip are made of them; then the installer is signed too.
# The certificate's settings are read when building; a change of them makes
# the packages again.
set(NORVALE_SIGN ${CMAKE_CURRENT_LIST_DIR}/sign.sh)
set(NORVALE_SIGNING ${PROJECT_BINARY_DIR}/signing.txt)
file(CONFIGURE OUTPUT ${NORVALE_SIGNING} CONTENT
     "$ENV{NORVALE_SIGN_PKCS12}\n$ENV{NORVALE_SIGN_TIMESTAMP}\n")
set(NORVALE_SHIPPED ${PROJECT_BINARY_DIR}/zip/Norvale)
set(NORVALE_SHIPPED_FILES
    ${NORVALE_SHIPPED}/Norvale.exe ${NORVALE_SHIPPED}/Norvale.com)
add_custom_command(OUTPUT ${NORVALE_SHIPPED_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${NORVALE_SHIPPED}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Norvale>
          $<TARGET_FILE:NorvaleConsole> ${NORVALE_SHIPPED}
  COMMAND bash ${NORVALE_SIGN} ${NORVALE_SHIPPED_FILES}
  DEPENDS Norvale NorvaleConsole ${NORVALE_SIGN} ${NORVALE_SIGNING}
  VERBATIM)

# The installer is made in a folder of its own, which also holds the icon.
set(NORVALE_MSI_STAGE ${PROJECT_BINARY_DIR}/msi)
add_custom_command(OUTPUT ${NORVALE_MSI}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${NORVALE_MSI_STAGE}
  COMMAND ${CMAKE_COMMAND} -E copy ${NORVALE_SHIPPED_FILES} ${NORVALE_ICO}
          ${NORVALE_MSI_STAGE}
  COMMAND sh ${NORVALE_MAKE_MSI} ${NORVALE_MSI} ${NORVALE_MSI_STAGE}
          ${NORVALE_MSI_ARCH} ${PROJECT_VERSION} ${NORVALE_PRODUCT_CODE}
  COMMAND bash ${NORVALE_SIGN} ${NORVALE_MSI}
  DEPENDS ${NORVALE_SHIPPED_FILES} ${NORVALE_ICO} ${NORVALE_MAKE_MSI}
          ${CMAKE_CURRENT_LIST_DIR}/norvale.wxs ${NORVALE_SIGN}
          ${NORVALE_SIGNING}
  VERBATIM)

# The zip holds one folder, Norvale, with both programs.
add_custom_command(OUTPUT ${NORVALE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${NORVALE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E chdir ${PROJECT_BINARY_DIR}/zip
          ${CMAKE_COMMAND} -E tar cf ${NORVALE_ZIP} --format=zip Norvale
  DEPENDS ${NORVALE_SHIPPED_FILES}
  VERBATIM)

add_custom_target(windows_packages ALL DEPENDS ${NORVALE_MSI} ${NORVALE_ZIP})

if(NORVALE_BUILD_TESTS AND CMAKE_CROSSCOMPILING_EMULATOR)
  # Installs, upgrades and uninstalls the package with Wine's msiexec.
  add_test(NAME windows_installer
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/msi_test_win.sh
            ${CMAKE_CROSSCOMPILING_EMULATOR} ${NORVALE_MSI}
            $<TARGET_FILE_DIR:Norvale> ${NORVALE_MSI_ARCH} ${PROJECT_VERSION})
  set_tests_properties(windows_installer PROPERTIES TIMEOUT 300 RUN_SERIAL ON)
  # Signs with a throwaway certificate; skipped without osslsigncode.
  add_test(NAME windows_signing
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/sign_test.sh
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE_DIR:Norvale>
            ${NORVALE_MSI})
  set_tests_properties(windows_signing PROPERTIES TIMEOUT 120
    SKIP_RETURN_CODE 77)
endif()
