/* The built-in lens-driver tables: no lens, and a P-iris on the lens
 * device. */
#include "lens_drv.h"

#include "ae.h"
#include "img_lib.h"
#include "vor_lens_ioctl.h"

#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#define PIRIS_SETTLE_US 100000u
#define PIRIS_POLL_US 10000u
/* A move that has not ended in 2 s will not: the deinit gives up. */
#define PIRIS_POLLS_MAX 200u

static struct {
	int fd;
	uint16_t *table;
	uint32_t count;
	uint32_t range[2];
	double step; /* 3 ln 10 / 640 */
} piris = {-1, NULL, 0, {0, 0}, 0};

static void sleep_us_default(unsigned us)
{
	usleep(us);
}

static void (*sleep_us)(unsigned us) = sleep_us_default;

void lens_piris_set_sleep(void (*fn)(unsigned us))
{
	sleep_us = fn ? fn : sleep_us_default;
}

static int fail(const char *what)
{
	printf("%s\n", what);
	return -1;
}

static int piris_config(uint32_t on)
{
	if (ioctl(piris.fd, VORS_IOC_P_IRIS_CONFIG, (unsigned long)on) < 0)
		return fail("VORS_IOC_P_IRIS_CONFIG Failed");
	return 0;
}

static void piris_close(void)
{
	if (piris.fd >= 0)
		close(piris.fd);
	piris.fd = -1;
}

int lens_piris_init(const void *)
{
	piris_close();
	piris.fd = open(VOR_LENS_DEVICE, O_RDWR);
	if (piris.fd < 0)
		return fail("OPEN LENS_DEVICE Failed");
	if (piris_config(1) < 0)
		goto out;
	if (ioctl(piris.fd, VORS_IOC_P_IRIS_RESET, 0ul) < 0) {
		fail("VORS_IOC_P_IRIS_RESET Failed");
		goto out;
	}
	if (piris_config(0) < 0)
		goto out;
	sleep_us(PIRIS_SETTLE_US);
	return 0;
out:
	piris_close();
	return -1;
}

/* A minimum of 0 would make every position infinite, and one above the
 * maximum has no positions at all. */
int lens_piris_load_table(const lens_piris_param *param)
{
	if (!param || !param->range || !param->table || param->count == 0 || param->range[0] == 0 ||
	    param->range[0] > param->range[1])
		return fail("NO_CORRECT_PIRIS_PARAM");
	uint16_t *t = (uint16_t *)malloc(param->count * sizeof *t);
	if (!t)
		return fail("Malloc_Piris_Table_Fail");
	memcpy(t, param->table, param->count * sizeof *t);
	free(piris.table);
	piris.table = t;
	piris.count = param->count;
	piris.range[0] = param->range[0];
	piris.range[1] = param->range[1];
	piris.step = 0.010793367623409648;
	return 0;
}

int lens_piris_set_pos(uint32_t index)
{
	if (index > AE_IRIS_MAX || !piris.table)
		return -1;
	uint32_t g = ae_iris_exposure(AE_IRIS_MAX - index);
	g = g < piris.range[0] ? piris.range[0] : g > piris.range[1] ? piris.range[1] : g;
	double i = log((double)g / piris.range[0]) / piris.step;
	if (!(i >= 0) || i >= piris.count)
		return -1;
	uint16_t pos = piris.table[(uint32_t)i];
	if (piris_config(1) < 0)
		return -1;
	if (ioctl(piris.fd, VORS_IOC_P_IRIS_SET_POS, (unsigned long)pos) < 0)
		return fail("VORS_IOC_P_IRIS_SET_POS Failed");
	return pos;
}

static int query_state(uint32_t *state)
{
	if (ioctl(piris.fd, VORS_IOC_P_IRIS_GET_STATE, state) < 0)
		return fail("VORS_IOC_P_IRIS_GET_STATE Failed");
	return 0;
}

int lens_piris_get_state(uint32_t *state)
{
	if (!state || query_state(state) < 0)
		return -1;
	if (*state == VOR_LENS_STATE_DONE && piris_config(0) < 0)
		return -1;
	return 0;
}

int lens_piris_calibration_check(uint32_t flags)
{
	if (flags == 0)
		return 0;
	if (flags & 1)
		return fail("NOT_NEED_FOR_THIS_LENS");
	return fail("NOT_SUPPORT_THIS_LENS_CALI");
}

int lens_piris_deinit(void)
{
	if (piris.fd >= 0) {
		uint32_t state = 0;
		unsigned polls = 0;
		while (query_state(&state) == 0 && state == VOR_LENS_STATE_MOVING) {
			if (++polls > PIRIS_POLLS_MAX) {
				printf("P-iris still moving after 2 s, closing\n");
				break;
			}
			sleep_us(PIRIS_POLL_US);
		}
		if (state == VOR_LENS_STATE_DONE)
			piris_config(0);
		piris_close();
	}
	free(piris.table);
	piris.table = NULL;
	piris.count = 0;
	return 0;
}

/* ---- the tables -------------------------------------------------------- */

static int refuse(void)
{
	return -1;
}

static int refuse_move(int32_t, uint32_t)
{
	return -1;
}

static int refuse_iris(uint32_t)
{
	return -1;
}

static int refuse_idle(int)
{
	return -1;
}

static int refuse_state(uint32_t *)
{
	return -1;
}

static void notice(void) {}

static int no_lens_init(const void *)
{
	return 0;
}

#define LENS_FAILING_SLOTS(init_slot, iris_slot)                                                             \
	refuse, refuse, init_slot, refuse, refuse, refuse_move, refuse_move, refuse_move, refuse_move,       \
	    refuse, iris_slot, refuse, notice, notice, refuse_idle, refuse_state, refuse_state

const img_lens_driver lens_drv_no_lens = {
    LENS_FAILING_SLOTS(no_lens_init, refuse_iris), NULL, NULL, NULL, {NULL}, NULL,
};

const img_lens_driver lens_drv_piris = {
    LENS_FAILING_SLOTS(lens_piris_init, lens_piris_set_pos),
    lens_piris_calibration_check,
    lens_piris_load_table,
    lens_piris_get_state,
    {NULL},
    lens_piris_deinit,
};

int img_lens_select_driver(int type)
{
	if (type == LENS_TYPE_NONE)
		return img_config_lens_driver(&lens_drv_no_lens);
	if (type == LENS_TYPE_PIRIS)
		return img_config_lens_driver(&lens_drv_piris);
	return -1;
}

const img_lens_driver *img_lens_active_driver(void)
{
	return (const img_lens_driver *)img_lib_lens_driver();
}
