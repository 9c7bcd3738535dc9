# Third-party libraries, compiled from Debian's source packages (fetched by
# scripts/bootstrap into build/deps-src) with the current toolchain.
set(DEPS_SRC ${CMAKE_SOURCE_DIR}/build/deps-src CACHE PATH "Unpacked Debian source packages")
file(GLOB PUGIXML_DIR LIST_DIRECTORIES true ${DEPS_SRC}/pugixml-*)
file(GLOB JSONCPP_DIR LIST_DIRECTORIES true ${DEPS_SRC}/libjsoncpp-*)
if(NOT PUGIXML_DIR OR NOT JSONCPP_DIR)
  message(FATAL_ERROR "pugixml or JsonCpp sources missing under ${DEPS_SRC}: run scripts/bootstrap")
endif()

add_library(pugixml STATIC ${PUGIXML_DIR}/src/pugixml.cpp)
target_include_directories(pugixml SYSTEM PUBLIC ${PUGIXML_DIR}/src)

add_library(jsoncpp STATIC
  ${JSONCPP_DIR}/src/lib_json/json_reader.cpp
  ${JSONCPP_DIR}/src/lib_json/json_value.cpp
  ${JSONCPP_DIR}/src/lib_json/json_writer.cpp)
target_include_directories(jsoncpp SYSTEM PUBLIC ${JSONCPP_DIR}/include)
target_include_directories(jsoncpp PRIVATE ${JSONCPP_DIR}/src/lib_json)

set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)

if(BUILD_TESTING)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
