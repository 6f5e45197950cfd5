#include "legacy.h"

#include <dirent.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/daemon.h"
#include "core/debug_output.h"
#include "core/param_db.h"
#include "core/prodconf.h"
#include "core/prodconf_dbus_api_config.h"
#include "core/safe_flash.h"
#include "core/stream_map.h"
#include "core/vistrad_path.h"
#include "dbus_interface.h"
#include "imagecontrol.h"
#include "table_rows.h"

using namespace table_rows;

namespace
{

constexpr const char *legacy_interface_name = "com.tovi.Configuration.Legacy";
constexpr const char *mapping_dir = "/etc/legacyconfig/legacymappings.d";
constexpr const char *mapping_file = "vistrad.xml";
constexpr size_t enum_text_max = 1023;

constexpr uint32_t param_white_balance = 21;
constexpr uint32_t param_wdr = 41;
constexpr uint32_t param_custom_window_configs = 163;
constexpr uint32_t param_auto_rotation_enabled = 165;

// ---- Hooks ----

int set_int(uint32_t id, int32_t stream_id, int32_t v)
{
	param_value value = {};
	value.id = id;
	value.stream_id = stream_id;
	value.value = v;
	return param_set(&value);
}

// A fixed dome's scene profile brings its WDR and white balance with it.
int scene_profile_fixed_dome_hook(const dbus_interface_property *, int32_t stream_id, GVariant *,
                                  param_value *value)
{
	int32_t profile = value ? value->value : -1;
	bool indoor = profile == 3, outdoor = profile == 4;
	set_int(param_wdr, stream_id, indoor || outdoor ? 0 : 1);
	set_int(param_white_balance, stream_id, outdoor ? 2 : 0);
	return 0;
}

// A rotation set by hand ends automatic rotation.
int rotation_hook(const dbus_interface_property *, int32_t stream_id, GVariant *, param_value *)
{
	set_int(param_auto_rotation_enabled, stream_id, 0);
	return 0;
}

// ---- Display names ----

#define END_NAMES                                                                                            \
	{                                                                                                    \
		nullptr, nullptr                                                                             \
	}

const dbus_display_name wb_with_manual[] = {{"auto", "Automatic"},
                                            {"auto_outdoor", "Automatic outdoor"},
                                            {"hold", "Hold current"},
                                            {"fixed_outdoor1", "Fixed Outdoor 1"},
                                            {"fixed_outdoor2", "Fixed Outdoor 2"},
                                            {"fixed_indoor", "Fixed Indoor"},
                                            {"fixed_fluor1", "Fixed Fluorescent 1"},
                                            {"fixed_fluor2", "Fixed Fluorescent 2"},
                                            {"manual", "Manual"},
                                            END_NAMES};
const dbus_display_name wb_without_manual[] = {{"auto", "Automatic"},
                                               {"auto_outdoor", "Automatic outdoor"},
                                               {"hold", "Hold current"},
                                               {"fixed_outdoor1", "Fixed Outdoor 1"},
                                               {"fixed_outdoor2", "Fixed Outdoor 2"},
                                               {"fixed_indoor", "Fixed Indoor"},
                                               {"fixed_fluor1", "Fixed Fluorescent 1"},
                                               {"fixed_fluor2", "Fixed Fluorescent 2"},
                                               END_NAMES};
const dbus_display_name wb_zk[] = {{"auto", "Automatic"},
                                   {"hold", "Hold current"},
                                   {"fixed_outdoor1", "Fixed Outdoor 1"},
                                   {"fixed_outdoor2", "Fixed Outdoor 2"},
                                   {"fixed_indoor", "Fixed Indoor"},
                                   {"fixed_fluor1", "Fixed Fluorescent 1"},
                                   {"fixed_fluor2", "Fixed Fluorescent 2"},
                                   END_NAMES};
const dbus_display_name wb_camblock[] = {{"auto", "Automatic"},
                                         {"auto_outdoor", "Automatic outdoor"},
                                         {"fixed_outdoor1", "Fixed Outdoor 1"},
                                         {"fixed_outdoor2", "Fixed Outdoor 2"},
                                         {"fixed_indoor", "Fixed Indoor"},
                                         {"fixed_fluor1", "Fixed Fluorescent 1"},
                                         {"fixed_fluor2", "Fixed Fluorescent 2"},
                                         {"sodium", "High-pressure sodium"},
                                         {"mercury", "Mercury"},
                                         {"onepush", "One push"},
                                         END_NAMES};
const dbus_display_name wb_window[] = {{"auto", "Automatic"}, {"custom", "Custom"}, END_NAMES};
const dbus_display_name exposure[] = {{"auto", "Automatic"},
                                      {"flickerfree50", "Flicker-free 50 Hz"},
                                      {"flickerfree60", "Flicker-free 60 Hz"},
                                      {"flickerreduced50", "Flicker-reduced 50 Hz"},
                                      {"flickerreduced60", "Flicker-reduced 60 Hz"},
                                      {"hold", "Hold current"},
                                      END_NAMES};
const dbus_display_name exposure_auto[] = {{"auto", "Automatic"}, END_NAMES};
const dbus_display_name exposure_priority[] = {
    {"50", "Default"}, {"100", "Motion"}, {"0", "Low noise"}, END_NAMES};
const dbus_display_name on_off[] = {{"on", "On"}, {"off", "Off"}, END_NAMES};
const dbus_display_name on_off_auto[] = {{"on", "On"}, {"off", "Off"}, {"auto", "Auto"}, END_NAMES};
const dbus_display_name on_off_demo[] = {{"on", "On"}, {"off", "Off"}, {"demo", "Demo"}, END_NAMES};
const dbus_display_name day_night[] = {{"auto", "Auto"}, {"yes", "On"}, {"no", "Off"}, END_NAMES};
const dbus_display_name wdr_level[] = {{"1", "Low"}, {"2", "Medium"}, {"3", "High"}, END_NAMES};
const dbus_display_name window_full_center[] = {
    {"auto", "Automatic"}, {"full", "Full"}, {"center", "Center"}, END_NAMES};
const dbus_display_name window_full_center_spot[] = {
    {"auto", "Automatic"}, {"full", "Full"}, {"center", "Center"}, {"spot", "Spot"}, END_NAMES};
const dbus_display_name window_custom[] = {{"auto", "Automatic"}, {"custom", "Custom"}, {"center", "Center"},
                                           {"spot", "Spot"},      {"upper", "Upper"},   {"lower", "Lower"},
                                           {"left", "Left"},      {"right", "Right"},   END_NAMES};
const dbus_display_name termination[] = {{"off", "Off"}, {"75ohm", "On"}, END_NAMES};
const dbus_display_name deinterlace[] = {{"none", "None"},
                                         {"field_blend", "Blending"},
                                         {"hw_dei", "Adaptive Interpolation"},
                                         {"hw_dei_motion_adaptive", "Motion Adaptive Interpolation"},
                                         END_NAMES};
const dbus_display_name frequency[] = {{"60Hz", "60 Hz"}, {"50Hz", "50 Hz"}, END_NAMES};
const dbus_display_name trace_curves[] = {
    {"normal", "Normal"}, {"850nm", "850nm"}, {"950nm", "950nm"}, END_NAMES};
const dbus_display_name trace_curves_850[] = {{"normal", "Normal"}, {"850nm", "850nm"}, END_NAMES};
const dbus_display_name tilt[] = {{"90", "Desk"}, {"0", "Wall"}, {"-90", "Ceiling"}, END_NAMES};
const dbus_display_name no_yes[] = {{"no", "No"}, {"yes", "Yes"}, END_NAMES};
const dbus_display_name rotations[] = {{"0", "0"}, {"90", "90"}, {"180", "180"}, {"270", "270"}, END_NAMES};
const dbus_display_name rotations_180[] = {{"0", "0"}, {"180", "180"}, END_NAMES};
const dbus_display_name gain_control[] = {{"equalization", "Equalization"}, {"linear", "Linear"}, END_NAMES};
const dbus_display_name test_pattern[] = {{"0", "Off"}, {"1", "Palette"}, END_NAMES};
const dbus_display_name scenes[] = {{"forensic", "Forensic"},
                                    {"vivid", "Vivid"},
                                    {"traffic_overview", "Traffic Overview"},
                                    {"license_plate", "License Plate"},
                                    {"indoor", "Indoor"},
                                    {"outdoor", "Outdoor"},
                                    {"backlit_entrance", "Backlit Entrance"},
                                    END_NAMES};
const dbus_display_name scenes_license_plate[] = {{"forensic", "Forensic"},
                                                  {"vivid", "Vivid"},
                                                  {"traffic_overview", "Traffic Overview"},
                                                  {"license_plate", "License Plate"},
                                                  END_NAMES};
const dbus_display_name scenes_fixed_dome[] = {
    {"forensic", "Forensic"}, {"traffic_overview", "Traffic Overview"}, END_NAMES};
const dbus_display_name window_types[] = {
    {"include", "Include"}, {"exclude", "Exclude"}, {"disabled", "Disabled"}, END_NAMES};

// ---- Property sets ----

constexpr const char *percent = "int:maxlen=3,min=0,max=100";
constexpr const char *coordinate = "int:maxlen=4,min=0,max=9999";
constexpr const char *shutter = "int:maxlen=7,min=-60,max=2000000";
constexpr const char *exposure_time = "int:min=-60,max=2000000";
constexpr const char *yes_no = "yes_no";
constexpr const char *fast_shutter = "int:maxlen=5,min=1,max=33333";
constexpr const char *slow_shutter = "int:maxlen=7,min=8333,max=2000000";
constexpr const char *operator_admin = "operator:3;admin:3";
constexpr const char *event_access = "admin:3;operator:3;event:3";
constexpr const char *viewer_reads = "operator:3;admin:3;viewer:1";
constexpr const char *rotation_access = "operator:3;viewer:1";
constexpr const char *stabilizer_access = "video:3;operator:3;admin:3;viewer:1";

const dbus_interface_property s1[] = {
    legacy("NbrOfSources", 167, "readonly", "admin:1;operator:1;viewer:1", nullptr, R, P,
           imagecontrol_get_nbr_of_sources),
};
const dbus_interface_property s2[] = {legacy("CameraName", 164, "string", "admin:3;operator:3;viewer:1")};
const dbus_interface_property s3[] = {
    legacy("WhiteBalance", 21, nullptr, nullptr, wb_with_manual),
    legacy("WhiteBalanceWindow", 24, nullptr, nullptr, wb_window),
    legacy("WBManualCoordX", 22, coordinate),
    legacy("WBManualCoordY", 23, coordinate),
    legacy("WhiteBalanceXstart", 25, coordinate),
    legacy("WhiteBalanceYstart", 26, coordinate),
    legacy("WhiteBalanceXstop", 27, coordinate),
    legacy("WhiteBalanceYstop", 28, coordinate),
    legacy("ManualShutter", 29, shutter),
    legacy("ManualGain", 30, percent),
    legacy("MaxAutoGainControlNormal", 31, percent),
    legacy("MaxAutoGainControlLowlight", 32, percent),
    legacy("ManualShutterControl", 33, yes_no),
    legacy("ManualGainControl", 34, yes_no),
    legacy("MaxFastShutter", 35, fast_shutter),
    legacy("MaxSlowShutter", 36, slow_shutter),
    legacy("ExposurePriorityNormal", 37, percent),
    legacy("ExposurePriorityLowlight", 38, percent),
    legacy("Exposure", 12, nullptr, nullptr, exposure),
    legacy("ExposureValue", 14, percent),
    legacy("ExposurePriority", 13, nullptr, nullptr, exposure_priority),
    legacy("MaxExposureTime", 17, exposure_time),
    legacy("MinExposureTime", 16, exposure_time),
    legacy("MaxGain", 19, percent),
    legacy("MinGain", 18, percent),
    legacy("Brightness", 3, percent),
    legacy("Contrast", 5, percent),
    legacy("Sharpness", 20, percent),
    legacy("ColorLevel", 4, percent),
};
const dbus_interface_property s4[] = {legacy("LocalContrast", 132, percent)};
const dbus_interface_property s5[] = {
    legacy("WhiteBalance", 21, nullptr, nullptr, wb_without_manual),
    legacy("ManualShutter", 29, shutter),
    legacy("ManualGain", 30, percent),
    legacy("MaxAutoGainControlNormal", 31, percent),
    legacy("MaxAutoGainControlLowlight", 32, percent),
    legacy("ManualShutterControl", 33, yes_no),
    legacy("ManualGainControl", 34, yes_no),
    legacy("MaxFastShutter", 35, fast_shutter),
    legacy("MaxSlowShutter", 36, slow_shutter),
    legacy("ExposurePriorityNormal", 37, percent),
    legacy("ExposurePriorityLowlight", 38, percent),
    legacy("Exposure", 12, nullptr, nullptr, exposure),
    legacy("ExposureValue", 14, percent),
    legacy("ExposurePriority", 13, nullptr, nullptr, exposure_priority),
    legacy("MaxExposureTime", 17, exposure_time),
    legacy("MinExposureTime", 16, exposure_time),
    legacy("MaxGain", 19, percent),
    legacy("MinGain", 18, percent),
    legacy("Brightness", 3, percent),
    legacy("Contrast", 5, percent),
    legacy("Sharpness", 20, percent),
    legacy("ColorLevel", 4, percent),
};
const dbus_interface_property s6[] = {
    legacy("WhiteBalance", 21, nullptr, nullptr, wb_with_manual),
    legacy("ManualShutter", 29, shutter),
    legacy("ManualGain", 30, percent),
    legacy("ManualShutterControl", 33, yes_no),
    legacy("ManualGainControl", 34, yes_no),
    legacy("ExposurePriorityNormal", 37, percent),
    legacy("Exposure", 12, nullptr, nullptr, exposure),
    legacy("ExposureValue", 14, percent),
    legacy("MaxExposureTime", 17, exposure_time),
    legacy("MinExposureTime", 16, exposure_time),
    legacy("MinGain", 18, percent),
    legacy("ColorLevel", 4, percent),
    legacy("ToneMapping", 170, nullptr),
};
const dbus_interface_property s7[] = {
    legacy("LocalContrast", 132, percent), legacy("Brightness", 3, percent), legacy("Contrast", 5, percent),
    legacy("Sharpness", 20, percent),      legacy("MaxGain", 19, percent),
};
const dbus_interface_property s8[] = {legacy("ShadowsRecovery", 6, percent),
                                      legacy("HighlightsRecovery", 7, percent)};
const dbus_interface_property s9[] = {legacy("TNF", 161, percent), legacy("SNF", 169, percent)};
const dbus_interface_property s10[] = {legacy("RedBalance", 171, percent),
                                       legacy("BlueBalance", 172, percent)};
const dbus_interface_property s11[] = {legacy("ExposureResponsiveness", 173, percent)};
const dbus_interface_property s12[] = {legacy("LowLatencyMode", 180, nullptr, event_access, on_off)};
const dbus_interface_property s13[] = {
    legacy("WhiteBalanceWindow", 24, nullptr, nullptr, wb_window),
    legacy("WBManualCoordX", 22, coordinate),
    legacy("WBManualCoordY", 23, coordinate),
    legacy("WhiteBalanceXstart", 25, coordinate),
    legacy("WhiteBalanceYstart", 26, coordinate),
    legacy("WhiteBalanceXstop", 27, coordinate),
    legacy("WhiteBalanceYstop", 28, coordinate),
};
const dbus_interface_property s14[] = {
    legacy("WhiteBalance", 21, nullptr, nullptr, wb_zk),
    legacy("WBManualCoordX", 22, coordinate),
    legacy("WBManualCoordY", 23, coordinate),
    legacy("ManualShutter", 29, shutter),
    legacy("ManualGain", 30, percent),
    legacy("MaxAutoGainControlNormal", 31, percent),
    legacy("MaxAutoGainControlLowlight", 32, percent),
    legacy("ManualShutterControl", 33, yes_no),
    legacy("ManualGainControl", 34, yes_no),
    legacy("MaxFastShutter", 35, fast_shutter),
    legacy("MaxSlowShutter", 36, slow_shutter),
    legacy("ExposurePriorityNormal", 37, percent),
    legacy("ExposurePriorityLowlight", 38, percent),
    legacy("Exposure", 12, nullptr, nullptr, exposure),
    legacy("ExposureValue", 14, percent),
    legacy("ExposurePriority", 13, nullptr, nullptr, exposure_priority),
    legacy("MaxExposureTime", 17, exposure_time),
    legacy("MinExposureTime", 16, exposure_time),
    legacy("MaxGain", 19, percent),
    legacy("MinGain", 18, percent),
    legacy("Brightness", 3, percent),
    legacy("Contrast", 5, percent),
    legacy("Sharpness", 20, percent),
    legacy("ColorLevel", 4, percent),
};
const dbus_interface_property s15[] = {
    legacy("WhiteBalance", 21, nullptr, nullptr, wb_zk),
    legacy("WBManualCoordX", 22, coordinate),
    legacy("WBManualCoordY", 23, coordinate),
    legacy("ManualShutter", 29, shutter),
    legacy("ManualGain", 30, percent),
    legacy("MaxAutoGainControlNormal", 31, percent),
    legacy("MaxAutoGainControlLowlight", 32, percent),
    legacy("ManualShutterControl", 33, yes_no),
    legacy("ManualGainControl", 34, yes_no),
    legacy("MaxFastShutter", 35, fast_shutter),
    legacy("MaxSlowShutter", 36, slow_shutter),
    legacy("ExposurePriorityNormal", 37, percent),
    legacy("ExposurePriorityLowlight", 38, percent),
    legacy("Exposure", 12, nullptr, nullptr, exposure),
    legacy("ExposureValue", 14, percent),
    legacy("ExposurePriority", 13, nullptr, nullptr, exposure_priority),
    legacy("MaxExposureTime", 17, exposure_time),
    legacy("MinExposureTime", 16, exposure_time),
    legacy("MaxGain", 19, percent),
    legacy("MinGain", 18, percent),
    legacy("Brightness", 3, percent),
    legacy("Contrast", 5, percent),
    legacy("Sharpness", 20, percent),
    legacy("ColorLevel", 4, percent),
    legacy("LocalContrast", 132, percent),
};
const dbus_interface_property s16[] = {
    legacy("AutoIrCutFilterHysteresis", 59, percent),
    legacy("Brightness", 3, percent),
    legacy("ColorLevel", 4, percent),
    legacy("Exposure", 12, nullptr, nullptr, exposure_auto),
    legacy("ManualShutter", 29, nullptr),
    legacy("ManualShutterControl", 33, yes_no),
    legacy("MaxExposureTime", 17, nullptr),
    legacy("MaxGain", 19, nullptr),
    legacy("NoiseReduction", 127, nullptr),
    legacy("NoiseReductionTuning", 128, nullptr),
    legacy("Sharpness", 20, percent),
    legacy("Stabilizer", 138, nullptr, stabilizer_access, on_off),
    legacy("WhiteBalance", 21, nullptr, nullptr, wb_camblock),
};
const dbus_interface_property s17[] = {
    legacy("DayNightEnabled", 55, nullptr, "admin:3;operator:3;event:3;wsd:3;wsauth:3;light:3", day_night),
};
const dbus_interface_property s18[] = {
    legacy("DayNightLevel", 56, percent, "admin:3;operator:3;event:3;wsd:3")};
const dbus_interface_property s19[] = {
    legacy("WDRLevel", 148, nullptr, nullptr, wdr_level),
    legacy("HLCMaskTone", 8, percent),
    legacy("ExposureWindow", 15, nullptr, nullptr, window_full_center),
    legacy("HLCSensitivity", 9, percent),
};
const dbus_interface_property s20[] = {legacy("HLCSensitivity", 9, percent)};
const dbus_interface_property s21[] = {legacy("Defog", 136, nullptr, event_access, on_off)};
const dbus_interface_property s22[] = {
    legacy("ManualGain", 30, nullptr),
    legacy("ManualGainControl", 34, yes_no),
    legacy("ExposureWindow", 15, nullptr, nullptr, window_full_center_spot),
    legacy("ColorHue", 43, percent),
};
const dbus_interface_property s23[] = {legacy("IrisEnabled", 53, yes_no),
                                       legacy("IrisPosition", 54, percent)};
const dbus_interface_property s24[] = {legacy("DefogEffect", 137, percent)};
const dbus_interface_property s25[] = {
    legacy("Contrast", 5, percent),
    legacy("Brightness", 3, percent),
    legacy("ColorLevel", 4, percent),
    legacy("Sharpness", 20, percent),
};
const dbus_interface_property s26[] = {
    legacy("XOffset", 118, "int:maxlen=2,min=-4,max=5"),
    legacy("YOffset", 121, "int:maxlen=2,min=-8,max=8"),
    legacy("VideoTermination", 122, nullptr, "operator:1;admin:3;viewer:1", termination),
    legacy("DeinterlaceMode", 114, nullptr, nullptr, deinterlace),
    legacy("NoiseReduction", 124, percent),
};
const dbus_interface_property s27[] = {
    legacy("CaptureFrequency", 40, nullptr, "admin:3;operator:1;viewer:1", frequency, RW, P, nullptr,
           imagecontrol_capture_frequency_hook),
};
const dbus_interface_property s28[] = {
    legacy("WDR", 41, nullptr, event_access, on_off, RW, P, nullptr, dbus_set_wdr_property),
};
const dbus_interface_property s29[] = {legacy("DynamicContrastEnabled", 10, yes_no),
                                       legacy("DynamicContrastLevel", 11, percent)};
const dbus_interface_property s30[] = {legacy("Defog", 136, nullptr, event_access, on_off_auto)};
const dbus_interface_property s31[] = {
    legacy("Stabilizer", 138, nullptr, stabilizer_access, on_off_demo),
    legacy("StabilizerMargin", 139, coordinate, viewer_reads),
    legacy("StabilizerFocalLength", 140, "int:maxlen=10,min=0,max=2147483646", viewer_reads),
};
const dbus_interface_property s32[] = {legacy("FocusTraceCurve", 100, nullptr, nullptr, trace_curves)};
const dbus_interface_property s33[] = {legacy("FocusTraceCurve", 100, nullptr, nullptr, trace_curves_850)};
const dbus_interface_property s34[] = {
    legacy("FocusTemperatureCorrection", 178, nullptr, viewer_reads, on_off)};
const dbus_interface_property s35[] = {legacy("CameraTiltOrientation", 106, nullptr, viewer_reads, tilt)};
const dbus_interface_property s36[] = {
    legacy("SourceRotation", 175, nullptr, rotation_access, no_yes, R),
    legacy("Rotation", 176, nullptr, rotation_access, rotations, RW, P, nullptr, rotation_hook),
};
const dbus_interface_property s37[] = {
    legacy("SourceRotation", 175, nullptr, rotation_access, no_yes, R),
    legacy("Rotation", 176, nullptr, rotation_access, rotations_180, RW, P, nullptr, rotation_hook),
};
const dbus_interface_property s38[] = {legacy("AutomaticGainControl", 42, nullptr, nullptr, gain_control)};
const dbus_interface_property s39[] = {
    legacy("LocalContrast", 132, percent), legacy("MaxGain", 19, percent),   legacy("Brightness", 3, percent),
    legacy("Contrast", 5, percent),        legacy("Sharpness", 20, percent),
};
const dbus_interface_property s40[] = {
    legacy("TimeInterval", 44, "int:min=0,max=10000"),
    legacy("TemperatureDeltaMillic", 45, "int:min=100,max=10000"),
    legacy("TestPattern", 46, nullptr, nullptr, test_pattern),
};
const dbus_interface_property s41[] = {legacy("SceneProfile", 152, nullptr, nullptr, scenes)};
const dbus_interface_property s42[] = {legacy("SceneProfile", 152, nullptr, nullptr, scenes_license_plate)};
const dbus_interface_property s43[] = {
    legacy("SceneProfile", 152, nullptr, nullptr, scenes_fixed_dome, RW, P, nullptr,
           scene_profile_fixed_dome_hook),
};
const dbus_interface_property s44[] = {legacy("SlaveTo", 150, "int:min=-1,max=7")};
const dbus_interface_property s45[] = {
    legacy("AutoRotationEnabled", 165, yes_no, "admin:3;operator:3;viewer:1")};
const dbus_interface_property s46[] = {
    legacy("AutoRotation", 166, "readonly", "vcd:1;admin:1;operator:1;viewer:1;ptzadm:1;gtourd:1;posd:2"),
};
const dbus_interface_property s47[] = {legacy("MotionAdaptiveExposure", 179, nullptr, event_access, on_off)};
const dbus_interface_property s48[] = {
    legacy("CustomExposureWindowWeight", 47, percent),
    legacy("CustomExposureWindowNbrOfConfigs", 163, "readonly:int", nullptr, nullptr, R),
};
const dbus_interface_property s49[] = {legacy("ExposureWindow", 15, nullptr, nullptr, window_custom)};
const dbus_interface_property s50[] = {
    legacy("CustomExposureWindow_C0_Left", 48, coordinate),
    legacy("CustomExposureWindow_C0_Right", 49, coordinate),
    legacy("CustomExposureWindow_C0_Top", 50, coordinate),
    legacy("CustomExposureWindow_C0_Bottom", 51, coordinate),
    legacy("CustomExposureWindow_C0_WindowType", 52, nullptr, nullptr, window_types),
};
const dbus_interface_property s51[] = {
    legacy("AntialiasingEnabled", 123, "checkbox:false, true", operator_admin)};
const dbus_interface_property s52[] = {
    legacy("XOffset", 118, "int:maxlen=2,min=-4,max=5", operator_admin),
    legacy("YOffset", 121, "int:maxlen=2,min=-8,max=8", operator_admin),
    legacy("VideoTermination", 122, "enum:off|Off,75ohm|On", "operator:1;admin:3;viewer:1"),
    legacy("DeinterlaceMode", 114,
           "enum:none|None,field_blend|Blending,hw_dei|Adaptive Interpolation,hw_dei_motion_adaptive|Motion "
           "Adaptive Interpolation",
           operator_admin),
    legacy("Contrast", 5, percent, operator_admin),
    legacy("Brightness", 3, percent, operator_admin),
    legacy("Saturation", 115, percent, operator_admin),
    legacy("NoiseReduction", 124, percent, operator_admin),
    legacy("Sharpness", 20, percent, operator_admin),
    legacy("LocalContrast", 132, percent, operator_admin),
    legacy("DetectedType", 113,
           "nosync:enum:none, NTSC, PAL, HDTV720p, HDTV1080i,             HDTV1080p, HDV1080i",
           "video_ctrld:3;videod:3;viewer:1;operator:1;admin:1;ptzadm:1", nullptr, R),
};
const dbus_interface_property s53[] = {legacy("Name", 164, "string", viewer_reads, nullptr, R)};
const dbus_interface_property s54[] = {
    legacy("SourceRotation", 175, nullptr, nullptr, nullptr, R, E),
    legacy("Rotation", 176, nullptr, nullptr, rotations_180, RW, P, nullptr, rotation_hook),
};
const dbus_interface_property s55[] = {
    legacy("SourceRotation", 175, nullptr, nullptr, nullptr, R, E),
    legacy("Rotation", 176, nullptr, nullptr, rotations, RW, P, nullptr, rotation_hook),
};
const dbus_interface_property s56[] = {
    legacy("NbrOfSources", 167, "readonly", ":1", nullptr, R, P, imagecontrol_get_nbr_of_sources),
};

// Served by the interface, left out of the mapping file.
const dbus_interface_property day_night_properties[] = {prop("IrCutFilter", 55, RW, P),
                                                        prop("ShiftLevel", 56, RW, P)};
const dbus_interface_property capture_mode_property[] = {
    legacy("CaptureMode", 39, "int:maxlen=2,min=0, max=10", "operator:3;admin:3;viewer:3;daemon:3"),
};

// ---- Legacy maps ----

constexpr int group_count = 23;
constexpr int group_properties = 17;
constexpr int group_image_source = 18;

struct legacy_map {
	std::vector<const dbus_interface_property *> groups[group_count];
	const char *bus_name = nullptr;
	std::string object_path;
};

// Stream id -> its map; the file lists them in this order.
std::map<int32_t, legacy_map> *maps;

legacy_map *map_for(int32_t stream_id, const char *bus_name, const char *object_path)
{
	if (!maps)
		maps = new std::map<int32_t, legacy_map>();
	legacy_map &map = (*maps)[stream_id];
	for (auto &group : map.groups)
		group.clear();
	map.bus_name = bus_name;
	map.object_path = object_path ? object_path : "";
	return &map;
}

// One build: the interface receives every set, the map every set but the
// interface-only ones.
struct legacy_build {
	dbus_interface_builder builder = {};
	legacy_map *map = nullptr;

	template <size_t N> void add(const dbus_interface_property (&set)[N], int group)
	{
		dbus_interface_builder_add_properties(&builder, set, N);
		std::vector<const dbus_interface_property *> &records = map->groups[group];
		for (const dbus_interface_property &p : set) {
			if (std::find(records.begin(), records.end(), &p) != records.end()) {
				debug_output(DEBUG_WARNING, 0, "%s: property %s was already added\n",
				             "qorex_legacy_map_add_params", p.name);
				continue;
			}
			records.push_back(&p);
		}
	}

	template <size_t N> void add_interface_only(const dbus_interface_property (&set)[N])
	{
		dbus_interface_builder_add_properties(&builder, set, N);
	}
};

// ---- The mapping file ----

struct prodconf *product_conf()
{
	struct daemon_context *context = daemon_get_context();
	return context ? context->conf : nullptr;
}

using name_pairs = std::vector<std::pair<std::string, std::string>>;

// The product configuration's node PARAMS/<parameter>/<key>, or null.
struct prodconf_node_handle *param_node(int32_t stream_id, const char *parameter, const char *key)
{
	struct prodconf *conf = product_conf();
	if (!conf || !parameter)
		return nullptr;
	struct prodconf_node_handle *params = prodconf_get_node(conf, "PARAMS", stream_id);
	struct prodconf_node_handle *row = prodconf_get_child_node(conf, params, parameter, stream_id);
	struct prodconf_node_handle *node = prodconf_get_child_node(conf, row, key, stream_id);
	prodconf_node_handle_free(row);
	prodconf_node_handle_free(params);
	return node;
}

name_pairs enum_map_entries(struct prodconf_node_handle *node, int32_t stream_id)
{
	name_pairs pairs;
	struct prodconf *conf = product_conf();
	struct prodconf_node_iter *iter = prodconf_get_child_nodes(conf, node, stream_id);
	while (struct prodconf_node_handle *entry = prodconf_node_iter_next(conf, iter)) {
		char *text = prodconf_node_get_string(conf, entry, stream_id);
		if (entry->key && text)
			pairs.emplace_back(entry->key, text);
		g_free(text);
		prodconf_node_handle_free(entry);
	}
	prodconf_node_iter_free(iter);
	return pairs;
}

const char *display_of(const name_pairs *first, const dbus_display_name *names, const std::string &value)
{
	if (first)
		for (const auto &p : *first)
			if (p.first == value)
				return p.second.c_str();
	for (const dbus_display_name *n = names; n && n->value; n++)
		if (value == n->value)
			return n->display_name;
	return names ? nullptr : value.c_str();
}

// The values an enumeration text lists: the range's list, or, for a range
// without one, the integers the display names give that lie in the range.
std::vector<std::string> listed_values(const param_range &range, const name_pairs *first,
                                       const dbus_display_name *names)
{
	std::vector<std::string> values;
	if (range.values || range.names) {
		for (uint32_t i = 0; i < range.count; i++) {
			if (range.names && range.names[i])
				values.push_back(range.names[i]);
			else if (range.values)
				values.push_back(std::to_string((int32_t)range.values[i]));
		}
		return values;
	}
	auto in_range = [&](const char *text) {
		char *end = nullptr;
		long v = strtol(text, &end, 10);
		return *text && !*end && v >= range.min && v <= range.max;
	};
	if (first) {
		for (const auto &p : *first)
			if (in_range(p.first.c_str()))
				values.push_back(p.first);
	} else {
		for (const dbus_display_name *n = names; n && n->value; n++)
			if (in_range(n->value))
				values.push_back(n->value);
	}
	return values;
}

std::string enum_text(const dbus_interface_property *p, int32_t stream_id, const name_pairs *first)
{
	param_range range = {};
	if (param_get_range(p->param_id, stream_id, &range) != 0) {
		debug_output(DEBUG_WARNING, 0, "QOREX: param with id %d (stream_id %d) has no range\n",
		             (int)p->param_id, (int)stream_id);
		return "";
	}
	std::string text = "enum";
	bool any = false;
	for (const std::string &value : listed_values(range, first, p->display_names)) {
		const char *display = display_of(first, p->display_names, value);
		if (!display)
			continue;
		std::string entry = (any ? "," : ":") + value + "|" + display;
		// A cut entry would name a value that does not exist.
		if (text.size() + entry.size() > enum_text_max) {
			debug_output(DEBUG_WARNING, 0, "QOREX: enumeration of %s cut after %zu characters\n",
			             dbus_interface_property_name(p), text.size());
			break;
		}
		text += entry;
		any = true;
	}
	param_range_clear(&range);
	return text;
}

int printed_length(int32_t v)
{
	return snprintf(nullptr, 0, "%d", (int)v);
}

// The type text that the parameter's own type gives.
std::string default_map(const dbus_interface_property *p, const struct param_def *def, int32_t stream_id)
{
	uint32_t id = p->param_id;
	switch (def ? def->type : (uint32_t)PARAM_TYPE_UNKNOWN) {
	case PARAM_TYPE_INT: {
		param_range range = {};
		if (param_get_range(id, stream_id, &range) != 0) {
			debug_output(DEBUG_WARNING, 0,
			             "QOREX: param with id %d (stream_id %d) has no range\n", (int)id,
			             (int)stream_id);
			break;
		}
		char *text = g_strdup_printf("int:maxlen=%d,min=%d,max=%d",
		                             std::max(printed_length(range.min), printed_length(range.max)),
		                             (int)range.min, (int)range.max);
		std::string result = text;
		g_free(text);
		param_range_clear(&range);
		return result;
	}
	case PARAM_TYPE_ENUM:
		return enum_text(p, stream_id, nullptr);
	case PARAM_TYPE_BOOL:
		return "yes_no";
	case PARAM_TYPE_STRING:
		return "string";
	case PARAM_TYPE_FIX:
		debug_output(DEBUG_WARNING, 0, "%s: parid %d has type fix, which is unsupported\n",
		             "default_map", (int)id);
		break;
	case PARAM_TYPE_UNKNOWN:
		debug_output(DEBUG_WARNING, 0, "%s: parid %d has no type set, can do nothing\n",
		             "default_map", (int)id);
		break;
	default:
		debug_output(DEBUG_ERROR, 0, "%s: unknown param_type for parid %d\n", "default_map", (int)id);
		break;
	}
	debug_output(DEBUG_ERROR, 0, "Missing legacy mapping instructions for %s\n",
	             dbus_interface_property_name(p));
	return "";
}

std::string read_only_prefixed(const dbus_interface_property *p, std::string text)
{
	if (p->access == R && !text.empty())
		return "readonly:" + text;
	return text;
}

std::string legacy_type(const dbus_interface_property *p, int32_t stream_id)
{
	const struct param_def *def = param_def(p->param_id);
	const char *name = def ? def->name : nullptr;
	if (struct prodconf_node_handle *node = param_node(stream_id, name, "ENUM_MAP")) {
		name_pairs first = enum_map_entries(node, stream_id);
		prodconf_node_handle_free(node);
		return read_only_prefixed(p, enum_text(p, stream_id, &first));
	}
	if (struct prodconf_node_handle *node = param_node(stream_id, name, "VALID_VALUES")) {
		prodconf_node_handle_free(node);
		return read_only_prefixed(p, enum_text(p, stream_id, nullptr));
	}
	if (p->legacy_type_builder) {
		char *built = p->legacy_type_builder(p, stream_id);
		std::string text = built ? built : p->legacy_type ? p->legacy_type : "";
		g_free(built);
		return text;
	}
	if (p->legacy_type)
		return p->legacy_type;
	if (p->display_names || (def && def->enum_names))
		return read_only_prefixed(p, enum_text(p, stream_id, nullptr));
	return read_only_prefixed(p, default_map(p, def, stream_id));
}

std::string escaped(const std::string &text)
{
	char *e = g_markup_escape_text(text.c_str(), -1);
	std::string out = e;
	g_free(e);
	return out;
}

std::string group_name(int group, int32_t stream_id)
{
	static const char *const suffixes[group_count] = {"",
	                                                  ".Sensor",
	                                                  ".Sensor.CustomExposureWindow",
	                                                  ".DayNight",
	                                                  ".DCIris",
	                                                  ".Sensor.IrAlarm",
	                                                  ".Sensor.Calibration",
	                                                  ".Sensor.CustomExposureWindow.C0",
	                                                  ".Sensor.CustomExposureWindow.C1",
	                                                  ".Sensor.CustomExposureWindow.C2",
	                                                  ".Sensor.CustomExposureWindow.C3",
	                                                  ".Sensor.CustomExposureWindow.C4",
	                                                  ".Sensor.CustomExposureWindow.C5",
	                                                  ".Sensor.CustomExposureWindow.C6",
	                                                  ".Sensor.CustomExposureWindow.C7",
	                                                  ".Sensor.CustomExposureWindow.C8",
	                                                  ".Sensor.CustomExposureWindow.C9",
	                                                  nullptr,
	                                                  nullptr,
	                                                  ".Video",
	                                                  ".Sensor.IrIsotherm",
	                                                  ".Lens",
	                                                  ".Focus"};
	if (group == group_properties)
		return "root.Properties.ImageSource";
	if (group == group_image_source)
		return "root.ImageSource";
	return "root.ImageSource.I" + std::to_string(stream_id_channel(stream_id)) + suffixes[group];
}

void append_group(GString *text, const legacy_map &map, int32_t stream_id, int group)
{
	std::vector<const dbus_interface_property *> records = map.groups[group];
	std::stable_sort(records.begin(), records.end(),
	                 [](const dbus_interface_property *a, const dbus_interface_property *b) {
		                 return a->param_id < b->param_id;
	                 });
	g_string_append_printf(text, "  <group name=\"%s\">\n", group_name(group, stream_id).c_str());
	for (const dbus_interface_property *p : records) {
		const struct param_def *def = param_def(p->param_id);
		g_string_append_printf(text, "    <parameter name=\"%s\">\n",
		                       def && def->key ? def->key : "");
		g_string_append_printf(text, "      <property dbus=\"%s\" object=\"%s\"\n", map.bus_name,
		                       map.object_path.c_str());
		g_string_append_printf(text, "       interface=\"%s\" name=\"%s\">\n", legacy_interface_name,
		                       dbus_interface_property_name(p));
		g_string_append(text, def && def->type == PARAM_TYPE_INT
		                          ? "      <type type=\"int\" />\n"
		                          : "      <type type=\"string\" />\n");
		g_string_append(text, "      </property>\n      <legacyoptions>\n");
		g_string_append_printf(text, "        <legacyoption name=\"type\" value =\"%s\" />\n",
		                       escaped(legacy_type(p, stream_id)).c_str());
		g_string_append_printf(text, "        <legacyoption name=\"accessControl\" value=\"%s\"/>\n",
		                       p->legacy_access ? escaped(p->legacy_access).c_str()
		                                        : "operator:3;admin:3");
		g_string_append(text, "      </legacyoptions>\n    </parameter>\n");
	}
	g_string_append(text, "  </group>\n");
}

// Removes what earlier writes may have left beside the file. The file itself
// stays until its replacement is renamed over it, so that a reader always
// finds a whole one.
void remove_stale_files(const char *dir)
{
	DIR *d = opendir(dir);
	if (!d) {
		debug_output(DEBUG_ERROR, 0, "XML map: Could not read dir %s\n", dir);
		return;
	}
	bool failed = false;
	while (struct dirent *e = readdir(d)) {
		if (strncmp(e->d_name, mapping_file, strlen(mapping_file)) != 0 ||
		    strcmp(e->d_name, mapping_file) == 0)
			continue;
		char *path = g_build_filename(dir, e->d_name, nullptr);
		if (unlink(path) != 0)
			failed = true;
		g_free(path);
	}
	closedir(d);
	if (failed)
		debug_output(DEBUG_ERROR, 0, "XML map: failed to remove one or more files\n");
}

void write_mapping_file(void)
{
	char *dir = vistrad_path(mapping_dir);
	remove_stale_files(dir);
	GString *text = g_string_sized_new(64 * 1024);
	g_string_append(text, "<mapping>\n");
	for (const auto &entry : *maps)
		for (int group = 0; group < group_count; group++)
			if (!entry.second.groups[group].empty())
				append_group(text, entry.second, entry.first, group);
	g_string_append(text, "</mapping>\n");
	char *path = g_build_filename(dir, mapping_file, nullptr);
	if (safe_write_string_to_flash(path, text->str) != 0)
		debug_output(DEBUG_ERROR, 0, "XML map: could not write %s\n", path);
	g_free(path);
	g_string_free(text, TRUE);
	g_free(dir);
}

struct dbus_interface *finish(legacy_build *build)
{
	if (build->map)
		write_mapping_file();
	struct dbus_interface *in = dbus_interface_new(legacy_interface_name, &build->builder);
	in->enum_as_bytestring = 1;
	in->string_as_bytestring = 1;
	return in;
}

void add_qorex_sets(legacy_build &b, const qorex_legacy_config &f, int32_t stream_id)
{
	if (stream_id == -1)
		b.add(s1, group_image_source);
	b.add(s2, 0);
	if (f.tesmark6_sensor_params) {
		b.add(s3, 1);
		b.add(s4, 1);
	}
	if (f.tesmark6_sensor_no_window_params) {
		b.add(s5, 1);
		b.add(s4, 1);
	}
	if (f.tesmark7_sensor_params || f.tesmark7_sensor_no_window_params) {
		b.add(s6, 1);
		b.add(s7, 1);
		b.add(s8, 1);
		b.add(s9, 1);
		b.add(s10, 1);
		b.add(s11, 1);
		b.add(s12, 1);
		if (f.tesmark7_sensor_params)
			b.add(s13, 1);
	}
	if (f.vorsalind_zk7_params)
		b.add(s14, 1);
	if (f.vorsalind_zk8_params)
		b.add(s15, 1);
	if (f.samsung_cb_params || f.sony_cb_params || f.canon_cb_params) {
		b.add(s16, 1);
		b.add(s17, 3);
		b.add(s18, 3);
		b.add_interface_only(day_night_properties);
		if (f.samsung_cb_params)
			b.add(s19, 1);
		if (f.sony_cb_params) {
			b.add(s20, 1);
			b.add(s21, 1);
		}
	}
	if (f.sony_cb_extra_params) {
		b.add(s22, 1);
		b.add(s23, 4);
		b.add(s10, 1);
	}
	if (f.canon_cb_params) {
		b.add(s22, 1);
		b.add(s21, 1);
		b.add(s23, 4);
		b.add(s24, 1);
		b.add(s10, 1);
	}
	if (f.encoder_params) {
		b.add(s25, 1);
		b.add(s26, 19);
	}
	if (f.daynight_params) {
		b.add(s17, 3);
		b.add(s18, 3);
	}
	if (f.daynight_level_param)
		b.add(s18, 3);
	if (f.iris_params)
		b.add(s23, 4);
	if (f.capture_mode_param)
		b.add_interface_only(capture_mode_property);
	if (f.capture_frequency_param)
		b.add(s27, 0);
	if (f.wdr_param)
		b.add(s28, 1);
	if (f.dynamic_contrast_params)
		b.add(s29, 1);
	if (f.defog_params) {
		b.add(s30, 1);
		b.add(s24, 1);
	}
	if (f.defog_params_onoff) {
		b.add(s21, 1);
		b.add(s24, 1);
	}
	if (f.stabilizer_params)
		b.add(s31, 1);
	if (f.focus_trace_curve_param)
		b.add(s32, 1);
	if (f.focus_trace_curve_850)
		b.add(s33, 1);
	if (f.focus_temperature_compensation_param)
		b.add(s34, 22);
	if (f.cto_param)
		b.add(s35, 0);
	if (f.src_rot_param)
		b.add(s36, 0);
	if (f.src_rot_param_180)
		b.add(s37, 0);
	if (f.tesmark7_ir_sensor_params) {
		b.add(s38, 1);
		b.add(s7, 1);
		b.add(s9, 1);
	}
	if (f.ir_params) {
		b.add(s38, 1);
		b.add(s39, 1);
	}
	if (f.ir_calibration_params)
		b.add(s40, 6);
	if (f.scene_profile_param)
		b.add(s41, 0);
	if (f.scene_profile_license_plate_param)
		b.add(s42, 0);
	if (f.scene_profile_fixed_dome_param)
		b.add(s43, 0);
	if (f.slave_to_param)
		b.add(s44, 1);
	if (f.auto_rotation_param) {
		if (f.src_rot_param)
			b.add(s45, 0);
		b.add(s46, 0);
	}
	if (f.motion_adaptive_exposure_param)
		b.add(s47, 1);
	if (f.tesmark6_sensor_params || f.tesmark7_sensor_params || f.exposure_window_params) {
		b.add(s48, 2);
		b.add(s49, 1);
		b.add(s50, 7);
		set_int(param_custom_window_configs, stream_id, 1);
	}
	if (f.ir_exposure_window) {
		b.add(s48, 2);
		b.add(s49, 1);
		b.add(s50, 7);
	}
}

} // namespace

struct dbus_interface *configuration_interface_new(void)
{
	return dbus_interface_new("com.tovi.Configuration", nullptr);
}

struct dbus_interface *qorex_legacy_interface_new(const struct dbus_api_config *config, int32_t stream_id,
                                                  const char *bus_name, const char *object_path)
{
	legacy_build b;
	if (config) {
		b.map = map_for(stream_id, bus_name, object_path);
		add_qorex_sets(b, config->qorex_legacy_api_config, stream_id);
	}
	return finish(&b);
}

struct dbus_interface *qorex_legacy_global_interface_new(const char *bus_name, const char *object_path)
{
	legacy_build b;
	b.map = map_for(-1, bus_name, object_path);
	b.add(s1, group_image_source);
	return finish(&b);
}

struct dbus_interface *video_legacy_interface_new(const struct dbus_api_config *config, int32_t stream_id,
                                                  const char *bus_name, const char *object_path)
{
	legacy_build b;
	if (config) {
		const video_legacy_config &v = config->video_legacy_api_config;
		b.map = map_for(stream_id, bus_name, object_path);
		if (v.video_legacy_api_type == 0) {
			b.add(s51, group_image_source);
			b.add(s52, 19);
			b.add(s53, 0);
		}
		if (v.src_rot_param_180)
			b.add(s54, 0);
		if (v.src_rot_param)
			b.add(s55, 0);
	}
	return finish(&b);
}

struct dbus_interface *video_legacy_global_interface_new(const char *bus_name, const char *object_path)
{
	legacy_build b;
	b.map = map_for(-1, bus_name, object_path);
	b.add(s56, group_image_source);
	return finish(&b);
}

void legacy_maps_free(void)
{
	delete maps;
	maps = nullptr;
}
