#include "helmet_detect.h"

#include <fcntl.h>
#include <glib.h>
#include <stddef.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "algo_cl_modules.h"
#include "core/algo_step.h"
#include "core/control.h"
#include "core/control_timeout.h"
#include "core/daemon.h"
#include "core/debug_output.h"
#include "core/prodconf_schema_build.h"
#include "platform/frame_source.h"
#include "platform/platform.h"
#include "platform/videoinput.h"
#include "qvd_ioctl.h"
#include "step_support.h"

namespace
{

const char QVD_PATH[] = "/dev/qvd";

const prodconf_field settings_fields[] = {
    prodconf_field_i32("detect_poll_time", PRODCONF_INT, PRODCONF_OPTIONAL,
                       offsetof(helmet_settings, detect_poll_time), HELMET_DEFAULT_POLL_TIME),
};

helmet_state *state_of(algo_step *step)
{
	return static_cast<helmet_state *>(algo_step_get_local_data(step));
}

// One helmet request: the word goes in after 8 zero bytes and comes back there.
int helmet_request(int fd, unsigned long code, uint32_t *word)
{
	qvd_vin_helmet h = {};
	h.value = *word;
	if (ioctl(fd, code, &h) < 0)
		return -1;
	*word = h.value;
	return 0;
}

// The access state; a failed read counts as healthy.
int get_helmet_state(helmet_state *s, uint32_t *state)
{
	*state = QVD_HELMET_READ_ACCESS;
	if (helmet_request(s->fd, QVD_IOC_VIN_GET_HELMET_STATE, state) == 0)
		return 0;
	debug_output(DEBUG_ERROR, 0, "%s: failed to read access state %m\n", "get_helmet_state");
	*state = 0;
	return -1;
}

void set_helmet_to_broken(helmet_state *s)
{
	uint32_t word = QVD_HELMET_MARK_BROKEN;
	if (helmet_request(s->fd, QVD_IOC_VIN_SET_HELMET_STATE, &word) != 0)
		debug_output(DEBUG_ERROR, 0, "%s: failed to set access state %m\n", "set_helmet_to_broken");
}

// Ends with a restart of every stream: the new step's init reads the new
// current input, so the poll timeout is not restarted here.
int switch_vin(helmet_state *s, platform *plat, uint32_t vin, uint32_t reason, const char *why,
               uint8_t plugged)
{
	debug_output(DEBUG_INFO, 0, "%s: Change to vin %u (reason %u) \n", "helmet_detect_run", vin, reason);
	s->plugged = plugged;
	if (update_vsync_src(plat, (int)vin, why) != PLATFORM_OK) {
		update_vsync_src(plat, HELMET_MAIN_VIN, "EXTENSION_UNPLUGGED");
		GObject *input = videoinput_input_start(0);
		if (input)
			g_object_unref(input);
	}
	daemon_request_stream_restart();
	return 0;
}

} // namespace

const struct prodconf_schema helmet_settings_schema = {"config", sizeof(helmet_settings), settings_fields,
                                                       G_N_ELEMENTS(settings_fields)};

const struct algo_cl_module helmet_detect_module = {&helmet_settings_schema,
                                                    sizeof(helmet_state),
                                                    helmet_detect_init,
                                                    helmet_detect_run,
                                                    helmet_detect_destroy,
                                                    {PLATFORM_DATA_PLUG_EVENT},
                                                    1,
                                                    {},
                                                    0,
                                                    helmet_detect_specifics,
                                                    nullptr};

void helmet_detect_specifics(struct prodconf *, struct control *engine, int32_t stream_id,
                             struct algo_step *step, void *settings)
{
	helmet_state *s = state_of(step);
	if (!s)
		return;
	// Zero is a descriptor like any other: a step whose init never ran must
	// not close it.
	s->fd = -1;
	const helmet_settings *conf = static_cast<const helmet_settings *>(settings);
	s->poll_time = g_new(int32_t, 1);
	*s->poll_time = conf ? conf->detect_poll_time : HELMET_DEFAULT_POLL_TIME;
	s->interval = {*s->poll_time, 0};
	s->timeout = step_timeout_start(engine, step, stream_id, &s->interval);
}

int helmet_detect_init(struct algo_step *step, struct control *engine)
{
	helmet_state *s = state_of(step);
	if (!s || !control_get_platform(engine))
		return -1;
	s->fd = open(QVD_PATH, O_RDWR);
	if (s->fd < 0) {
		debug_output(DEBUG_ERROR, 0, "%s: Failed to open qvd \n", "helmet_detect_init");
		return -1;
	}
	s->plugged = videoinput_input_get_current_vin() == HELMET_VIN;
	debug_output(DEBUG_INFO, 0, "%s: helmet is %s\n", "helmet_detect_init",
	             s->plugged ? "plugged" : "unplugged");
	return 0;
}

int helmet_detect_run(struct algo_step *step, struct control *engine)
{
	helmet_state *s = state_of(step);
	platform *plat = control_get_platform(engine);
	control_job *input = control_get_input(engine);
	if (!s || !plat || !input)
		return -1;
	uint32_t reason = input->type == PLATFORM_DATA_PLUG_EVENT ? 1 : 0;

	uint32_t plug = QVD_HELMET_READ_PLUG;
	bool present = false;
	if (helmet_request(s->fd, QVD_IOC_VIN_GET_HELMET_STATE, &plug) == 0)
		present = (plug & 0x30) == 0x10;
	else
		debug_output(DEBUG_ERROR, 0, "%s: failed to read plug state %m/\n", "helmet_detect_run");

	if (!present && s->plugged)
		return switch_vin(s, plat, HELMET_MAIN_VIN, reason, "EXTENSION_UNPLUGGED", 0);
	if (present && !s->plugged)
		return switch_vin(s, plat, HELMET_VIN, reason, "EXTENSION_PLUGGED", 1);
	if (present && reason == 0) {
		uint32_t state;
		if (get_helmet_state(s, &state) != 0 || state == 0) {
			s->error_count = 0;
		} else {
			debug_output(DEBUG_ERROR, 0, "helmet state error: 0x%x\n", state);
			if (++s->error_count > 3) {
				debug_output(DEBUG_INFO, 0, "%s: Helmet is in bad state -changing to main \n",
				             "helmet_detect_run");
				set_helmet_to_broken(s);
				return switch_vin(s, plat, HELMET_MAIN_VIN, reason, "EXTENSION_ERROR",
				                  s->plugged);
			}
		}
	}
	if (s->timeout)
		control_start_timeout(engine, s->timeout, &s->interval);
	return 0;
}

int helmet_detect_destroy(struct algo_step *step, struct control *)
{
	helmet_state *s = state_of(step);
	if (!s)
		return -1;
	if (s->fd >= 0)
		close(s->fd);
	s->fd = -1;
	g_free(s->poll_time);
	s->poll_time = nullptr;
	return 0;
}
