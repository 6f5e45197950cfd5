// The fixed vocabulary of parameters, in table order (by id; id 2 is not used).
#include "param_map.h"

namespace
{

const char *const names_10[] = {"no", "yes", nullptr};
const char *const names_12[] = {
    "auto", "hold", "flickerfree50", "flickerfree60", "flickerreduced50", "flickerreduced60", nullptr};
const char *const names_13[] = {"0", "50", "100", nullptr};
const char *const names_15[] = {"auto",  "center", "upper",  "lower", "left",
                                "right", "spot",   "custom", "full",  nullptr};
const char *const names_21[] = {"auto",         "auto_indoor",   "auto_outdoor",   "hold",
                                "manual",       "fixed_outdoor", "fixed_outdoor1", "fixed_outdoor2",
                                "fixed_indoor", "fixed_fluor",   "fixed_fluor1",   "fixed_fluor2",
                                "sodium",       "mercury",       "onepush",        nullptr};
const char *const names_24[] = {"auto", "custom", nullptr};
const char *const names_33[] = {"no", "yes", nullptr};
const char *const names_34[] = {"no", "yes", nullptr};
const char *const names_40[] = {"60Hz", "50Hz", nullptr};
const char *const names_41[] = {"off", "on", nullptr};
const char *const names_42[] = {"equalization", "linear", nullptr};
const char *const names_46[] = {"0", "1", nullptr};
const char *const names_52[] = {"include", "exclude", "disabled", nullptr};
const char *const names_53[] = {"no", "yes", nullptr};
const char *const names_55[] = {"no", "yes", "auto", nullptr};
const char *const names_57[] = {"no", "yes", nullptr};
const char *const names_60[] = {"no", "yes", nullptr};
const char *const names_61[] = {"no", "yes", nullptr};
const char *const names_74[] = {"cmos", "ccd", "thermal", nullptr};
const char *const names_82[] = {"ok", "noautomatic", "disabled", nullptr};
const char *const names_100[] = {"normal", "850nm", "950nm", nullptr};
const char *const names_101[] = {"auto", "opened", "closed", nullptr};
const char *const names_102[] = {"none", "calibrate", "calibrate_with_shutter", nullptr};
const char *const names_106[] = {"90", "0", "-90", nullptr};
const char *const names_112[] = {"auto",        "720p25",      "720p30",  "720p50",     "720p60",
                                 "1080i50",     "1080i60",     "1080p25", "1080p30",    "1080p50",
                                 "1080p60",     "PAL",         "NTSC",    "960x720p50", "960x720p60",
                                 "960x720Hp50", "960x720Hp60", "2160p25", "2160p30",    nullptr};
const char *const names_113[] = {"none",      "NTSC",      "PAL",      "HDTV720p",
                                 "HDTV1080i", "HDTV1080p", "HDV1080i", nullptr};
const char *const names_114[] = {"none", "field_blend", "hw_dei", "hw_dei_motion_adaptive", nullptr};
const char *const names_122[] = {"off", "75ohm", nullptr};
const char *const names_123[] = {"false", "true", nullptr};
const char *const names_127[] = {"off", "on", nullptr};
const char *const names_131[] = {"continuous", "custom_focus_area", "installation_focus", nullptr};
const char *const names_134[] = {"no", "yes", nullptr};
const char *const names_136[] = {"off", "on", "auto", nullptr};
const char *const names_138[] = {"off", "on", "demo", nullptr};
const char *const names_141[] = {"no", "yes", nullptr};
const char *const names_144[] = {"false", "true", nullptr};
const char *const names_152[] = {"forensic", "vivid",         "traffic_overview", "indoor",
                                 "outdoor",  "license_plate", "backlit_entrance", nullptr};
const char *const names_159[] = {"unknown", "tovi", "e-kt", "cs", nullptr};
const char *const names_162[] = {"false", "true", nullptr};
const char *const names_165[] = {"no", "yes", nullptr};
const char *const names_175[] = {"no", "yes", nullptr};
const char *const names_176[] = {"0", "90", "180", "270", nullptr};
const char *const names_178[] = {"off", "on", nullptr};
const char *const names_179[] = {"off", "on", nullptr};
const char *const names_180[] = {"off", "on", nullptr};

} // namespace

// clang-format off
const struct param_def param_map_table[] = {
    // id, name, group, key, type, signal, signal name, names, min, max, default, default text, saved
    {1, "VistradPause", "VistradPause", "VistradPause", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 1, 0, nullptr, false},
    {3, "Brightness", "ImageSource.I0.Sensor", "Brightness", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {4, "ColorLevel", "ImageSource.I0.Sensor", "ColorLevel", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {5, "Contrast", "ImageSource.I0.Sensor", "Contrast", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {6, "ShadowsRecovery", "ImageSource.I0.Sensor", "ShadowsRecovery", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 0, nullptr, true},
    {7, "HighlightsRecovery", "ImageSource.I0.Sensor", "HighlightsRecovery", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 0, nullptr, true},
    {8, "HLCMaskTone", "ImageSource.I0.Sensor", "HLCMaskTone", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 0, nullptr, true},
    {9, "HLCSensitivity", "ImageSource.I0.Sensor", "HLCSensitivity", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 0, nullptr, true},
    {10, "DynamicContrastEnabled", "ImageSource.I0.Sensor", "DynamicContrastEnabled", PARAM_TYPE_ENUM, false, nullptr, names_10, 0, 1, 0, nullptr, true},
    {11, "DynamicContrastLevel", "ImageSource.I0.Sensor", "DynamicContrastLevel", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {12, "Exposure", "ImageSource.I0.Sensor", "Exposure", PARAM_TYPE_ENUM, false, nullptr, names_12, 0, 5, 0, nullptr, true},
    {13, "ExposurePriority", "ImageSource.I0.Sensor", "ExposurePriority", PARAM_TYPE_ENUM, false, nullptr, names_13, 0, 2, 1, nullptr, true},
    {14, "ExposureValue", "ImageSource.I0.Sensor", "ExposureValue", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {15, "ExposureWindow", "ImageSource.I0.Sensor", "ExposureWindow", PARAM_TYPE_ENUM, false, nullptr, names_15, 0, 8, 0, nullptr, true},
    {16, "MinExposureTime", "ImageSource.I0.Sensor", "MinExposureTime", PARAM_TYPE_INT, false, nullptr, nullptr, -60, 2000000, 1, nullptr, true},
    {17, "MaxExposureTime", "ImageSource.I0.Sensor", "MaxExposureTime", PARAM_TYPE_INT, false, nullptr, nullptr, -60, 2000000, -1, nullptr, true},
    {18, "MinGain", "ImageSource.I0.Sensor", "MinGain", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 0, nullptr, true},
    {19, "MaxGain", "ImageSource.I0.Sensor", "MaxGain", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 100, nullptr, true},
    {20, "Sharpness", "ImageSource.I0.Sensor", "Sharpness", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {21, "WhiteBalance", "ImageSource.I0.Sensor", "WhiteBalance", PARAM_TYPE_ENUM, false, nullptr, names_21, 0, 14, 0, nullptr, true},
    {22, "WBManualCoordX", "ImageSource.I0.Sensor", "CoordX", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 5000, nullptr, true},
    {23, "WBManualCoordY", "ImageSource.I0.Sensor", "CoordY", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 5000, nullptr, true},
    {24, "WhiteBalanceWindow", "ImageSource.I0.Sensor", "WhiteBalanceWindow", PARAM_TYPE_ENUM, false, nullptr, names_24, 0, 1, 0, nullptr, true},
    {25, "WhiteBalanceXstart", "ImageSource.I0.Sensor", "WhiteBalanceXstart", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 0, nullptr, true},
    {26, "WhiteBalanceYstart", "ImageSource.I0.Sensor", "WhiteBalanceYstart", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 0, nullptr, true},
    {27, "WhiteBalanceXstop", "ImageSource.I0.Sensor", "WhiteBalanceXstop", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 9999, nullptr, true},
    {28, "WhiteBalanceYstop", "ImageSource.I0.Sensor", "WhiteBalanceYstop", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 9999, nullptr, true},
    {29, "ManualShutter", "ImageSource.I0.Sensor", "ManualShutter", PARAM_TYPE_INT, false, nullptr, nullptr, -60, 2000000, 33333, nullptr, true},
    {30, "ManualGain", "ImageSource.I0.Sensor", "ManualGain", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 100, nullptr, true},
    {31, "MaxAutoGainControlNormal", "ImageSource.I0.Sensor", "MaxAutoGainControlNormal", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {32, "MaxAutoGainControlLowlight", "ImageSource.I0.Sensor", "MaxAutoGainControlLowlight", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 100, nullptr, true},
    {33, "ManualShutterControl", "ImageSource.I0.Sensor", "ManualShutterControl", PARAM_TYPE_ENUM, false, nullptr, names_33, 0, 1, 0, nullptr, true},
    {34, "ManualGainControl", "ImageSource.I0.Sensor", "ManualGainControl", PARAM_TYPE_ENUM, false, nullptr, names_34, 0, 1, 0, nullptr, true},
    {35, "MaxFastShutter", "ImageSource.I0.Sensor", "MaxFastShutter", PARAM_TYPE_INT, false, nullptr, nullptr, -60, 2000000, 1000, nullptr, true},
    {36, "MaxSlowShutter", "ImageSource.I0.Sensor", "MaxSlowShutter", PARAM_TYPE_INT, false, nullptr, nullptr, -60, 2000000, 166667, nullptr, true},
    {37, "ExposurePriorityNormal", "ImageSource.I0.Sensor", "ExposurePriorityNormal", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 0, nullptr, true},
    {38, "ExposurePriorityLowlight", "ImageSource.I0.Sensor", "ExposurePriorityLowlight", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 100, nullptr, true},
    {39, "CaptureMode", "ImageSource.I0.Sensor", "CaptureMode", PARAM_TYPE_INT, true, nullptr, nullptr, 1, 6, 1, nullptr, true},
    {40, "CaptureFrequency", "ImageSource.I0", "CaptureFrequency", PARAM_TYPE_ENUM, false, nullptr, names_40, 0, 1, 0, nullptr, true},
    {41, "WDR", "ImageSource.I0.Sensor", "WDR", PARAM_TYPE_ENUM, false, nullptr, names_41, 0, 1, 1, nullptr, true},
    {42, "AutomaticGainControl", "ImageSource.I0.Sensor", "AutomaticGainControl", PARAM_TYPE_ENUM, false, nullptr, names_42, 0, 1, 0, nullptr, true},
    {43, "ColorHue", "ImageSource.I0.Sensor", "ColorHue", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {44, "CalibrationTimeInterval", "ImageSource.I0.Sensor.Calibration", "TimeInterval", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 10000, 720, nullptr, true},
    {45, "TemperatureDeltaMillic", "ImageSource.I0.Sensor.Calibration", "TemperatureDeltaMillic", PARAM_TYPE_INT, false, nullptr, nullptr, 100, 10000, 200, nullptr, true},
    {46, "CalibrationTestPattern", "ImageSource.I0.Sensor.Calibration", "TestPattern", PARAM_TYPE_ENUM, false, nullptr, names_46, 0, 1, 0, nullptr, true},
    {47, "CustomExposureWindowWeight", "ImageSource.I0.Sensor.CustomExposureWindow", "Weight", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 100, nullptr, true},
    {48, "CustomExposureWindow.C0.Left", "ImageSource.I0.Sensor.CustomExposureWindow.C0", "Left", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 2499, nullptr, true},
    {49, "CustomExposureWindow.C0.Right", "ImageSource.I0.Sensor.CustomExposureWindow.C0", "Right", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 7497, nullptr, true},
    {50, "CustomExposureWindow.C0.Top", "ImageSource.I0.Sensor.CustomExposureWindow.C0", "Top", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 2499, nullptr, true},
    {51, "CustomExposureWindow.C0.Bottom", "ImageSource.I0.Sensor.CustomExposureWindow.C0", "Bottom", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 7497, nullptr, true},
    {52, "CustomExposureWindow.C0.WindowType", "ImageSource.I0.Sensor.CustomExposureWindow.C0", "WindowType", PARAM_TYPE_ENUM, false, nullptr, names_52, 0, 2, 2, nullptr, true},
    {53, "IrisEnabled", "ImageSource.I0.DCIris", "Enabled", PARAM_TYPE_ENUM, false, nullptr, names_53, 0, 1, 1, nullptr, true},
    {54, "IrisPosition", "ImageSource.I0.DCIris", "Position", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {55, "IrCutFilter", "ImageSource.I0.DayNight", "IrCutFilter", PARAM_TYPE_ENUM, false, nullptr, names_55, 0, 2, 2, nullptr, true},
    {56, "IRCutShiftLevel", "ImageSource.I0.DayNight", "ShiftLevel", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 100, nullptr, true},
    {57, "DayNightShiftLevelEnabled", "ImageSource.I0.DayNight", "DayNightShiftLevelEnabled", PARAM_TYPE_ENUM, false, nullptr, names_57, 0, 1, 0, nullptr, true},
    {58, "IrCutFilterState", "IrCutFilterState", "IrCutFilterState", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 1, 1, nullptr, false},
    {59, "AutoIrCutFilterHysteresis", "ImageSource.I0.Sensor", "AutoIrCutFilterHysteresis", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {60, "DCIris", "Properties.ImageSource", "DCIris", PARAM_TYPE_ENUM, false, nullptr, names_60, 0, 1, 0, nullptr, false},
    {61, "PositionableIris", "Properties.ImageSource", "PositionableIris", PARAM_TYPE_ENUM, false, nullptr, names_61, 0, 1, 0, nullptr, false},
    {62, "dciris_min_F", "ImageSource.I0.DCIris", "dciris_min_F", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 30000, 0, nullptr, false},
    {63, "dciris_max_F", "ImageSource.I0.DCIris", "dciris_max_F", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 99999, 0, nullptr, false},
    {64, "dciris_best_F", "ImageSource.I0.DCIris", "dciris_best_F", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 30000, 0, nullptr, false},
    {65, "dciris_current_F", "ImageSource.I0.DCIris", "dciris_current_F", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 30000, 0, nullptr, false},
    {66, "dciris_current_position", "ImageSource.I0.DCIris", "dciris_current_position", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 0, nullptr, false},
    {67, "IsDay", "IsDay", "IsDay", PARAM_TYPE_INT, true, nullptr, nullptr, 0, 1, 1, nullptr, false},
    {68, "Snr", "Snr", "Snr", PARAM_TYPE_INT, false, nullptr, nullptr, (-2147483647 - 1), 2147483647, 0, nullptr, false},
    {69, "SensorMaxGainDb", "SensorMaxGainDb", "SensorMaxGainDb", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 1000, 0, nullptr, false},
    {70, "SensorLineTime", "SensorLineTime", "SensorLineTime", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2147483647, 0, nullptr, false},
    {71, "SensorMinExposureTime", "SensorMinExposureTime", "SensorMinExposureTime", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2147483647, 0, nullptr, false},
    {72, "SensorMaxExposureTime", "SensorMaxExposureTime", "SensorMaxExposureTime", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2000000, 2000000, nullptr, false},
    {73, "SensorMaxFramerate", "SensorMaxFramerate", "SensorMaxFramerate", PARAM_TYPE_INT, true, nullptr, nullptr, 0, 180000, 30000, nullptr, false},
    {74, "SensorType", "SensorType", "SensorType", PARAM_TYPE_ENUM, true, nullptr, names_74, 0, 2, 0, nullptr, false},
    {75, "SensorTemperature", "SensorTemperature", "SensorTemperature", PARAM_TYPE_INT, false, nullptr, nullptr, (-2147483647 - 1), 2147483647, 0, nullptr, false},
    {76, "TemperatureAnalyzerUpdateRef", "TemperatureAnalyzerUpdateRef", "TemperatureAnalyzerUpdateRef", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2147483647, 0, nullptr, false},
    {77, "TemperatureAnalyzerInterval", "TemperatureAnalyzerInterval", "TemperatureAnalyzerInterval", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2147483647, 2, nullptr, false},
    {78, "TemperatureAnalyzerDelta", "TemperatureAnalyzerDelta", "TemperatureAnalyzerDelta", PARAM_TYPE_FIX, false, nullptr, nullptr, 0, 1638400, 32768, nullptr, false},
    {79, "IrisApertureOpen", "ImageSource.I0.Imaging", "IrisApertureOpen", PARAM_TYPE_FIX, false, nullptr, nullptr, 0, 1638400, 29491, nullptr, false},
    {80, "IrisApertureBest", "ImageSource.I0.Imaging", "IrisApertureBest", PARAM_TYPE_FIX, false, nullptr, nullptr, 0, 1638400, 49152, nullptr, false},
    {81, "IrisApertureDiffr", "ImageSource.I0.Imaging", "IrisApertureDiffr", PARAM_TYPE_FIX, false, nullptr, nullptr, 0, 1638400, 147456, nullptr, false},
    {82, "IrisState", "ImageSource.I0.Imaging", "IrisState", PARAM_TYPE_ENUM, false, nullptr, names_82, 0, 2, 2, nullptr, false},
    {83, "FocusPosition", "FocusPosition", "FocusPosition", PARAM_TYPE_INT, false, nullptr, nullptr, -163840000, 16384000, 0, nullptr, false},
    {84, "FocusStop", "FocusStop", "FocusStop", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2147483647, 0, nullptr, false},
    {85, "ZoomPosition", "ZoomPosition", "ZoomPosition", PARAM_TYPE_INT, false, nullptr, nullptr, 16384, 16384000, 16384, nullptr, false},
    {86, "ZoomStop", "ZoomStop", "ZoomStop", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2147483647, 0, nullptr, false},
    {87, "ZoomTraceMode", "ZoomTraceMode", "ZoomTraceMode", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2147483647, 1, nullptr, false},
    {88, "OpticsMaxMag", "OpticsMaxMag", "OpticsMaxMag", PARAM_TYPE_FIX, false, nullptr, nullptr, 16384, 16384000, 16384, nullptr, false},
    {89, "OpticsWideHFoV", "OpticsWideHFoV", "OpticsWideHFoV", PARAM_TYPE_FIX, false, nullptr, nullptr, 0, 5898240, 655360, nullptr, false},
    {90, "OpticsWideVFoV", "OpticsWideVFoV", "OpticsWideVFoV", PARAM_TYPE_FIX, false, nullptr, nullptr, 0, 5898240, 491520, nullptr, false},
    {91, "OpticsTeleHFoV", "OpticsTeleHFoV", "OpticsTeleHFoV", PARAM_TYPE_FIX, false, nullptr, nullptr, 0, 5898240, 65536, nullptr, false},
    {92, "OpticsTeleVFoV", "OpticsTeleVFoV", "OpticsTeleVFoV", PARAM_TYPE_FIX, false, nullptr, nullptr, 0, 5898240, 49152, nullptr, false},
    {93, "AutoFocus", "AutoFocus", "AutoFocus", PARAM_TYPE_INT, true, nullptr, nullptr, 0, 1, 1, nullptr, false},
    {94, "SpotFocus", "SpotFocus", "SpotFocus", PARAM_TYPE_INT, true, nullptr, nullptr, 0, 1, 0, nullptr, false},
    {95, "AFSpeed", "AFSpeed", "AFSpeed", PARAM_TYPE_INT, true, nullptr, nullptr, 0, 255, 128, nullptr, false},
    {96, "AFNearLimit", "AFNearLimit", "AFNearLimit", PARAM_TYPE_INT, true, nullptr, nullptr, -163840000, 163840000, 54613, nullptr, false},
    {97, "AFFarLimit", "AFFarLimit", "AFFarLimit", PARAM_TYPE_INT, true, nullptr, nullptr, -163840000, 163840000, -3277, nullptr, false},
    {98, "FocusWindow0", "ImageSource.I0.Focus.Window", "W0", PARAM_TYPE_STRING, true, nullptr, nullptr, 0, 0, 0, "0,0:1,0:0,1:1,1", true},
    {99, "FocusScan", "FocusScan", "FocusScan", PARAM_TYPE_STRING, true, nullptr, nullptr, 0, 0, 0, "0:2:1.0:1", false},
    {100, "FocusTraceCurve", "ImageSource.I0.Sensor", "FocusTraceCurve", PARAM_TYPE_ENUM, false, nullptr, names_100, 0, 2, 0, nullptr, true},
    {101, "ShutterMode", "ShutterMode", "ShutterMode", PARAM_TYPE_ENUM, false, nullptr, names_101, 0, 2, 0, nullptr, false},
    {102, "CalibrateImage", "CalibrateImage", "CalibrateImage", PARAM_TYPE_ENUM, false, nullptr, names_102, 0, 2, 0, nullptr, false},
    {103, "OrlentaCapabilities", "Capabilities", "Capabilities", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2147483647, 0, nullptr, false},
    {104, "CamBlockError", "CamBlockError", "CamBlockError", PARAM_TYPE_INT, true, nullptr, nullptr, 0, 2147483647, 0, nullptr, false},
    {105, "ProductMaxGain", "ImageSource.I0.Imaging", "ProductMaxGain", PARAM_TYPE_FIX, false, nullptr, nullptr, 16384, 1073741824, 2097152, nullptr, false},
    {106, "CameraTiltOrientation", "ImageSource.I0", "CameraTiltOrientation", PARAM_TYPE_ENUM, true, nullptr, names_106, 0, 2, 2, nullptr, true},
    {107, "IsAboveIlluminanceLevel", "IsAboveIlluminanceLevel", "IsAboveIlluminanceLevel", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 1, 1, nullptr, false},
    {108, "MaxFramerate", "MaxFramerate", "MaxFramerate", PARAM_TYPE_INT, true, "MaxFramerateChanged", nullptr, 0, 180000, 30000, nullptr, false},
    {109, "VideoConnectedInternal", "ConnectedInternal", "ConnectedInternal", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 255, 255, nullptr, false},
    {110, "VideoConnected", "Connected", "Connected", PARAM_TYPE_INT, true, "VideoConnected", nullptr, 0, 255, 0, nullptr, false},
    {111, "VideoType", "VideoType", "VideoType", PARAM_TYPE_INT, true, "VideoTypeChanged", nullptr, -1, 5, -1, nullptr, false},
    {112, "VideoCaptureMode", "ImageSource.I0.Video", "CaptureMode", PARAM_TYPE_ENUM, false, nullptr, names_112, 0, 18, 0, nullptr, true},
    {113, "VideoTypeString", "VideoTypeString", "VideoTypeString", PARAM_TYPE_ENUM, false, nullptr, names_113, 0, 6, 0, nullptr, false},
    {114, "DeinterlaceMode", "ImageSource.I0.Video", "DeinterlaceMode", PARAM_TYPE_ENUM, false, nullptr, names_114, 0, 3, 1, nullptr, true},
    {115, "Saturation", "ImageSource.I0.Video", "Saturation", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {116, "MinXOffset", "MinXOffset", "MinXOffset", PARAM_TYPE_INT, false, nullptr, nullptr, -4, -4, -4, nullptr, false},
    {117, "MaxXOffset", "MaxXOffset", "MaxXOffset", PARAM_TYPE_INT, false, nullptr, nullptr, 5, 5, 5, nullptr, false},
    {118, "XOffset", "ImageSource.I0.Video", "XOffset", PARAM_TYPE_INT, false, nullptr, nullptr, -4, 5, 0, nullptr, true},
    {119, "MinYOffset", "MinYOffset", "MinYOffset", PARAM_TYPE_INT, false, nullptr, nullptr, -8, -8, -8, nullptr, true},
    {120, "MaxYOffset", "MaxYOffset", "MaxYOffset", PARAM_TYPE_INT, false, nullptr, nullptr, 8, 8, 8, nullptr, false},
    {121, "YOffset", "ImageSource.I0.Video", "YOffset", PARAM_TYPE_INT, false, nullptr, nullptr, -8, 8, 0, nullptr, true},
    {122, "VideoTermination", "ImageSource.I0.Video", "VideoTermination", PARAM_TYPE_ENUM, false, nullptr, names_122, 0, 1, 1, nullptr, true},
    {123, "AntialiasingEnabled", "ImageSource", "AntialiasingEnabled", PARAM_TYPE_BOOL, false, nullptr, names_123, 0, 1, 0, nullptr, true},
    {124, "NoiseReduction", "ImageSource.I0.Video", "NoiseReduction", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {125, "CaptureWidth", "CaptureWidth", "CaptureWidth", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2147483647, 720, nullptr, false},
    {126, "CaptureHeight", "CaptureHeight", "CaptureHeight", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2147483647, 576, nullptr, false},
    {127, "SensorNoiseReductionEnabled", "ImageSource.I0.Sensor", "NoiseReduction", PARAM_TYPE_ENUM, false, nullptr, names_127, 0, 1, 1, nullptr, true},
    {128, "SensorNoiseReductionTuning", "ImageSource.I0.Sensor", "NoiseReductionTuning", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {129, "YCNoiseReduction", "YCNoiseReduction", "YCNoiseReduction", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 0, nullptr, false},
    {130, "CustomFocusArea0", "CustomFocus", "CustomFocusArea0", PARAM_TYPE_STRING, true, nullptr, nullptr, 0, 0, 0, "0:0,4000:4000", false},
    {131, "FocusState", "FocusState", "FocusState", PARAM_TYPE_ENUM, true, nullptr, names_131, 0, 2, 0, nullptr, false},
    {132, "LocalContrast", "ImageSource.I0.Sensor", "LocalContrast", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {133, "HeadId", "HeadId", "HeadId", PARAM_TYPE_INT, false, nullptr, nullptr, (-2147483647 - 1), 2147483647, -1, nullptr, true},
    {134, "WDRavailable", "WDRavailable", "WDRavailable", PARAM_TYPE_ENUM, false, nullptr, names_134, 0, 1, 1, nullptr, false},
    {135, "ResetOpticsMotorPos", "ResetOpticsMotorPos", "ResetOpticsMotorPos", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2147483647, 0, nullptr, false},
    {136, "Defog", "ImageSource.I0.Sensor", "Defog", PARAM_TYPE_ENUM, false, nullptr, names_136, 0, 2, 0, nullptr, true},
    {137, "DefogEffect", "ImageSource.I0.Sensor", "DefogEffect", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {138, "Stabilizer", "ImageSource.I0.Sensor", "Stabilizer", PARAM_TYPE_ENUM, false, nullptr, names_138, 0, 2, 0, nullptr, true},
    {139, "StabilizerMargin", "ImageSource.I0.Sensor", "StabilizerMargin", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 50, nullptr, true},
    {140, "StabilizerFocalLength", "ImageSource.I0.Sensor", "StabilizerFocalLength", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2147483647, 0, nullptr, true},
    {141, "FixedExposureAvailable", "ImageSource.I0.Sensor", "FixedExposureAvailable", PARAM_TYPE_ENUM, false, nullptr, names_141, 0, 1, 1, nullptr, true},
    {142, "AFAdaptiveNearLimit", "AFAdaptiveNearLimit", "AFAdaptiveNearLimit", PARAM_TYPE_INT, true, nullptr, nullptr, 0, 1638400, 0, nullptr, false},
    {143, "ProductAreaChanged", "ProductAreaChanged", "ProductAreaChanged", PARAM_TYPE_INT, true, "ProductAreaChanged", nullptr, 0, 1, 0, nullptr, false},
    {144, "VideoStarted", "VideoStarted", "VideoStarted", PARAM_TYPE_BOOL, true, nullptr, names_144, 0, 1, 0, nullptr, false},
    {145, "HeadCrop", "HeadCrop", "HeadCrop", PARAM_TYPE_INT, false, nullptr, nullptr, (-2147483647 - 1), 2147483647, 0, nullptr, false},
    {146, "ZoneTemperatures", "ZoneTemperatures", "ZoneTemperatures", PARAM_TYPE_STRING, false, nullptr, nullptr, 0, 0, 0, "", false},
    {147, "WDRtype", "WDRtype", "WDRtype", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2, 0, nullptr, false},
    {148, "WDRLevel", "ImageSource.I0.Sensor", "WDRLevel", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {149, "OrlentaExtraCapabilities", "ExtraCapabilities", "ExtraCapabilities", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 2147483647, 0, nullptr, false},
    {150, "SlaveTo", "ImageSource.I0.Sensor", "SlaveTo", PARAM_TYPE_INT, true, nullptr, nullptr, -1, 7, -1, nullptr, false},
    {151, "SensorSerialNumber", "SensorSerialNumber", "SensorSerialNumber", PARAM_TYPE_STRING, false, nullptr, nullptr, 0, 0, 0, "", false},
    {152, "SceneProfile", "ImageSource.I0", "SceneProfile", PARAM_TYPE_ENUM, false, nullptr, names_152, 0, 6, 0, nullptr, true},
    {153, "ZoomSpeed", "ZoomSpeed", "ZoomSpeed", PARAM_TYPE_INT, true, nullptr, nullptr, 0, 16384, 16384, nullptr, false},
    {154, "AutoIris", "AutoIris", "AutoIris", PARAM_TYPE_INT, true, nullptr, nullptr, 0, 1, 1, nullptr, false},
    {155, "ActualExposure", "ActualExposure", "ActualExposure", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 9999, 5000, nullptr, false},
    {156, "DatacacheUpdate", "DatacacheUpdate", "DatacacheUpdate", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 1, 0, nullptr, false},
    {157, "AFNearLimitMax", "AFNearLimitMax", "AFNearLimitMax", PARAM_TYPE_INT, true, nullptr, nullptr, -163840000, 163840000, 54613, nullptr, false},
    {158, "AFFarLimitMax", "AFFarLimitMax", "AFFarLimitMax", PARAM_TYPE_INT, true, nullptr, nullptr, -163840000, 163840000, -3277, nullptr, false},
    {159, "CamBlockType", "CamBlockType", "CamBlockType", PARAM_TYPE_ENUM, false, nullptr, names_159, 0, 3, 0, nullptr, false},
    {160, "ActiveAFStrength", "ActiveAFStrength", "ActiveAFStrength", PARAM_TYPE_INT, true, nullptr, nullptr, 0, 16384, 8192, nullptr, false},
    {161, "TNF", "TNF", "TNF", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 100, nullptr, true},
    {162, "VideoDisturbance", "Disturbance", "Disturbance", PARAM_TYPE_BOOL, false, nullptr, names_162, 0, 1, 0, nullptr, false},
    {163, "CustomExposureWindowNbrOfConfigs", "ImageSource.I0.Sensor.CustomExposureWindow", "NbrOfConfigs", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 1, 0, nullptr, false},
    {164, "CameraName", "ImageSource.I0", "Name", PARAM_TYPE_STRING, false, nullptr, nullptr, 0, 0, 0, "Camera", true},
    {165, "AutoRotationEnabled", "ImageSource.I0", "AutoRotationEnabled", PARAM_TYPE_ENUM, false, nullptr, names_165, 0, 1, 1, nullptr, true},
    {166, "AutoRotation", "ImageSource.I0", "AutoRotation", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 360, 0, nullptr, false},
    {167, "NbrOfSources", "ImageSource", "NbrOfSources", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 7, 0, nullptr, false},
    {168, "CaptureModeLazy", nullptr, "CaptureModeLazy", PARAM_TYPE_INT, false, nullptr, nullptr, -1, 100, -1, nullptr, true},
    {169, "SNF", "SNF", "SNF", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 100, nullptr, true},
    {170, "ToneMapping", "ToneMapping", "ToneMapping", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {171, "RedBalance", "RedBalance", "RedBalance", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {172, "BlueBalance", "BlueBalance", "BlueBalance", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {173, "ExposureResponsiveness", "ExposureResponsiveness", "ExposureResponsiveness", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 100, 50, nullptr, true},
    {174, "AssistedAutoFocus", "AssistedAutoFocus", "AssistedAutoFocus", PARAM_TYPE_INT, false, nullptr, nullptr, 0, 1, 1, nullptr, false},
    {175, "SourceRotation", "ImageSource.I0", "SourceRotation", PARAM_TYPE_ENUM, false, nullptr, names_175, 0, 1, 1, nullptr, true},
    {176, "Rotation", "ImageSource.I0", "Rotation", PARAM_TYPE_ENUM, false, nullptr, names_176, 0, 3, 0, nullptr, true},
    {177, "PixelPitch", "PixelPitch", "PixelPitch", PARAM_TYPE_FIX, false, nullptr, nullptr, 0, 1638400, 0, nullptr, false},
    {178, "FocusTemperatureCorrection", "ImageSource.I0.Focus", "FocusTemperatureCorrection", PARAM_TYPE_ENUM, false, nullptr, names_178, 0, 1, 1, nullptr, true},
    {179, "MotionAdaptiveExposure", "MotionAdaptiveExposure", "MotionAdaptiveExposure", PARAM_TYPE_ENUM, false, nullptr, names_179, 0, 1, 0, nullptr, true},
    {180, "LowLatencyMode", "LowLatencyMode", "LowLatencyMode", PARAM_TYPE_ENUM, false, nullptr, names_180, 0, 1, 0, nullptr, true},
    {0, nullptr, nullptr, nullptr, PARAM_TYPE_UNKNOWN, false, nullptr, nullptr, 0, 0, 0, nullptr, false},
};
// clang-format on
