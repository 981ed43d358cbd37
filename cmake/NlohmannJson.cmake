# nlohmann/json, header-only (Debian's nlohmann-json3-dev). Its folder is
# copied into the build tree, so that the mingw build sees these headers
# without the rest of the build machine's /usr/include.
find_path(GLIMMORA_NLOHMANN_DIR nlohmann/json.hpp
  PATHS /usr/include /usr/local/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT GLIMMORA_NLOHMANN_DIR)
  message(FATAL_ERROR "nlohmann/json.hpp not found: install nlohmann-json3-dev (scripts/install-deps)")
endif()
file(COPY ${GLIMMORA_NLOHMANN_DIR}/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/third_party)
add_library(glimmora_json INTERFACE)
target_include_directories(glimmora_json SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/third_party)
