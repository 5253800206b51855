# Third-party libraries, found once and exposed as imported targets.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(AGG REQUIRED IMPORTED_TARGET libagg)
pkg_check_modules(FREETYPE REQUIRED IMPORTED_TARGET freetype2)
pkg_check_modules(FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)
pkg_check_modules(JPEG REQUIRED IMPORTED_TARGET libjpeg)
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng)
pkg_check_modules(TIFF REQUIRED IMPORTED_TARGET libtiff-4)
pkg_check_modules(EXIV2 REQUIRED IMPORTED_TARGET exiv2)
pkg_check_modules(LCMS2 REQUIRED IMPORTED_TARGET lcms2)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(LIBRAW REQUIRED IMPORTED_TARGET libraw)
find_package(OpenSSL REQUIRED)
find_package(GTest REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets DBus)

# AGG's FreeType font engine is a separate library in Debian's package.
find_library(AGG_FONT_FREETYPE_LIB aggfontfreetype REQUIRED)
add_library(kivo_agg_font INTERFACE)
target_link_libraries(kivo_agg_font INTERFACE ${AGG_FONT_FREETYPE_LIB} PkgConfig::AGG PkgConfig::FREETYPE)

find_library(ZINT_LIB zint REQUIRED)
find_path(ZINT_INCLUDE zint.h REQUIRED)
add_library(kivo_zint INTERFACE)
target_link_libraries(kivo_zint INTERFACE ${ZINT_LIB})
target_include_directories(kivo_zint INTERFACE ${ZINT_INCLUDE})

find_library(CUPS_LIB cups REQUIRED)
add_library(kivo_cups INTERFACE)
target_link_libraries(kivo_cups INTERFACE ${CUPS_LIB})
