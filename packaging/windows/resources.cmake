# The resources of the Windows programs: the icon (16 to 256 px, made by
# scripts/package-icons.sh and kept in the tree), the application manifest
# and version information from the project version.
#
# kvz_windows_resources(TARGET DESCRIPTION) gives a program all three; on
# other systems it does nothing.
set(KVZ_ICON ${CMAKE_CURRENT_LIST_DIR}/kvz-cdi.ico)
set(KVZ_MANIFEST ${CMAKE_CURRENT_LIST_DIR}/kvz-cdi.manifest)

function(kvz_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  set(KVZ_RC_NAME ${target})
  set(KVZ_RC_DESCRIPTION ${description})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${KVZ_ICON};${KVZ_MANIFEST}")
endfunction()
