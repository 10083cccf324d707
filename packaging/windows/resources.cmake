# The resources of the Windows programs: an icon, made from the SVG by
# ImageMagick (which reads SVG through rsvg-convert), and version
# information from the project version.
#
# kvz_windows_resources(TARGET DESCRIPTION) gives a program both; on other
# systems it does nothing.
if(WIN32)
  find_program(KVZ_CONVERT convert REQUIRED)
  set(KVZ_ICON ${PROJECT_BINARY_DIR}/generated/kvz-cdi.ico)
  # The drawing is made for 64 pixels: larger sizes would only be blurred.
  add_custom_command(OUTPUT ${KVZ_ICON}
    COMMAND ${KVZ_CONVERT} -background none ${PROJECT_SOURCE_DIR}/packaging/kvz-cdi.svg
            -define icon:auto-resize=64,48,32,16 ${KVZ_ICON}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/kvz-cdi.svg
    COMMENT "Making the Windows icon from kvz-cdi.svg")
  add_custom_target(kvz-icon DEPENDS ${KVZ_ICON})
endif()

function(kvz_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  set(KVZ_RC_NAME ${target})
  set(KVZ_RC_DESCRIPTION ${description})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${KVZ_ICON})
  add_dependencies(${target} kvz-icon)
endfunction()
