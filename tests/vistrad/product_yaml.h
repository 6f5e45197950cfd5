#pragma once
// Product configurations of the daemon's process tests: a simulated camera
// with one 1920x1080 sensor, and the same camera with the 1080p capture modes
// following CaptureFrequency (50 Hz at start) under a camera mode of the
// test's choice. A test adds only what it needs on top.
#include <string>

// A simulated camera with one sensor whose image ends at (xstop, ystop).
inline std::string product_head(unsigned xstop, unsigned ystop)
{
	return "# A simulated camera with one sensor.\n"
	       "PRODUCT_CONSTANTS:\n"
	       "  product_constants:\n"
	       "    channels: [0]\n"
	       "    image_sources: 1\n"
	       "  area_config:\n"
	       "    xstart: 0\n"
	       "    ystart: 0\n"
	       "    xstop: " +
	       std::to_string(xstop) +
	       "\n"
	       "    ystop: " +
	       std::to_string(ystop) + "\n";
}

inline const std::string product_yaml = product_head(1919, 1079);

// The 1080p capture modes of the 60 Hz and 50 Hz capture frequencies.
inline const char capture_modes_1080p[] = R"(CAPTURE_MODES:
  CAPTURE_FREQUENCY_60HZ:
    MODES: [1080P_30FPS, 1080P_60FPS]
  CAPTURE_FREQUENCY_50HZ:
    MODES: [1080P_25FPS, 1080P_50FPS]
)";

// The camera of the exposure-loop tests: applying the capture mode starts
// the frame tick and creates the algorithms; WDR's default "off" or "on".
// Parameter defaults a test adds follow at once (under PARAMS), then the
// capture modes.
inline std::string loop_camera(unsigned xstop, unsigned ystop, const std::string &wdr)
{
	return product_head(xstop, ystop) + R"(DBUS_API_CONFIG:
  qorex_legacy_api_config:
    capture_mode_param: true
platform_vorsalind:
  enable_raw: false
  plug_event_input_src: false
CAMERA_MODE: [CAMERA_MODE_VORSALIND]
PARAMS:
  WDR:
    DEFAULT: ")" +
	       wdr + "\"\n";
}

// At 1080p with WDR off, so that one exposure loop drives the sensor.
inline const std::string loop_camera_head = loop_camera(1919, 1079, "off");

// The exposure loop's analyser and smart exposure at a 20 % target, to
// follow an ALGO_CREATE line that creates them.
inline const char loop_ae_yaml[] = R"(algo_hist_analyzer_cl:
  config:
    enable_hist_datacache: false
algo_smart_ae_cl:
  config:
    ae_gain_map: [0, 36]
    ae_target_map: [20, 20]
    ae_saturation_map: [1, 1]
    ae_short_target_map: [10, 10]
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
	       "REGISTER_CALLBACKS: [IR_FILTER_CALLBACK]\n" +
	       capture_modes_1080p + extra.sections +
	       "PARAMS:\n"
	       "  CaptureFrequency:\n"
	       "    DEFAULT: 50Hz\n" +
	       extra.params;
}
