// Motor-driver devices: the TB6613FTG of IR-cut filters ('S') and the
// stepper-iris driver ('E').
#include "ircut_motor_ioctl.h"
#include "iris_motor_ioctl.h"
#include "simsoc.h"
#include "simsoc_motor.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace
{

struct Motor {
	std::string path;
	bool iris = false;
	int32_t low = 0;
	int32_t high = 0;
	int32_t position = 0;
	uint32_t open_direction = 1;
	uint32_t backlash = 0;
	// Motor direction of the last move (+1 closing/forward, -1 opening/back).
	int last_sign = 0;
	uint32_t slack = 0; // backlash still to take up
	int sign = 0;       // of the move under way
	uint32_t remaining = 0;
	uint32_t per_query = UINT32_MAX;
	int fail_after = -1; // requests still to pass before one fails
	int fail_err = 0;
	std::map<uint32_t, uint32_t> channels;
	std::vector<std::string> requests;
};

struct Motors {
	std::mutex mu;
	std::map<std::string, Motor *> by_path;
};

Motors &motors()
{
	static Motors *m = new Motors;
	return *m;
}

void note(Motor *m, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void note(Motor *m, const char *fmt, ...)
{
	char line[200];
	va_list ap;
	va_start(ap, fmt);
	vsnprintf(line, sizeof(line), fmt, ap);
	va_end(ap);
	m->requests.push_back(line);
	simsoc_log("%s: %s", m->iris ? "iris_motor" : "tb6613ftg", line);
}

bool pin_ok(const char *name)
{
	return memchr(name, '\0', 8) != nullptr;
}

// Runs up to n steps of the move under way.
void advance(Motor *m, uint32_t n)
{
	if (n > m->remaining)
		n = m->remaining;
	m->remaining -= n;
	uint32_t eaten = n < m->slack ? n : m->slack;
	m->slack -= eaten;
	int64_t p = (int64_t)m->position + (int64_t)m->sign * (n - eaten);
	m->position = (int32_t)(p < m->low ? m->low : p > m->high ? m->high : p);
}

void start_move(Motor *m, int sign, uint32_t steps)
{
	advance(m, UINT32_MAX); // the driver finishes one move before the next
	if (m->iris && m->last_sign != 0 && sign != m->last_sign)
		m->slack = m->backlash;
	m->last_sign = sign;
	m->sign = sign;
	m->remaining = steps;
}

uint32_t query(Motor *m)
{
	advance(m, m->per_query);
	return m->remaining;
}

int tb_ioctl(Motor *m, unsigned long request, void *arg)
{
	switch (request) {
	case IRCUT_MOTOR_SET_PINS: {
		auto *p = static_cast<ircut_motor_pins *>(arg);
		if (!pin_ok(p->data) || !pin_ok(p->clock) || !pin_ok(p->load))
			return -EINVAL;
		note(m, "set_pins %s %s %s", p->data, p->clock, p->load);
		return 0;
	}
	case IRCUT_MOTOR_MOVE: {
		auto *mv = static_cast<ircut_motor_move *>(arg);
		note(m, "move %u %d", mv->steps_per_second, mv->steps);
		start_move(m, mv->steps < 0 ? -1 : 1, (uint32_t)llabs((long long)mv->steps));
		return 0;
	}
	case IRCUT_MOTOR_GET_REMAINING:
		*static_cast<int32_t *>(arg) = (int32_t)query(m);
		return 0;
	case IRCUT_MOTOR_SET_CHANNEL: {
		auto *c = static_cast<ircut_motor_channel *>(arg);
		note(m, "set_channel %u 0x%x", c->channel, c->value);
		m->channels[c->channel] = c->value;
		return 0;
	}
	case IRCUT_MOTOR_SET_MCK_PIN: {
		auto *name = static_cast<const char *>(arg);
		if (!pin_ok(name))
			return -EINVAL;
		note(m, "set_mck_pin %s", name);
		return 0;
	}
	case IRCUT_MOTOR_CONFIG: {
		auto *c = static_cast<ircut_motor_config *>(arg);
		note(m, "config %u %u %u %u %u %u %u %u", c->zero[0], c->zero[1], c->zero[2], c->zero[3],
		     c->excitation_mode, c->divide_int_clock, c->pwm_turn_off, c->fast_decay);
		return 0;
	}
	case IRCUT_MOTOR_START: {
		auto *s = static_cast<ircut_motor_start *>(arg);
		note(m, "start %u %d %d", s->start_step, (int32_t)s->hold_voltage, (int32_t)s->run_voltage);
		return 0;
	}
	case IRCUT_MOTOR_SET_VOLTAGES: {
		auto *v = static_cast<ircut_motor_voltages *>(arg);
		note(m, "set_voltages %d %d", (int32_t)v->hold_voltage, (int32_t)v->run_voltage);
		return 0;
	}
	}
	return -ENOTTY;
}

int iris_ioctl(Motor *m, unsigned long request, void *arg)
{
	switch (request) {
	case IRIS_MOTOR_SERIAL_CONFIG: {
		auto *c = static_cast<iris_motor_serial_config *>(arg);
		if (!pin_ok(c->data) || !pin_ok(c->clock) || !pin_ok(c->latch))
			return -EINVAL;
		note(m, "serial_config %s %s %s", c->data, c->clock, c->latch);
		return 0;
	}
	case IRIS_MOTOR_CONFIG: {
		auto *c = static_cast<iris_motor_config *>(arg);
		if (!pin_ok(c->pwm_a) || !pin_ok(c->pwm_b))
			return -EINVAL;
		note(m, "motor_config %s %s", c->pwm_a, c->pwm_b);
		return 0;
	}
	case IRIS_MOTOR_MOVE: {
		auto *mv = static_cast<iris_motor_move *>(arg);
		note(m, "move %u %u %u", mv->direction, mv->steps, mv->speed);
		start_move(m, mv->direction == m->open_direction ? -1 : 1, mv->steps);
		return 0;
	}
	case IRIS_MOTOR_REMAINING:
		*static_cast<uint32_t *>(arg) = query(m);
		return 0;
	case IRIS_MOTOR_IS_MOVING:
		*static_cast<uint32_t *>(arg) = query(m) != 0;
		return 0;
	case IRIS_MOTOR_STOP:
		note(m, "stop");
		m->remaining = 0;
		return 0;
	case IRIS_MOTOR_SET_CHANNEL: {
		auto *c = static_cast<iris_motor_channel *>(arg);
		note(m, "set_channel %u 0x%x", c->channel, c->value);
		m->channels[c->channel] = c->value;
		return 0;
	}
	}
	return -ENOTTY;
}

int motor_open(simsoc_file *f)
{
	auto *m = static_cast<Motor *>(f->model);
	std::lock_guard<std::mutex> lk(motors().mu);
	note(m, "open 0x%x", (unsigned)(f->flags & O_ACCMODE));
	return 0;
}

int motor_ioctl(simsoc_file *f, unsigned long request, void *arg)
{
	auto *m = static_cast<Motor *>(f->model);
	if (!arg)
		return -EFAULT;
	std::lock_guard<std::mutex> lk(motors().mu);
	if (m->fail_after >= 0 && m->fail_after-- == 0)
		return -m->fail_err;
	return m->iris ? iris_ioctl(m, request, arg) : tb_ioctl(m, request, arg);
}

const simsoc_model_ops motor_ops = {.name = "motor", .open = motor_open, .ioctl = motor_ioctl};

Motor *add(const char *path)
{
	Motors &all = motors();
	Motor *&m = all.by_path[path];
	if (!m)
		m = new Motor;
	*m = Motor();
	m->path = path;
	simsoc_register(path, &motor_ops, m);
	return m;
}

Motor *find(const char *path)
{
	auto it = motors().by_path.find(path ? path : "");
	return it == motors().by_path.end() ? nullptr : it->second;
}

} // namespace

extern "C" void simsoc_tb6613ftg_add(const char *path, int32_t low_stop, int32_t high_stop, int32_t position)
{
	std::lock_guard<std::mutex> lk(motors().mu);
	Motor *m = add(path);
	m->low = low_stop;
	m->high = high_stop;
	m->position = position;
}

extern "C" void simsoc_iris_motor_add(const char *path, int32_t closed_stop, uint32_t open_direction,
                                      uint32_t backlash, int32_t position)
{
	std::lock_guard<std::mutex> lk(motors().mu);
	Motor *m = add(path);
	m->iris = true;
	m->high = closed_stop;
	m->open_direction = open_direction;
	m->backlash = backlash;
	m->position = position;
	m->last_sign = -1; // as after an opening move
}

extern "C" void simsoc_motor_set_step_per_query(const char *path, uint32_t steps)
{
	std::lock_guard<std::mutex> lk(motors().mu);
	if (Motor *m = find(path))
		m->per_query = steps;
}

extern "C" void simsoc_motor_fail_after(const char *path, unsigned passing, int err)
{
	std::lock_guard<std::mutex> lk(motors().mu);
	if (Motor *m = find(path)) {
		m->fail_after = err > 0 ? (int)passing : -1;
		m->fail_err = err;
	}
}

extern "C" int32_t simsoc_motor_position(const char *path)
{
	std::lock_guard<std::mutex> lk(motors().mu);
	Motor *m = find(path);
	return m ? m->position : 0;
}

extern "C" int64_t simsoc_motor_channel(const char *path, uint32_t channel)
{
	std::lock_guard<std::mutex> lk(motors().mu);
	Motor *m = find(path);
	if (!m || !m->channels.count(channel))
		return -1;
	return m->channels[channel];
}

extern "C" char *simsoc_motor_requests(const char *path)
{
	std::lock_guard<std::mutex> lk(motors().mu);
	std::string out;
	if (Motor *m = find(path))
		for (const std::string &r : m->requests)
			out += r + "\n";
	return strdup(out.c_str());
}

extern "C" void simsoc_motor_clear_requests(const char *path)
{
	std::lock_guard<std::mutex> lk(motors().mu);
	if (Motor *m = find(path))
		m->requests.clear();
}

// The record stays (a file may still be open); a later add resets it.
extern "C" void simsoc_motor_remove(const char *path)
{
	simsoc_unregister(path);
}
