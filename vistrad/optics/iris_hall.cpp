#include "iris_hall.h"

#include <glib.h>

#include "core/debug_output.h"
#include "focus_zoom.h"
#include "iris.h"
#include "platform/platform.h"

namespace
{

// The read-back variant reads the drive value on the first get_position and
// then on every READ_BACK_CALLS-th.
#define READ_BACK_CALLS 30
#define BEST_HALF (-1) // best position n / 2

enum position_kind {
	COMMANDED,
	READ_BACK,
	REPORTED,
	REPORTED_POSITIONS, // reported, and the lens reports positions
	MOTORLESS,          // the Canon C50x1485: nothing moves
};

enum moving_kind {
	NEVER,
	REPORTED_MOVING,
	REPORTED_AFTER_INIT, // also moving while the block initialises
};

enum description_kind {
	NO_DESCRIPTION,
	FROM_TABLE, // open and best from the table, closed and max-closed below
	FIXED,      // open, best, closed and max-closed below
};

struct iris_row {
	uint32_t type;
	int32_t low;
	int32_t high;
	int32_t best;
	position_kind position;
	bool read_back_flag; // the flag selects the read-back variant
	moving_kind moving;
	bool calibration;
	description_kind description;
	int32_t closed; // Q14 F-numbers
	int32_t max_closed;
};

#define F(x) ((int32_t)((x)*16384))

// In the order of enum camblock_lens.
const iris_row iris_rows[CAMBLOCK_LENS_COUNT] = {
    {IRIS_TYPE_HALL, 0, 1023, 0, COMMANDED, false, NEVER, true, NO_DESCRIPTION, 0, 0},      // Tamron DF010NL
    {IRIS_TYPE_HALL, 0, 1023, 131, COMMANDED, false, NEVER, true, FROM_TABLE, F(8), F(16)}, // Tamron DF024NL
    {IRIS_TYPE_HALL, 0, 1023, 132, COMMANDED, true, NEVER, true, FROM_TABLE, F(9), F(18)},  // Tamron DF020NL
    {IRIS_TYPE_LENS_SCALE, 0, 67, 0, READ_BACK, false, NEVER, false, FIXED, F(6), F(11)},   // Tamron DF023Q
    {IRIS_TYPE_HALL, 0, 1023, 94, COMMANDED, true, NEVER, true, FROM_TABLE, F(8), F(16)},   // Tamron DE011N
    {IRIS_TYPE_HALL, 0, 1023, 93, REPORTED, false, REPORTED_AFTER_INIT, true, FROM_TABLE, F(8),
     F(16)},                                                                              // DF031N
    {IRIS_TYPE_LENS_SCALE, 2, 70, 0, READ_BACK, false, NEVER, false, FIXED, F(4), F(11)}, // CBC R18
    {IRIS_TYPE_HALL, 0, 1023, 131, READ_BACK, false, NEVER, true, FROM_TABLE, F(8),
     F(16)}, // Ricom AF02812DB ICR
    {IRIS_TYPE_LENS_SCALE, 0, 512, 0, REPORTED, false, REPORTED_MOVING, false, NO_DESCRIPTION, 0,
     0},                                                                                    // C40x43
    {IRIS_TYPE_LENS_SCALE, 0, 0, 0, MOTORLESS, false, NEVER, false, NO_DESCRIPTION, 0, 0},  // Canon C50x1485
    {IRIS_TYPE_LENS_SCALE, 0, 65, 40, READ_BACK, false, NEVER, true, NO_DESCRIPTION, 0, 0}, // CBC TSF2
    {IRIS_TYPE_HALL, 0, 1023, 0, REPORTED, false, REPORTED_MOVING, true, NO_DESCRIPTION, 0,
     0}, // Tamron DF034N
    {IRIS_TYPE_HALL, 0, 1023, BEST_HALF, COMMANDED, true, NEVER, true, FROM_TABLE, F(8),
     F(16)},                                                                           // Evetar E5350A
    {IRIS_TYPE_HALL, 0, 1023, 0, COMMANDED, false, NEVER, true, NO_DESCRIPTION, 0, 0}, // Union Optech T5285
    {IRIS_TYPE_LENS_SCALE, 12, 852, 93, REPORTED_POSITIONS, false, REPORTED_MOVING, false, FROM_TABLE, F(8),
     F(16)}, // Union Optech T5377Q
    {IRIS_TYPE_HALL, 0, 1023, 28, REPORTED, false, REPORTED_AFTER_INIT, true, FROM_TABLE, F(5),
     F(11)}, // T5390
    {IRIS_TYPE_HALL, 0, 1023, BEST_HALF, COMMANDED, true, NEVER, true, FROM_TABLE, F(8),
     F(16)}, // YTOT YT50011DB
    {IRIS_TYPE_HALL, 0, 1023, BEST_HALF, COMMANDED, true, NEVER, true, FROM_TABLE, F(8), F(16)}, // CBC NSF2
};

iris_hall_scale *scale_of(struct iris *iris)
{
	return static_cast<iris_hall_scale *>(iris->priv);
}

struct camblock *block_of(struct iris *iris)
{
	return static_cast<struct camblock *>(iris->owner);
}

int32_t clamp(int32_t v, int32_t lo, int32_t hi)
{
	return v < lo ? lo : v > hi ? hi : v;
}

int32_t position_to_drive(const struct iris *iris, const iris_hall_scale *s, int32_t p)
{
	int32_t m = iris->max_position;
	if (s->high <= s->low || m < 1)
		return p;
	return s->high - (int32_t)(((int64_t)(s->high - s->low) * p + m / 2) / m);
}

int32_t drive_to_position(const struct iris *iris, const iris_hall_scale *s, int32_t v)
{
	if (s->high <= s->low)
		return v;
	int32_t range = s->high - s->low;
	v = clamp(v, s->low, s->high);
	return (int32_t)(((int64_t)(s->high - v) * iris->max_position + range / 2) / range);
}

void send(struct iris *iris, int32_t position)
{
	camblock_write_register(block_of(iris), CAMBLOCK_REG_IRIS,
	                        (uint16_t)position_to_drive(iris, scale_of(iris), position));
}

// Sends the iris to a new position; the same position sends nothing.
void go_to(struct iris *iris, int32_t position)
{
	if (position == iris->position)
		return;
	iris->last_direction = iris->position < position;
	iris->position = position;
	send(iris, position);
}

int move_to(struct iris *iris, int32_t position, int)
{
	go_to(iris, clamp(position, 0, iris->max_position));
	return -1;
}

int move_rel(struct iris *iris, int direction, int32_t steps, int)
{
	int32_t next = direction == 1 ? iris->position + steps : iris->position - steps;
	go_to(iris, clamp(next, 0, iris->max_position));
	return -1;
}

int move_to_reported(struct iris *iris, int32_t position, int fast)
{
	scale_of(iris)->move_issued = 1;
	return move_to(iris, position, fast);
}

int move_rel_reported(struct iris *iris, int direction, int32_t steps, int fast)
{
	scale_of(iris)->move_issued = 1;
	return move_rel(iris, direction, steps, fast);
}

int go_home(struct iris *iris, int32_t, int)
{
	camblock_write_register(block_of(iris), CAMBLOCK_REG_IRIS, (uint16_t)scale_of(iris)->default_high);
	iris->position = 0;
	return -1;
}

int set_reset_needed(struct iris *iris)
{
	iris->reset_needed = 1;
	return -1;
}

int still(struct iris *)
{
	return 0;
}

int moving_reported(struct iris *iris)
{
	if (scale_of(iris)->move_issued)
		return 1;
	const struct camblock *block = block_of(iris);
	return block && block->zoom ? block->zoom->pending : 0;
}

int moving_reported_after_init(struct iris *iris)
{
	const struct camblock *block = block_of(iris);
	if (!block || !block->mcu.initialised)
		return 1;
	return moving_reported(iris);
}

int32_t commanded_position(struct iris *iris)
{
	return iris->position;
}

// A drifted iris is sent back to the position it was given.
int32_t read_back_position(struct iris *iris)
{
	iris_hall_scale *s = scale_of(iris);
	if (s->poll_counter != 0 && s->poll_counter < READ_BACK_CALLS) {
		s->poll_counter++;
		return iris->position;
	}
	int value = camblock_read_register(block_of(iris), CAMBLOCK_REG_IRIS);
	int32_t measured = drive_to_position(iris, s, value);
	if (measured != iris->position) {
		int32_t target = iris->position;
		iris->position = measured;
		iris->move_to(iris, target, 0);
	}
	s->poll_counter = 1;
	return iris->position;
}

int32_t reported_position(struct iris *iris)
{
	const iris_hall_scale *s = scale_of(iris);
	return s->calibrated ? s->reported_position : iris->position;
}

int read_sensor(struct iris *iris)
{
	return camblock_read_register(block_of(iris), CAMBLOCK_REG_HALL);
}

void set_calibration(struct iris *iris, void *values)
{
	iris_hall_scale *s = scale_of(iris);
	const int32_t *v = static_cast<const int32_t *>(values);
	if (!v || iris->table_length < 1)
		return;
	s->low = v[iris->table_length - 1];
	s->high = v[0];
	if (s->low >= s->high) {
		debug_output(DEBUG_ERROR, 0, "Improper hall iris iris calibration values.\n");
		s->low = s->default_low;
		s->high = s->default_high;
	}
	camblock_write_register(block_of(iris), CAMBLOCK_REG_HALL_LOW, (uint16_t)s->low);
	camblock_write_register(block_of(iris), CAMBLOCK_REG_HALL_HIGH, (uint16_t)s->high);
	s->calibrated = 1;
	g_free(values);
}

int hall_calibrated(struct iris *iris)
{
	return (uint8_t)scale_of(iris)->calibrated;
}

void restore(struct iris *iris)
{
	iris_hall_scale *s = scale_of(iris);
	s->low = s->default_low;
	s->high = s->default_high;
	camblock_write_register(block_of(iris), CAMBLOCK_REG_HALL_LOW, 0);
	camblock_write_register(block_of(iris), CAMBLOCK_REG_HALL_HIGH, 0);
	s->calibrated = 0;
}

int motorless_move_to(struct iris *, int32_t, int)
{
	return PLATFORM_OK;
}

int motorless_go_home(struct iris *, int32_t, int)
{
	return -1;
}

// The best position's entry; past a short table, its last.
int32_t table_entry(const struct iris *iris, int32_t position)
{
	return iris->F_table[clamp(position, 0, iris->table_length - 1)];
}

void describe(struct iris *iris, const iris_row &row)
{
	int32_t *d = iris->aperture_description;
	if (row.description == NO_DESCRIPTION)
		return;
	if (row.description == FIXED) {
		d[0] = F(1);
		d[1] = F(2);
	} else {
		d[0] = table_entry(iris, 0);
		d[1] = table_entry(iris, iris->best_position);
	}
	d[2] = row.closed;
	d[3] = row.max_closed;
	iris->aperture_description_set = 1;
}

void fill_motorless(struct iris *iris)
{
	iris->move_to = motorless_move_to;
	iris->go_home = motorless_go_home;
	iris->get_position = commanded_position;
	iris->position = 0;
	iris->max_position = 0;
	iris->automatic = 0;
}

void fill_slots(struct iris *iris, const iris_row &row, position_kind position)
{
	bool reported = position == REPORTED || position == REPORTED_POSITIONS;
	iris->move_to = reported ? move_to_reported : move_to;
	iris->move_rel = reported ? move_rel_reported : move_rel;
	iris->go_home = go_home;
	iris->set_reset_needed = set_reset_needed;
	iris->is_moving = row.moving == REPORTED_MOVING       ? moving_reported
	                  : row.moving == REPORTED_AFTER_INIT ? moving_reported_after_init
	                                                      : still;
	iris->get_position = position == READ_BACK ? read_back_position
	                     : reported            ? reported_position
	                                           : commanded_position;
	iris->read_sensor = read_sensor;
	iris->restore = restore;
	if (row.calibration) {
		iris->set_calibration = set_calibration;
		iris->hall_calibrated = hall_calibrated;
	}
}

} // namespace

struct iris *iris_hall_new(struct camblock *block, enum camblock_lens lens, const int32_t *apertures,
                           int32_t n, int read_back)
{
	if (lens < 0 || lens >= CAMBLOCK_LENS_COUNT || !apertures || n < 1)
		return nullptr;
	const iris_row &row = iris_rows[lens];
	struct iris *iris = iris_new();
	iris->type = row.type;
	iris->owner = block;
	iris->aperture_table = iris->F_table = const_cast<int32_t *>(apertures);
	iris->table_length = n;
	iris->max_position = n - 1;
	iris->min_position = 0;
	iris->best_position = row.best == BEST_HALF ? n / 2 : row.best;
	iris->open_F = apertures[0];
	iris->position = IRIS_POSITION_UNKNOWN;
	iris->reset_needed = 1;
	iris->automatic = 1;
	if (row.position == MOTORLESS) {
		fill_motorless(iris);
		return iris;
	}
	iris_hall_scale *s = g_new0(iris_hall_scale, 1);
	s->low = s->default_low = row.low;
	s->high = s->default_high = row.high;
	s->move_issued = 1;
	s->reports_positions = row.position == REPORTED_POSITIONS;
	iris->priv = s;
	fill_slots(iris, row, read_back && row.read_back_flag ? READ_BACK : row.position);
	describe(iris, row);
	iris->set_reset_needed(iris);
	return iris;
}

void iris_hall_report(struct iris *iris, int32_t value)
{
	iris_hall_scale *s = iris ? scale_of(iris) : nullptr;
	if (!s || (iris->get_position != reported_position))
		return;
	s->reported_position = s->reports_positions ? value : drive_to_position(iris, s, value);
	s->move_issued = 0;
}
