# velmora_wayland_protocol(TARGET XML): generates the client header and glue
# code of one Wayland protocol with wayland-scanner and adds them to TARGET.
# The header is included as "<basename>-client-protocol.h".
enable_language(C)
find_package(PkgConfig REQUIRED)
pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)
if(NOT WAYLAND_SCANNER)
  find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)
endif()
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
pkg_get_variable(PLASMA_WAYLAND_PROTOCOLS_DIR plasma-wayland-protocols pkgdatadir)

function(velmora_wayland_protocol target xml)
  get_filename_component(base ${xml} NAME_WE)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/wayland-protocols)
  set(header ${dir}/${base}-client-protocol.h)
  set(code ${dir}/${base}-protocol.c)
  file(MAKE_DIRECTORY ${dir})
  add_custom_command(OUTPUT ${header}
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${header}
    DEPENDS ${xml} VERBATIM)
  add_custom_command(OUTPUT ${code}
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${code}
    DEPENDS ${xml} VERBATIM)
  target_sources(${target} PRIVATE ${header} ${code})
  target_include_directories(${target} PUBLIC ${dir})
endfunction()
