# Every outside library is found here once and used through these targets.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0 gobject-2.0 gio-2.0 gio-unix-2.0 gmodule-2.0)
pkg_check_modules(YAML REQUIRED IMPORTED_TARGET yaml-0.1)
pkg_check_modules(GCRYPT REQUIRED IMPORTED_TARGET libgcrypt)
pkg_check_modules(LTTNG_UST REQUIRED IMPORTED_TARGET lttng-ust)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)

# libyuv ships no pkg-config file on every release.
pkg_check_modules(YUV QUIET IMPORTED_TARGET libyuv)
if(NOT YUV_FOUND)
  find_library(YUV_LIBRARY NAMES yuv REQUIRED)
  find_path(YUV_INCLUDE_DIR NAMES libyuv.h REQUIRED)
  add_library(PkgConfig::YUV UNKNOWN IMPORTED)
  set_target_properties(PkgConfig::YUV PROPERTIES
    IMPORTED_LOCATION ${YUV_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${YUV_INCLUDE_DIR})
endif()

# TensorFlow Lite: its CMake package wants abseil's CMake files, which the
# distribution does not ship, so take the library and headers directly.
find_library(TFLITE_LIBRARY NAMES tensorflow-lite REQUIRED)
find_path(TFLITE_INCLUDE_DIR NAMES tensorflow/lite/interpreter.h REQUIRED)
add_library(TFLite::TFLite UNKNOWN IMPORTED)
set_target_properties(TFLite::TFLite PROPERTIES
  IMPORTED_LOCATION ${TFLITE_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${TFLITE_INCLUDE_DIR})
find_program(FLATC_EXECUTABLE NAMES flatc REQUIRED)

find_package(GTest REQUIRED)
find_package(benchmark QUIET)
