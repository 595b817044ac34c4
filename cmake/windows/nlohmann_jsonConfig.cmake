# nlohmann_json for the Windows cross build: the host's header-only package, reached through
# a directory that holds only its headers (adding the host's /usr/include to a MinGW build
# would shadow the target's C library headers).
if(NOT TARGET nlohmann_json::nlohmann_json)
  include(${CMAKE_CURRENT_LIST_DIR}/host_headers.cmake)
  zv_host_header_dir(_zv_nlohmann_dir nlohmann)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${_zv_nlohmann_dir})
endif()
set(nlohmann_json_FOUND TRUE)
