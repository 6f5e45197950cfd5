#include "dome.h"

#include <glib.h>

#include "camblock.h"
#include "camblock_trace.h"
#include "focus_zoom.h"
#include "optics_math.h"

static_assert(sizeof(struct dome) == 80, "the dome keeps its 80-byte layout");

namespace
{

#define Q14_ONE 16384
#define DOME_REGISTER 0x306
// Refractive index of the domes' plastic; the narbu dome's differs slightly.
#define N_DOME 25967
#define N_NARBU 25969
#define THICKNESS_2_1 34406

struct geometry {
	int32_t r1, r2, thickness, n;
};

const geometry quorval = {1214054, 1179648, THICKNESS_2_1, N_DOME};
const geometry type2 = {1269760, 1235354, THICKNESS_2_1, N_DOME};
const geometry mirask = {935526, 901120, THICKNESS_2_1, N_DOME};
const geometry miraskor = {1027277, 986317, 40960, N_DOME};
const geometry type5 = {1239777, 1205371, THICKNESS_2_1, N_DOME};
const geometry narbu = {1540096, 1505690, THICKNESS_2_1, N_NARBU};

int32_t power_of(const geometry &g)
{
	int32_t p = dome_optical_power(g.r1, g.r2, g.thickness, g.n);
	return p < 0 ? -p : p;
}

// Where the lens focuses on infinity as seen through the dome: the dome's
// own power as the lens sees it. Distances behind infinity count their
// focus steps from here, as the trace curves do behind the dome index.
int32_t dome_infinity_position(struct dome *dome, int32_t zoom)
{
	return camblock_dioptres_to_focus_position(dome->owner, zoom, dome->power);
}

int enable(struct dome *dome, int on)
{
	dome->index = 0;
	if (!on) {
		dome->enabled = 0;
		camblock_write_register(dome->owner, DOME_REGISTER, 0);
		return 0;
	}
	// Disabled while converting, or the conversion would add the dome's own
	// power to itself.
	dome->enabled = 0;
	int32_t index = camblock_dioptres_to_distance_index(dome->owner, dome->power, 0);
	dome->enabled = 1;
	dome->index = index;
	camblock_write_register(dome->owner, DOME_REGISTER, (uint16_t)index);
	return 0;
}

int32_t identity(struct dome *, int32_t value)
{
	return value;
}

int store(struct dome *dome, int32_t a, int32_t b)
{
	if (dome->stored[0] != a || dome->stored[1] != b) {
		dome->stored[0] = a;
		dome->stored[1] = b;
	}
	return 0;
}

// Lens-side dioptres to the object's. An object the lens sees nearer than
// the dome's power lies behind infinity: its value is then the focus steps
// from the dome's infinity scaled by the trace model's dioptres per step.
int32_t remove_power(struct dome *dome, int32_t zoom, int32_t dioptres)
{
	int32_t r = dioptres - dome->power;
	const struct camblock_trace *trace = dome->owner ? dome->owner->mcu.trace : nullptr;
	if (r >= 0 || !trace)
		return r;
	uint8_t was = dome->enabled;
	dome->enabled = 0;
	int32_t steps = camblock_dioptres_to_focus_position(dome->owner, zoom, dioptres) -
	                dome_infinity_position(dome, zoom);
	dome->enabled = was;
	int64_t scaled = (int64_t)steps * trace->dioptres_per_curve * trace->index_units_per_step;
	return (int32_t)(scaled >> 9);
}

// The inverse of remove_power.
int32_t add_power(struct dome *dome, int32_t zoom, int32_t value)
{
	const struct camblock_trace *trace = dome->owner ? dome->owner->mcu.trace : nullptr;
	if (value >= 0 || !trace || trace->dioptres_per_curve == 0 || trace->index_units_per_step == 0)
		return value + dome->power;
	dome->enabled = 0;
	int64_t units =
	    optics_div_round(optics_div_round((int64_t)value * Q14_ONE, trace->dioptres_per_curve), 32);
	int32_t position =
	    (int32_t)(units / trace->index_units_per_step) + dome_infinity_position(dome, zoom);
	int32_t dioptres = camblock_focus_position_to_dioptres(dome->owner, zoom, position);
	dome->enabled = 1;
	return dioptres;
}

struct dome *make(int32_t power)
{
	struct dome *dome = dome_new();
	dome->power = power;
	dome->set_enabled = enable;
	dome->identity = identity;
	dome->store = store;
	dome->add_power = add_power;
	dome->remove_power = remove_power;
	return dome;
}

bool active(const struct dome *dome)
{
	return dome && dome->enabled;
}

} // namespace

struct dome *dome_new(void)
{
	return g_new0(struct dome, 1);
}

void dome_destroy(struct dome *dome)
{
	if (!dome)
		return;
	if (dome->destroy)
		dome->destroy(dome);
	g_free(dome);
}

void dome_set_owner(struct dome *dome, struct camblock *owner)
{
	if (dome)
		dome->owner = owner;
}

int dome_set_enabled(struct dome *dome, int on)
{
	return dome && dome->set_enabled ? dome->set_enabled(dome, on) : -3;
}

int32_t dome_add_power(struct dome *dome, int32_t zoom, int32_t value)
{
	return active(dome) && dome->add_power ? dome->add_power(dome, zoom, value) : value;
}

int32_t dome_remove_power(struct dome *dome, int32_t zoom, int32_t dioptres)
{
	return active(dome) && dome->remove_power ? dome->remove_power(dome, zoom, dioptres) : dioptres;
}

int32_t dome_identity(struct dome *dome, int32_t value)
{
	return active(dome) && dome->identity ? dome->identity(dome, value) : value;
}

int dome_store(struct dome *dome, int32_t a, int32_t b)
{
	return dome && dome->store ? dome->store(dome, a, b) : -3;
}

int32_t dome_get_power(struct dome *dome)
{
	return active(dome) ? dome->power : 0;
}

int32_t dome_get_index(struct dome *dome)
{
	return active(dome) ? dome->index : 0;
}

int32_t dome_optical_power(int32_t r1, int32_t r2, int32_t d, int32_t n)
{
	int32_t n1 = n - Q14_ONE;
	if (n1 == 0)
		return 0;
	int32_t s = r2 - r1 + optics_q14_mul(n1, optics_q14_div(d, n));
	if (s == 0)
		return 0; // a shell with parallel surfaces does not bend the light
	int32_t f = optics_q14_mul(optics_q14_div(optics_q14_mul(r1, r2), s), optics_q14_div(Q14_ONE, n1));
	if (f == 0)
		return 0;
	return optics_q14_div(1000 * Q14_ONE, f);
}

struct dome *dome_quorval_create(void)
{
	return make(power_of(quorval));
}

struct dome *dome_type2_create(void)
{
	return make(power_of(type2));
}

struct dome *dome_mirask_create(void)
{
	return make(power_of(mirask));
}

struct dome *dome_miraskor_create(void)
{
	return make(power_of(miraskor));
}

struct dome *dome_type5_create(void)
{
	return make(power_of(type5));
}

struct dome *dome_narbu_create(void)
{
	return make(power_of(narbu));
}

struct dome *dome_tolvesk_create(struct camblock *block, int32_t margin)
{
	int32_t p = power_of(type2);
	struct zoom_object *zoom = block ? block->zoom : nullptr;
	int32_t tele = zoom_position_for_magnification(zoom, zoom_max_magnification(zoom));
	int32_t q = camblock_dioptres_to_focus_position(block, tele, p) - margin;
	return make(camblock_focus_position_to_dioptres(block, tele, q));
}
