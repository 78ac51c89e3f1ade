# System libraries, all from Debian 12 packages (scripts/install-deps installs them).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(CURL REQUIRED)
find_package(nlohmann_json 3.11 REQUIRED)
find_package(Boost 1.81 REQUIRED)
find_package(boost_url 1.81 REQUIRED CONFIG)
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0 gio-2.0 gio-unix-2.0)
pkg_check_modules(LIBSECRET REQUIRED IMPORTED_TARGET libsecret-1)
pkg_check_modules(LIBPLIST REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
pkg_check_modules(LIBPNG REQUIRED IMPORTED_TARGET libpng)
pkg_check_modules(SIMDJSON REQUIRED IMPORTED_TARGET simdjson)

# Executables take Boost.URL and libuuid from their static archives: a long-running launcher then
# has two shared libraries fewer to load, relocate and keep data pages of. Neither archive is code
# a shared object can hold (absolute relocations, local-exec thread-local storage), so shared
# objects link the shared libraries.
find_library(QUORVEL_BOOST_URL_ARCHIVE libboost_url.a REQUIRED)
find_library(QUORVEL_UUID_ARCHIVE libuuid.a REQUIRED)
set(quorvel_is_executable "$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>")
add_library(quorvel_boost_url INTERFACE)
target_link_libraries(quorvel_boost_url INTERFACE
  Boost::headers "$<IF:${quorvel_is_executable},${QUORVEL_BOOST_URL_ARCHIVE},Boost::url>")

# A program that sets QUORVEL_STATIC_GLIB (the launcher) takes GLib, and the PCRE2 it comes with,
# from their static archives too: it uses the main loop and a few string functions of GLib's, and
# leaves the rest of the shared library unmapped. Only a program that links no GIO may: two GLibs
# in one process would each have their own main context.
find_library(QUORVEL_GLIB_ARCHIVE libglib-2.0.a REQUIRED)
find_library(QUORVEL_PCRE2_ARCHIVE libpcre2-8.a REQUIRED)
set(quorvel_static_glib "$<BOOL:$<TARGET_PROPERTY:QUORVEL_STATIC_GLIB>>")
add_library(quorvel_glib INTERFACE)
target_include_directories(quorvel_glib INTERFACE ${GLIB_INCLUDE_DIRS})
target_link_libraries(quorvel_glib INTERFACE
  "$<${quorvel_static_glib}:${QUORVEL_GLIB_ARCHIVE}>" "$<${quorvel_static_glib}:${QUORVEL_PCRE2_ARCHIVE}>"
  "$<${quorvel_static_glib}:m>" "$<${quorvel_static_glib}:Threads::Threads>"
  "$<$<NOT:${quorvel_static_glib}>:PkgConfig::GLIB>")

add_library(quorvel_uuid INTERFACE)
target_include_directories(quorvel_uuid INTERFACE ${UUID_INCLUDE_DIRS})
target_link_libraries(quorvel_uuid INTERFACE
  "$<IF:${quorvel_is_executable},${QUORVEL_UUID_ARCHIVE},PkgConfig::UUID>")
if(QUORVEL_BUILD_TESTS OR QUORVEL_BUILD_BENCH)
  find_package(GTest REQUIRED)
  pkg_check_modules(DBUSMENU_GLIB IMPORTED_TARGET dbusmenu-glib-0.4)
endif()
if(QUORVEL_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
