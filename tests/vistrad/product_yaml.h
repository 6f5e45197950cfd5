#pragma once
// Product configurations of the daemon's process tests: a simulated camera
// with one 1920x1080 sensor, and the same camera with the 1080p capture modes
// following CaptureFrequency (50 Hz at start) under a camera mode of the
// test's choice. A test adds only what it needs on top.
#include <string>

inline const char product_yaml[] = R"(# A simulated camera with one sensor.
PRODUCT_CONSTANTS:
  product_constants:
    channels: [0]
    image_sources: 1
  area_config:
    xstart: 0
    ystart: 0
    xstop: 1919
    ystop: 1079
)";

// What a test adds to the camera with capture modes, each text indented as
// the place it goes to asks.
struct camera_yaml_extra {
	std::string camera_mode;
	std::string legacy_api; // entries of qorex_legacy_api_config (4 spaces)
	std::string dbus_api;   // entries of DBUS_API_CONFIG (2 spaces)
	std::string sections;   // top-level sections
	std::string params;     // entries of PARAMS (2 spaces)
};

inline std::string camera_yaml(const camera_yaml_extra &extra)
{
	return std::string(product_yaml) +
	       "DBUS_API_CONFIG:\n"
	       "  qorex_legacy_api_config:\n"
	       "    capture_mode_param: true\n" +
	       extra.legacy_api + extra.dbus_api + "CAMERA_MODE: [" + extra.camera_mode +
	       "]\n"
	       "REGISTER_CALLBACKS: [IR_FILTER_CALLBACK]\n"
	       "CAPTURE_MODES:\n"
	       "  CAPTURE_FREQUENCY_60HZ:\n"
	       "    MODES: [1080P_30FPS, 1080P_60FPS]\n"
	       "  CAPTURE_FREQUENCY_50HZ:\n"
	       "    MODES: [1080P_25FPS, 1080P_50FPS]\n" +
	       extra.sections +
	       "PARAMS:\n"
	       "  CaptureFrequency:\n"
	       "    DEFAULT: 50Hz\n" +
	       extra.params;
}
