# The Windows installer (NSIS) and the ZIP: both programs, with the licence
# texts of what they carry linked in: FLTK (LGPL with its static-linking
# exception) and hidapi (BSD) from the prefix scripts/build-windows-deps.sh
# filled, and the MinGW-w64 runtime (its C runtime and winpthreads, GCC's
# libgcc and libstdc++) from the copyright files of Debian's packages of it.
# Included by packaging/CMakeLists.txt on Windows, before include(CPack).
#
#   cd build-windows && cpack -G "NSIS;ZIP"
# leaves build-windows/kvz-cdi-<version>-win64.exe (the installer) and
# build-windows/kvz-cdi-<version>-win64.zip.
set(KVZ_DEPS_LICENSES ${KVZ_WINDOWS_DEPS}/share/licenses)
if(NOT EXISTS ${KVZ_DEPS_LICENSES}/fltk/COPYING)
  message(FATAL_ERROR "KVZ_WINDOWS_DEPS (${KVZ_WINDOWS_DEPS}) has no licence texts: "
                      "set it to the prefix scripts/build-windows-deps.sh prints")
endif()
install(FILES ${KVZ_DEPS_LICENSES}/fltk/COPYING DESTINATION licenses RENAME FLTK.txt)
install(FILES ${KVZ_DEPS_LICENSES}/hidapi/LICENSE.txt DESTINATION licenses RENAME hidapi.txt)
install(FILES ${KVZ_DEPS_LICENSES}/hidapi/LICENSE-bsd.txt DESTINATION licenses RENAME hidapi-BSD.txt)
install(FILES /usr/share/doc/mingw-w64-x86-64-dev/copyright
        DESTINATION licenses RENAME MinGW-w64-runtime.txt)
install(FILES /usr/share/doc/gcc-mingw-w64-base/copyright
        DESTINATION licenses RENAME GCC-runtime.txt)
# The project's own licence, which the installer's licence page shows too
# (CPACK_RESOURCE_FILE_LICENSE, with the other common settings, is set by
# packaging/CMakeLists.txt).
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION licenses RENAME KVZ-CDI.txt)

set(CPACK_PACKAGE_FILE_NAME kvz-cdi-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY KVZ-CDI)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY KVZ-CDI)
# The Start-menu shortcut: program name, then the shortcut's text. The
# installer's options page offers the same shortcut on the desktop.
set(CPACK_PACKAGE_EXECUTABLES kvz-cdi KVZ-CDI)
set(CPACK_CREATE_DESKTOP_LINKS kvz-cdi)

# The installer puts the programs under Program Files and so asks for
# elevation (its template says RequestExecutionLevel admin); running them
# and using the unit need none, and the unit, a vendor-defined HID device,
# needs no driver.
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# A 64-bit installer for the 64-bit programs, so it runs where there is no
# 32-bit Windows (a 64-bit-only Wine, for one). The template puts this
# variable's text among its first commands, where makensis takes Target.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
# The installer's title and the Start-menu folder; the list of installed
# programs shows the version too.
set(CPACK_NSIS_PACKAGE_NAME "KVZ-CDI")
set(CPACK_NSIS_DISPLAY_NAME "KVZ-CDI ${PROJECT_VERSION}")
set(CPACK_NSIS_CONTACT "maintainers@kvz-cdi.invalid")
set(CPACK_NSIS_MUI_ICON ${KVZ_ICON})
set(CPACK_NSIS_MUI_UNIICON ${KVZ_ICON})
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\\\kvz-cdi.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)

# One installer and one ZIP with both programs, not a choice of components.
set(CPACK_MONOLITHIC_INSTALL ON)

# The bin folder goes on the system PATH, so kvz-cdi-cli runs by name from
# any Command Prompt. The PATH page comes from this folder's copy of
# CPack's NSIS.InstallOptions.ini.in, where "for all users" is chosen
# beforehand: a silent install (/S) shows no page and takes what the file
# holds. The uninstaller takes the entry off again.
set(CPACK_NSIS_MODIFY_PATH ON)
# CPack's installer script, changed where it falls short:
# - it reads the system PATH whole or not at all: one longer than NSIS's
#   1024 characters reads as empty, and the script would then write the
#   bin folder alone over it, or stop a silent install with a message box.
#   This copy leaves such a PATH as it is and says so only when someone is
#   there to read it;
# - it keeps the install folder in HKLM\Software\VENDOR\KVZ-CDI and its
#   uninstaller deletes that key but leaves the vendor's, empty. This copy
#   deletes that too when nothing else is in it. The user's own files (the
#   autosave, the restore points) are not the installer's and stay;
# - it has no place for functions of our own: this copy includes
#   file-type.nsh, whose functions register the .cdi map file's type once
#   the files are in and unregister it again.
set(kvz_nsis_template ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in)
file(READ ${kvz_nsis_template} kvz_nsis)
function(kvz_nsis_change old new)
  string(FIND "${kvz_nsis}" "${old}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${kvz_nsis_template} has no \"${old}\" to change")
  endif()
  string(REPLACE "${old}" "${new}" changed "${kvz_nsis}")
  set(kvz_nsis "${changed}" PARENT_SCOPE)
endfunction()
kvz_nsis_change([[unable to modify PATH!"]] [[unable to modify PATH!" /SD IDOK]])
kvz_nsis_change([[
    ReadAllKey:
      ReadRegStr $1 ${NT_all_env} "PATH"]] [[
    ReadAllKey:
      ReadRegStr $1 ${NT_all_env} "PATH"
      StrCmp $1 "" CheckPathLength_ShowPathWarning]])
kvz_nsis_change([[
  DeleteRegKey /ifempty SHCTX "Software\@CPACK_PACKAGE_VENDOR@\@CPACK_PACKAGE_INSTALL_REGISTRY_KEY@"
]] [[
  DeleteRegKey /ifempty SHCTX "Software\@CPACK_PACKAGE_VENDOR@\@CPACK_PACKAGE_INSTALL_REGISTRY_KEY@"
  DeleteRegKey /ifempty SHCTX "Software\@CPACK_PACKAGE_VENDOR@"
]])
kvz_nsis_change([[
  !include Sections.nsh
]] "
  !include Sections.nsh
  !include \"${CMAKE_CURRENT_LIST_DIR}/file-type.nsh\"
")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "Call KvzRegisterFileType")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "Call un.KvzUnregisterFileType")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/nsis/NSIS.template.in "${kvz_nsis}")
set(CPACK_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_BINARY_DIR}/nsis)
