#pragma once
// The functions a product configuration can name (camera-mode hooks, lens and
// light-sensor detection, temperature reactions) and the HDR, IR and
// illuminance parameter callbacks.

struct prodconf;
struct prodconf_schema;

// Fills the object's function registry and its parameter-callback rows.
void prodconf_register_hooks(struct prodconf *conf);

extern const struct prodconf_schema prodconf_light_sensor_schema;
extern const struct prodconf_schema prodconf_iris_detection_schema;
