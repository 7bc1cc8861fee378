# The KDE Plasma back end's extra build steps: the KWin script built into the
# program, and the kde_output_device_v2 protocol.
set(VELMORA_KWIN_SCRIPT_FILE ${PROJECT_SOURCE_DIR}/kwin/velmora-windows.js)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VELMORA_KWIN_SCRIPT_FILE})
file(READ ${VELMORA_KWIN_SCRIPT_FILE} VELMORA_KWIN_SCRIPT)
configure_file(${CMAKE_CURRENT_LIST_DIR}/KWinScriptText.cpp.in ${CMAKE_CURRENT_BINARY_DIR}/kde/KWinScriptText.cpp @ONLY)
target_sources(velmora_linux PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/kde/KWinScriptText.cpp)

find_package(nlohmann_json 3.10 REQUIRED)
target_link_libraries(velmora_linux PRIVATE nlohmann_json::nlohmann_json)

include(${PROJECT_SOURCE_DIR}/cmake/WaylandProtocol.cmake)
if(NOT PLASMA_WAYLAND_PROTOCOLS_DIR)
  # The package ships a CMake package, not a pkg-config file.
  find_package(PlasmaWaylandProtocols QUIET)
endif()
find_file(VELMORA_KDE_OUTPUT_DEVICE_XML kde-output-device-v2.xml
          HINTS ${PLASMA_WAYLAND_PROTOCOLS_DIR} PATHS /usr/share/plasma-wayland-protocols REQUIRED)
velmora_wayland_protocol(velmora_linux ${VELMORA_KDE_OUTPUT_DEVICE_XML})
target_link_libraries(velmora_linux PRIVATE PkgConfig::WAYLAND_CLIENT)
