#pragma once
// Publishing the lens state into the channel's data cache while another
// program reads it: the "optics" cache gets the field of view, magnification
// and focal length of each motor-optics record's zoom and focus positions;
// the "optics_status" cache gets the magnification, focal length and a
// moving flag whenever the zoom announces a change (parameter
// DatacacheUpdate). Both write only while a reader waits.

#include <stdint.h>

struct prodconf;
struct control;

#define DATACACHE_OPTICS_CACHE "optics"
#define DATACACHE_OPTICS_STATUS_CACHE "optics_status"
#define DATACACHE_OPTICS_COUNT 10
// The parameter the zoom sets again on every move, stop and update.
#define DATACACHE_UPDATE_PARAM 156
// Flags word of a status element.
#define DATACACHE_STATUS_ZOOM_MOVING 0x1u

// An "optics" element.
struct datacache_optics_element {
	float hfov; // degrees
	float vfov;
	float magnification;
	float focal_length; // millimetres
	uint32_t zero;
};
static_assert(sizeof(datacache_optics_element) == 20, "an optics element is 20 bytes");

// An "optics_status" element.
struct datacache_status_element {
	float magnification;
	float focal_length; // millimetres
	uint32_t flags;     // DATACACHE_STATUS_*
};
static_assert(sizeof(datacache_status_element) == 12, "an optics status element is 12 bytes");

// The item "algo_datacache_handler" of a stream.
struct datacache_handler_config {
	uint8_t optics_handler_en;
	uint8_t zoom_handler_en;
	int32_t optics_in_data; // the motor-optics record's data type
};

// The handler kind of the product configuration: adds the stream's group
// with the enabled steps and gives the stream's settings (g_free), or null
// when they cannot be read.
void *algo_datacache_handler(struct prodconf *conf, struct control *engine, int32_t stream_id);
