# Every dependency is a Debian package installed by scripts/bootstrap.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(nlohmann_json 3 REQUIRED)

pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc icu-i18n)
pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng)

# cmark-gfm ships CMake config files on Debian but not a pkg-config file for the extensions.
find_path(CMARK_GFM_INCLUDE_DIR cmark-gfm.h REQUIRED)
find_library(CMARK_GFM_LIBRARY cmark-gfm REQUIRED)
find_library(CMARK_GFM_EXTENSIONS_LIBRARY cmark-gfm-extensions REQUIRED)
add_library(zorvane_cmark_gfm INTERFACE)
target_include_directories(zorvane_cmark_gfm INTERFACE ${CMARK_GFM_INCLUDE_DIR})
target_link_libraries(zorvane_cmark_gfm INTERFACE ${CMARK_GFM_EXTENSIONS_LIBRARY} ${CMARK_GFM_LIBRARY})
