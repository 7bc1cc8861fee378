# The shared Wayland pieces' build steps: the xdg-output protocol, and JSON
# for the compositors' IPC replies.
include(${PROJECT_SOURCE_DIR}/cmake/WaylandProtocol.cmake)
velmora_wayland_protocol(velmora_linux ${WAYLAND_PROTOCOLS_DIR}/unstable/xdg-output/xdg-output-unstable-v1.xml)
find_package(nlohmann_json 3.10 REQUIRED)
target_link_libraries(velmora_linux PRIVATE PkgConfig::WAYLAND_CLIENT nlohmann_json::nlohmann_json)
