// The serial thermal lens: a motorised zoom for a thermal sensor driven over
// a serial line. Messages go out one at a time from a 50 ms timeout and each
// waits for its answer; a garbled or missing answer resends the same frame,
// so a move is never lost to a noisy line.

#include "thermal_lens.h"

#include <fcntl.h>
#include <glib.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "camblock.h"
#include "core/control.h"
#include "core/debug_output.h"
#include "core/prodconf.h"
#include "core/prodconf_schema_build.h"
#include "focus_zoom.h"
#include "ircut.h"
#include "iris.h"
#include "optics_math.h"
#include "thermal_lens_serial.h"

namespace
{

// q / 16384 rounded half up, for the non-negative products of the lens model.
int64_t q14_round(int64_t v)
{
	return (v + 8192) >> 14;
}

} // namespace

uint16_t thermal_lens_crc16(const uint8_t *bytes, size_t length)
{
	return thermal_lens_serial_crc16(bytes, length);
}

uint8_t *thermal_lens_frame_new(const uint8_t *payload, size_t length, size_t *frame_length)
{
	if (!payload || length == 0 || length > 255)
		return nullptr;
	size_t total = length + THERMAL_LENS_OVERHEAD;
	uint8_t *frame = static_cast<uint8_t *>(g_malloc0(total));
	frame[0] = THERMAL_LENS_FRAME_START;
	frame[4] = (uint8_t)length;
	memcpy(frame + THERMAL_LENS_HEADER, payload, length);
	frame[total - 1] = THERMAL_LENS_FRAME_END;
	if (frame_length)
		*frame_length = total;
	return frame;
}

void thermal_lens_frame_seal(uint8_t *frame, uint8_t sequence)
{
	size_t crc_at = THERMAL_LENS_HEADER + frame[4];
	frame[1] = sequence;
	uint16_t crc = thermal_lens_crc16(frame, crc_at);
	frame[crc_at] = (uint8_t)(crc & 0xFF);
	frame[crc_at + 1] = (uint8_t)(crc >> 8);
	frame[crc_at + 2] = THERMAL_LENS_FRAME_END;
}

uint8_t thermal_lens_answer_payload(uint8_t code)
{
	return thermal_lens_serial_answer_payload(code);
}

void thermal_lens_fov(int32_t zoom, uint32_t *horizontal, uint32_t *vertical)
{
	int64_t q = optics_div_round((int64_t)zoom * 16384, 7936);
	int64_t span = 83506 - q;
	if (horizontal)
		*horizontal = (uint32_t)q14_round(span * 97157);
	if (vertical)
		*vertical = (uint32_t)q14_round(span * 77824);
}

// --- timeouts --------------------------------------------------------------

namespace
{

guint real_timeout_add(guint ms, GSourceFunc fn, gpointer data)
{
	return g_timeout_add(ms, fn, data);
}

void real_timeout_remove(guint id)
{
	g_source_remove(id);
}

thermal_lens_timeout_add_fn timeout_add = real_timeout_add;
thermal_lens_timeout_remove_fn timeout_remove = real_timeout_remove;

void remove_timeout(guint *id)
{
	if (*id)
		timeout_remove(*id);
	*id = 0;
}

} // namespace

void thermal_lens_set_timeouts(thermal_lens_timeout_add_fn add, thermal_lens_timeout_remove_fn remove)
{
	timeout_add = add ? add : real_timeout_add;
	timeout_remove = remove ? remove : real_timeout_remove;
}

// --- state -----------------------------------------------------------------

namespace
{

#define CODE_AT 6
#define RECEIVE_SIZE 256
#define SILENT_TICKS 60
#define HANDSHAKE_ATTEMPTS 4
#define FOCUS_MIN 17408
#define FOCUS_MAX 31744
#define ZOOM_WIDE 16640
#define ZOOM_TELE 32512
#define POLL_NEAR_STEPS 9

enum { STATE_HANDSHAKE = 0, STATE_READY = 1, STATE_WAITING = 2 };

struct message {
	uint8_t *bytes;
	size_t length; // L + 9
};

struct thermal_state {
	int32_t descriptor;
	char *serial_port;
	message *current;
	uint16_t commanded_zoom;
	uint8_t message_state;
	uint8_t sequence_counter;
	guint timer;
	GAsyncQueue *queue;
	uint8_t poll_lens_status;
	// Beside the record: the timeouts the record does not name, so that
	// destroy can take them all back.
	guint handshake_timer;
	guint status_timer;
	guint status_word_timer;
	struct camblock *block;
};

struct status_report {
	uint16_t focus;
	int16_t zoom;
	uint16_t temperature[2]; // 1/64 degree Celsius
};

thermal_state *state;
status_report report = {17408, 16640, {1280, 1280}};
int status_outstanding;
uint16_t status_word;
uint16_t reported_zoom;
uint16_t reported_focus;
bool zoom_report_wanted;
bool zoom_report_ready;
int handshake_attempts;
uint8_t receive[RECEIVE_SIZE];
size_t received;
int answer_waits;
// Shared by every thermal zoom unit; the protocol's speed of 1.0.
int32_t zoom_speed = 5000;

const uint8_t startup_payloads[4][24] = {
    {0x80, 0x11, 0x00, 0x00},
    {0x82, 0x01, 0x41, 0x00, 0x00, 0x44, 0x00, 0x41, 0x00, 0x00, 0x00, 0x00},
    {0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x33, 0x0C,
     0xCC, 0x09, 0x80, 0x02, 0xE0, 0x01, 0x6F, 0x0A, 0x00, 0x00, 0x00, 0x00},
    {0x83, 0x01, 0x05, 0x00},
};
const size_t startup_lengths[4] = {4, 12, 24, 4};
const uint8_t status_payload[] = {0x10, 0x44, 0x00, 0x00};
const uint8_t status_word_payload[] = {0x11, 0x00, 0x00, 0x00};
const uint8_t start_init_payload[] = {0x02, 0x01, 0x21, 0x00, 0x00, 0x00, 0x00, 0x00};

uint16_t le16(const uint8_t *at)
{
	return (uint16_t)(at[0] | at[1] << 8);
}

void put_le16(uint8_t *at, int32_t value)
{
	at[0] = (uint8_t)(value & 0xFF);
	at[1] = (uint8_t)((value >> 8) & 0xFF);
}

void message_free(gpointer data)
{
	auto *m = static_cast<message *>(data);
	if (!m)
		return;
	g_free(m->bytes);
	g_free(m);
}

void queue_payload(struct camblock *block, const uint8_t *payload, size_t length, int front)
{
	size_t frame_length = 0;
	uint8_t *frame = thermal_lens_frame_new(payload, length, &frame_length);
	thermal_lens_queue(block, frame, frame_length, front);
	g_free(frame);
}

gboolean message_tick(gpointer);

void start_message_timeout(void)
{
	if (state && !state->timer)
		state->timer = timeout_add(50, message_tick, nullptr);
}

// Writes the whole current frame; false when the line took less.
bool send_current(void)
{
	message *m = state->current;
	ssize_t n = write(state->descriptor, m->bytes, m->length);
	return n == (ssize_t)m->length;
}

void drain(size_t most)
{
	uint8_t scrap[100];
	if (most > sizeof(scrap))
		most = sizeof(scrap);
	ssize_t n = read(state->descriptor, scrap, most);
	(void)n;
}

void resynchronise(void)
{
	drain(50);
	send_current();
	received = 0;
	answer_waits = 0;
}

size_t expected_length(const message *m)
{
	return (size_t)thermal_lens_answer_payload(m->bytes[CODE_AT]) + THERMAL_LENS_OVERHEAD;
}

// Beyond the header comparison, a frame whose CRC or end byte is wrong was
// garbled on the line, and one with another code answers another request:
// neither may be acted on.
bool answer_accepted(const message *m, size_t length)
{
	uint8_t payload = thermal_lens_answer_payload(m->bytes[CODE_AT]);
	if (length < 12 || length != (size_t)payload + THERMAL_LENS_OVERHEAD)
		return false;
	if (memcmp(receive, m->bytes, 4) != 0 || receive[4] != payload ||
	    receive[CODE_AT] != m->bytes[CODE_AT])
		return false;
	size_t crc_at = THERMAL_LENS_HEADER + payload;
	uint16_t crc = thermal_lens_crc16(receive, crc_at);
	return receive[crc_at] == (crc & 0xFF) && receive[crc_at + 1] == (crc >> 8) &&
	       receive[crc_at + 2] == THERMAL_LENS_FRAME_END;
}

void act_on_answer(void)
{
	struct camblock *block = state->block;
	switch (receive[CODE_AT]) {
	case 0x10:
		report.focus = le16(receive + 7);
		report.zoom = (int16_t)le16(receive + 11);
		report.temperature[0] = le16(receive + 15);
		report.temperature[1] = le16(receive + 17);
		if (status_outstanding > 0)
			status_outstanding--;
		if (zoom_report_wanted) {
			reported_zoom = (uint16_t)report.zoom;
			reported_focus = report.focus;
			zoom_report_wanted = false;
			zoom_report_ready = true;
		}
		break;
	case 0x11:
		status_word = le16(receive + 7) & 0x3333;
		break;
	case 0x21:
		reported_zoom = le16(receive + 8);
		break;
	case 0x20:
		reported_focus = le16(receive + 8);
		break;
	case 0x31:
		zoom_report_wanted = true;
		if (block && block->zoom) {
			block->zoom->pending = 0;
			block->zoom->commanded = 0;
		}
		break;
	case 0x01: {
		int major = receive[36];
		int minor = receive[37];
		if (major < 1 || (major == 1 && minor < 4))
			debug_output(DEBUG_WARNING, 0,
			             "Thermal lens firmware version %d.%02d, expected at least 1.04\n", major,
			             minor);
		break;
	}
	default:
		break;
	}
}

void tick_ready(void)
{
	// A frame the line took only partly stays current and goes again whole,
	// with its sequence number, before anything queued after it.
	if (!state->current) {
		auto *m = static_cast<message *>(g_async_queue_try_pop(state->queue));
		if (!m)
			return;
		uint8_t sequence = state->sequence_counter ? state->sequence_counter : 1;
		state->sequence_counter = (uint8_t)(sequence == 255 ? 1 : sequence + 1);
		thermal_lens_frame_seal(m->bytes, sequence);
		state->current = m;
	}
	if (!send_current())
		return;
	if (state->current->bytes[CODE_AT] == 0x21)
		state->commanded_zoom = le16(state->current->bytes + 8);
	received = 0;
	answer_waits = 0;
	state->message_state = STATE_WAITING;
}

void tick_waiting(void)
{
	message *m = state->current;
	size_t want = expected_length(m);
	if (received == 0)
		memset(receive, 0, sizeof(receive));
	if (received < want) {
		ssize_t n = read(state->descriptor, receive + received, want - received);
		if (n > 0)
			received += (size_t)n;
	}
	if (received < want) {
		answer_waits++;
		if ((received > 0 && receive[0] != THERMAL_LENS_FRAME_START) ||
		    (received > 1 && receive[1] != m->bytes[1]) ||
		    (received > CODE_AT && receive[CODE_AT] != m->bytes[CODE_AT]) ||
		    answer_waits >= SILENT_TICKS)
			resynchronise();
		return;
	}
	answer_waits = 0;
	if (!answer_accepted(m, received)) {
		resynchronise();
		return;
	}
	act_on_answer();
	message_free(m);
	state->current = nullptr;
	received = 0;
	state->message_state = STATE_READY;
}

gboolean message_tick(gpointer)
{
	if (!state)
		return G_SOURCE_REMOVE;
	if (state->message_state == STATE_READY)
		tick_ready();
	else if (state->message_state == STATE_WAITING)
		tick_waiting();
	if (state->message_state == STATE_READY && !state->current &&
	    g_async_queue_length(state->queue) <= 0) {
		state->timer = 0;
		return G_SOURCE_REMOVE;
	}
	return G_SOURCE_CONTINUE;
}

gboolean status_tick(gpointer)
{
	if (state)
		queue_payload(state->block, status_payload, sizeof(status_payload), 0);
	return G_SOURCE_CONTINUE;
}

gboolean status_word_tick(gpointer)
{
	if (state)
		queue_payload(state->block, status_word_payload, sizeof(status_word_payload), 0);
	return G_SOURCE_CONTINUE;
}

gboolean handshake_tick(gpointer)
{
	if (!state)
		return G_SOURCE_REMOVE;
	uint8_t bytes[100];
	ssize_t n = read(state->descriptor, bytes, sizeof(bytes));
	if (n > 0 && bytes[0] == 'W') {
		const uint8_t ack = 0x06;
		if (write(state->descriptor, &ack, 1) != 1)
			debug_output(DEBUG_WARNING, 0, "Could not send WUP ack!\n");
		while (read(state->descriptor, bytes, sizeof(bytes)) == (ssize_t)sizeof(bytes))
			;
	} else if (++handshake_attempts < HANDSHAKE_ATTEMPTS) {
		return G_SOURCE_CONTINUE;
	}
	state->handshake_timer = 0;
	if (state->message_state != STATE_HANDSHAKE)
		return G_SOURCE_REMOVE;
	for (int i = 0; i < 4; i++)
		queue_payload(state->block, startup_payloads[i], startup_lengths[i], 1);
	state->message_state = STATE_READY;
	if (state->poll_lens_status) {
		state->status_timer = timeout_add(15000, status_tick, nullptr);
		state->status_word_timer = timeout_add(60000, status_word_tick, nullptr);
	}
	return G_SOURCE_REMOVE;
}

void state_free(void)
{
	if (!state)
		return;
	remove_timeout(&state->timer);
	remove_timeout(&state->handshake_timer);
	remove_timeout(&state->status_timer);
	remove_timeout(&state->status_word_timer);
	message_free(state->current);
	g_async_queue_unref(state->queue);
	if (state->descriptor >= 0)
		close(state->descriptor);
	g_free(state->serial_port);
	g_free(state);
	state = nullptr;
}

} // namespace

int thermal_lens_queue(struct camblock *, const uint8_t *bytes, size_t length, int front)
{
	if (!state || !bytes || length <= CODE_AT)
		return -1;
	size_t frame_length = (size_t)bytes[4] + THERMAL_LENS_OVERHEAD;
	if (length < frame_length)
		return -1;
	auto *m = g_new0(message, 1);
	m->bytes = static_cast<uint8_t *>(g_memdup2(bytes, frame_length));
	m->length = frame_length;
	start_message_timeout();
	if (m->bytes[CODE_AT] == 0x10)
		status_outstanding++;
	if (front)
		g_async_queue_push_front(state->queue, m);
	else
		g_async_queue_push(state->queue, m);
	return 0;
}

// --- focus and zoom units ---------------------------------------------------

namespace
{

const uint8_t focus_move_template[18] = {0x0F, 0x01, 0x00, 0x00, 0x08, 0x00, 0x20, 0x00, 0x00,
                                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x00};
const uint8_t zoom_move_template[18] = {0x0F, 0x01, 0x00, 0x00, 0x08, 0x00, 0x21, 0x00, 0x00,
                                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x00};
const uint8_t focus_stop_message[14] = {0x0F, 0x01, 0x00, 0x00, 0x04, 0x00, 0x30,
                                        0x20, 0x00, 0x00, 0x1C, 0x11, 0xF0, 0x00};
const uint8_t zoom_status_message[13] = {0x0F, 0x00, 0x00, 0x00, 0x04, 0x00, 0x10,
                                         0x44, 0x00, 0x00, 0x00, 0x00, 0xF0};
const uint8_t zoom_stop_template[14] = {0x0F, 0x01, 0x00, 0x00, 0x04, 0x00, 0x31,
                                        0x20, 0x00, 0x00, 0xA8, 0x67, 0xF0, 0x00};

void queue_move(struct camblock *owner, const uint8_t *tmpl, int32_t position, int32_t speed)
{
	uint8_t bytes[18];
	memcpy(bytes, tmpl, sizeof(bytes));
	bytes[7] = '$';
	put_le16(bytes + 8, position);
	put_le16(bytes + 10, speed);
	thermal_lens_queue(owner, bytes, sizeof(bytes), 0);
}

int32_t clamp(int32_t v, int32_t lo, int32_t hi)
{
	return v < lo ? lo : v > hi ? hi : v;
}

int focus_move_abs_serial(struct focus_object *focus, int32_t position, int32_t speed)
{
	if (focus->mech_min > focus->mech_max) {
		debug_output(DEBUG_WARNING, 0,
		             "<FOCUS lvz3x3516> Out of bounds! cur_pos: %d target: %d mechmin: %d max: %d\n",
		             focus->value, position, focus->mech_min, focus->mech_max);
		return -1;
	}
	position = clamp(position, focus->mech_min, focus->mech_max);
	focus->commanded = 1;
	focus->target = position;
	focus->pending = 1;
	queue_move(focus->owner, focus_move_template, position, speed);
	return 0;
}

int focus_move_rel_serial(struct focus_object *focus, int32_t steps, int32_t speed)
{
	return focus_move_abs_serial(focus, focus->value + steps, speed);
}

int32_t focus_position_serial(struct focus_object *focus)
{
	return focus->value;
}

int32_t focus_diopters_serial(struct focus_object *focus)
{
	int64_t per_step = optics_div_round((int64_t)(focus->value - FOCUS_MIN) << 28, 3289154);
	return (int32_t)optics_div_round(per_step, 1000);
}

int32_t focus_max_serial(struct focus_object *focus)
{
	return focus->max_limit;
}

int32_t focus_min_serial(struct focus_object *focus)
{
	return focus->min_limit;
}

int focus_update_serial(struct focus_object *focus, int32_t value, int moving, int value_is_position)
{
	focus->value = value;
	focus->value_is_position = (uint8_t)value_is_position;
	focus->pending = (uint8_t)moving;
	if (value == focus->target && focus->commanded) {
		focus->commanded = 0;
		focus->pending = 0;
	}
	return 0;
}

int focus_stop_serial(struct focus_object *focus)
{
	focus->commanded = 0;
	thermal_lens_queue(focus->owner, focus_stop_message, sizeof(focus_stop_message), 0);
	return 0;
}

int focus_is_moving_serial(struct focus_object *focus)
{
	return focus->pending;
}

int zoom_move_abs_serial(struct zoom_object *zoom, int32_t position)
{
	if (zoom->mech_min > zoom->mech_max) {
		debug_output(DEBUG_ERROR, 0, "<ZOOM lvz3x3516> Out of bounds! \n");
		return -1;
	}
	position = clamp(position, zoom->mech_min, zoom->mech_max);
	int32_t speed =
	    zoom->speed == 16384 ? zoom_speed : (int32_t)optics_div_round((int64_t)zoom->speed * 5000, 16384);
	queue_move(zoom->owner, zoom_move_template, position, speed);
	zoom->target = position;
	zoom->pending = 1;
	zoom->commanded = 1;
	return 0;
}

int zoom_move_rel_serial(struct zoom_object *zoom, int32_t steps)
{
	return zoom_move_abs_serial(zoom, zoom->position + steps);
}

int zoom_stop_serial(struct zoom_object *zoom)
{
	uint8_t stop[sizeof(zoom_stop_template)];
	memcpy(stop, zoom_stop_template, sizeof(stop));
	stop[7] = '$';
	thermal_lens_queue(zoom->owner, zoom_status_message, sizeof(zoom_status_message), 1);
	thermal_lens_queue(zoom->owner, stop, sizeof(stop), 1);
	return 0;
}

int zoom_update_serial(struct zoom_object *zoom, int32_t position, int moving)
{
	zoom->position = position;
	zoom->pending = (uint8_t)moving;
	if (position == zoom->target && zoom->commanded) {
		zoom->pending = 0;
		zoom->commanded = 0;
	}
	return 0;
}

int32_t zoom_magnification_serial(struct zoom_object *, int32_t position)
{
	return 16384 + (int32_t)optics_div_round((int64_t)(position - ZOOM_WIDE) << 14, 7936);
}

int32_t zoom_position_serial(struct zoom_object *, int32_t magnification)
{
	int32_t p = 8704 + (int32_t)optics_div_round((int64_t)magnification * 7936, 16384);
	return clamp(p, ZOOM_WIDE, ZOOM_TELE);
}

// Four linear pieces, each with its own millimetres per step (Q14 divisors).
int32_t zoom_focal_length_serial(struct zoom_object *, int32_t p)
{
	int32_t base, start;
	int64_t divisor;
	if (p < 20608) {
		base = 35, start = 16640, divisor = 8668228;
	} else if (p < 24576) {
		base = 42, start = 20608, divisor = 3714955;
	} else if (p < 28544) {
		base = 60, start = 24576, divisor = 3714955;
	} else {
		base = 77, start = 28544, divisor = 2364062;
	}
	return (base << 14) + (int32_t)optics_div_round((int64_t)(p - start) << 28, divisor);
}

int32_t zoom_max_magnification_serial(struct zoom_object *)
{
	return 3 << 14;
}

int zoom_set_speed_serial(struct zoom_object *, int32_t speed)
{
	zoom_speed = speed;
	return 0;
}

int zoom_is_moving_serial(struct zoom_object *zoom)
{
	return zoom->pending;
}

int32_t zoom_get_position_serial(struct zoom_object *zoom)
{
	return zoom->position;
}

int32_t zoom_get_max_serial(struct zoom_object *zoom)
{
	return zoom->mech_max;
}

int32_t zoom_get_min_serial(struct zoom_object *zoom)
{
	return zoom->mech_min;
}

} // namespace

struct focus_object *focus_new_lvz3x3516(struct camblock *block)
{
	focus_object *f = focus_new();
	f->type = FOCUS_ZOOM_TYPE_MOTOR;
	f->owner = block;
	f->mech_min = f->min_limit = FOCUS_MIN;
	f->mech_max = f->max_limit = FOCUS_MAX;
	f->value = FOCUS_MIN;
	f->is_moving = focus_is_moving_serial;
	f->move_abs = focus_move_abs_serial;
	f->move_rel = focus_move_rel_serial;
	f->get_position = focus_position_serial;
	f->get_distance_diopters = focus_diopters_serial;
	f->get_max = focus_max_serial;
	f->get_min = focus_min_serial;
	f->update = focus_update_serial;
	f->stop = focus_stop_serial;
	return f;
}

struct zoom_object *zoom_new_lvz3x3516(struct camblock *block)
{
	static const int32_t positions[] = {ZOOM_WIDE};
	static const int32_t magnifications[] = {16384};
	static const int32_t focal_lengths[] = {(int32_t)(32.53 * 16384 + 0.5)};
	zoom_object *z = zoom_new();
	z->type = FOCUS_ZOOM_TYPE_MOTOR;
	z->owner = block;
	z->count = 1;
	z->positions = positions;
	z->magnifications = magnifications;
	z->focal_lengths = focal_lengths;
	z->focal_model_q = 24;
	z->mech_min = z->position = ZOOM_WIDE;
	z->mech_max = ZOOM_TELE;
	z->speed = 16384;
	z->is_moving = zoom_is_moving_serial;
	z->move_abs = zoom_move_abs_serial;
	z->move_rel = zoom_move_rel_serial;
	z->stop = zoom_stop_serial;
	z->get_position = zoom_get_position_serial;
	z->get_max = zoom_get_max_serial;
	z->get_min = zoom_get_min_serial;
	z->update = zoom_update_serial;
	z->magnification_at_position = zoom_magnification_serial;
	z->focal_length_at_position = zoom_focal_length_serial;
	z->position_for_magnification = zoom_position_serial;
	z->max_magnification = zoom_max_magnification_serial;
	z->set_speed = zoom_set_speed_serial;
	return z;
}

// --- the camera block -------------------------------------------------------

namespace
{

struct thermal_settings {
	char *serial_port;
	uint8_t poll_lens_status;
};

const prodconf_field thermal_fields[] = {
    prodconf_field_text("serial_port", PRODCONF_OPTIONAL, offsetof(thermal_settings, serial_port),
                        "/dev/ttyPCC0"),
    prodconf_field_i32("poll_lens_status", PRODCONF_BOOL, PRODCONF_OPTIONAL,
                       offsetof(thermal_settings, poll_lens_status), 1),
};
const prodconf_schema thermal_schema = {"camblock_tamron_lvz3x3516", sizeof(thermal_settings), thermal_fields,
                                        sizeof(thermal_fields) / sizeof(thermal_fields[0])};

int start_init(struct camblock *block)
{
	queue_payload(block, start_init_payload, sizeof(start_init_payload), 0);
	if (block->zoom)
		block->zoom->commanded = 0;
	if (block->focus)
		block->focus->commanded = 0;
	return 0;
}

int32_t index_to_focus_position(struct camblock *, int32_t, int32_t)
{
	return report.focus;
}

int32_t dioptres_to_focus_position(struct camblock *block, int32_t, int32_t)
{
	return block->focus ? block->focus->value : 0;
}

int32_t lens_temperature(struct camblock *)
{
	int32_t lower =
	    report.temperature[0] < report.temperature[1] ? report.temperature[0] : report.temperature[1];
	return lower * 256;
}

int fov_at(struct camblock *, int32_t zoom, int32_t, uint32_t *horizontal, uint32_t *vertical, int32_t)
{
	thermal_lens_fov(zoom, horizontal, vertical);
	return 0;
}

int current_fov(struct camblock *block, uint32_t *horizontal, uint32_t *vertical, int32_t scale)
{
	return fov_at(block, block->zoom ? block->zoom->position : ZOOM_WIDE, 0, horizontal, vertical, scale);
}

int32_t focal_length_at(struct camblock *block, int32_t zoom, int32_t)
{
	return zoom_focal_length_at_position(block->zoom, zoom);
}

int32_t current_focal_length(struct camblock *block)
{
	return block->zoom ? zoom_focal_length_at_position(block->zoom, block->zoom->position) : 0;
}

int set_focus_dioptres(struct camblock *block, int32_t dioptres, int flag)
{
	int64_t t = optics_div_round((int64_t)dioptres * 3289154, 16384);
	int32_t position = FOCUS_MIN + (int32_t)optics_div_round(t * 1000, 16384);
	return focus_move_abs(block->focus, position, flag);
}

void destroy(struct camblock *)
{
	state_free();
}

int set_motor_speed(struct camblock *block, int32_t speed)
{
	if (block->zoom)
		block->zoom->speed = speed;
	return 0;
}

void poll_zoom(struct camblock *block, struct optics_state *out)
{
	zoom_object *z = block->zoom;
	if (z->pending) {
		out->zoom_moving = 1;
		bool at_report = z->target == reported_zoom;
		bool near = abs(z->position - (int32_t)reported_zoom) <= POLL_NEAR_STEPS;
		out->zoom_position = at_report && near ? reported_zoom : report.zoom;
		if (at_report && !near && status_outstanding < 2)
			queue_payload(block, status_payload, sizeof(status_payload), 0);
		return;
	}
	if (zoom_report_ready) {
		z->position = z->target = reported_zoom;
		zoom_report_ready = false;
	}
	out->zoom_position = z->position;
	out->zoom_moving = 0;
}

void poll_focus(struct camblock *block, struct optics_state *out)
{
	focus_object *f = block->focus;
	if (!f->pending) {
		out->focus_position = f->value;
		out->focus_moving = 0;
		return;
	}
	out->focus_moving = 1;
	if (f->target == reported_focus)
		out->focus_position = reported_focus;
	else if (f->value > f->target)
		out->focus_position = f->value - (f->value - (f->target - 1)) / 2;
	else
		out->focus_position = f->value + (f->target - (f->value - 1)) / 2;
}

int poll(struct camblock *block, struct optics_state *out)
{
	if (!block->zoom || !block->focus || !out)
		return -2;
	poll_zoom(block, out);
	poll_focus(block, out);
	if (out->zoom_position < block->zoom->mech_min || out->zoom_position > block->zoom->mech_max)
		return -2;
	zoom_update(block->zoom, out->zoom_position, out->zoom_moving);
	focus_update(block->focus, out->focus_position, out->focus_moving, 0);
	return 0;
}

int32_t error_code(struct camblock *)
{
	return status_word != 0;
}

int poll_init(struct camblock *block)
{
	if (state && state->message_state != STATE_HANDSHAKE)
		block->mcu.initialised = 1;
	return 0;
}

// The filter's private pointer is the block, which the block's own destroy
// frees: the filter frees only itself.
void ircut_free_self(struct ircut *ircut)
{
	g_free(ircut);
}

void open_line(thermal_state *s)
{
	s->descriptor = open(s->serial_port, O_RDWR | O_NOCTTY);
	if (s->descriptor < 0) {
		debug_output(DEBUG_ERROR, 0, "%s, Couldn't open %s\n", "camblock_tamron_lvz3x3516_create",
		             s->serial_port);
		return;
	}
	debug_output(DEBUG_INFO, 0, "%s, %s opened\n", "camblock_tamron_lvz3x3516_create", s->serial_port);
	struct termios tio = {};
	tio.c_cflag = B115200 | CS8 | CREAD | CLOCAL;
	cfsetispeed(&tio, B115200);
	cfsetospeed(&tio, B115200);
	tio.c_cc[VTIME] = 1;
	tio.c_cc[VMIN] = 0;
	tcflush(s->descriptor, TCIOFLUSH);
	tcsetattr(s->descriptor, TCSANOW, &tio);
}

void reset_module_values(void)
{
	report = {17408, 16640, {1280, 1280}};
	status_outstanding = 0;
	status_word = 0;
	reported_zoom = reported_focus = 0;
	zoom_report_wanted = zoom_report_ready = false;
	handshake_attempts = 0;
	received = 0;
	answer_waits = 0;
}

void add_components(struct camblock *block, struct control *engine, int32_t stream_id)
{
	iris *bare = iris_new();
	bare->type = 0;
	bare->owner = block;
	camblock_set_iris(block, bare);
	control_add_iris(engine, bare, stream_id);
	focus_object *focus = focus_new_lvz3x3516(block);
	camblock_set_focus(block, focus);
	control_add_focus(engine, focus, stream_id);
	zoom_object *zoom = zoom_new_lvz3x3516(block);
	camblock_set_zoom(block, zoom);
	control_add_zoom(engine, zoom, stream_id);
	ircut *filter = ircut_new_lens();
	filter->priv = block;
	filter->owner = block;
	filter->destroy = ircut_free_self;
	camblock_set_ircut(block, filter);
	control_add_ircut(engine, filter, stream_id);
}

} // namespace

void *camblock_tamron_lvz3x3516_create(struct prodconf *conf, struct control *engine, int32_t stream_id)
{
	struct platform *platform = control_get_platform(engine);
	void *item = nullptr;
	if (!prodconf_read_item(conf, &thermal_schema, thermal_schema.name, stream_id, &item) || !item) {
		debug_output(DEBUG_ERROR, 0, "Failed to read prodconf from file\n");
		return nullptr;
	}
	auto *settings = static_cast<thermal_settings *>(item);
	state_free();
	reset_module_values();
	state = g_new0(thermal_state, 1);
	state->descriptor = -1;
	state->queue = g_async_queue_new_full(message_free);
	state->serial_port = settings->serial_port ? settings->serial_port : g_strdup("/dev/ttyPCC0");
	state->poll_lens_status = settings->poll_lens_status;
	g_free(settings);

	struct camblock *block = camblock_new();
	block->stream_id = stream_id;
	control_add_camblock(engine, block, stream_id);
	camblock_add_platform(block, platform);
	block->type = CAMBLOCK_TYPE_SERIAL;
	block->start_init = start_init;
	block->distance_index_to_focus_position = index_to_focus_position;
	block->dioptres_to_focus_position = dioptres_to_focus_position;
	block->get_lens_temperature = lens_temperature;
	block->get_fov_at_focus_position = fov_at;
	block->get_fov_at_distance_index = fov_at;
	block->get_current_fov = current_fov;
	block->focal_length_at_focus_position = focal_length_at;
	block->get_current_focal_length = current_focal_length;
	block->set_focus_dioptres = set_focus_dioptres;
	block->destroy = destroy;
	block->set_motor_speed = set_motor_speed;
	block->poll = poll;
	block->get_error_code = error_code;
	block->poll_init = poll_init;
	state->block = block;

	open_line(state);
	add_components(block, engine, stream_id);
	state->handshake_timer = timeout_add(100, handshake_tick, nullptr);
	return block;
}
