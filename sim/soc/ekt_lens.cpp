// The intelligent lens behind an I2C adapter: see simsoc_ekt_lens.h.
#include "simsoc_ekt_lens.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "i2c_register_device.h"
#include "model_env.h"
#include "simsoc.h"

namespace
{

enum : uint16_t {
	STATUS = 0x00E,
	MODEL = 0x100,
	RECORD_COUNT = 0x40C,
	FOCUS_MIN = 0x414,
	MOTION = 0x506,
	FOCUS_RESET = 0x600,
	FOCUS_STOP = 0x602,
	ZOOM_RESET = 0x604,
	ZOOM_STOP = 0x606,
	IRIS_RESET = 0x608,
	FOCUS_POSITION = 0x610,
	ZOOM_POSITION = 0x618,
	IRIS_POSITION = 0x620,
	ZOOM_MIN = 0x61A,
	RECORDS = 0x1000,
};

#define MODEL_LENGTH 24
#define RECORD_LENGTH 50
#define MOTION_ERROR_BITS 0xC000

struct Motor {
	int32_t position = 0;
	int32_t target = 0;
	bool moving = false;
	unsigned step = 0;
	unsigned reset_busy = 0;
};

struct Record {
	uint16_t type;
	uint16_t value;
	float c[11];
};

} // namespace

struct simsoc_ekt_lens : i2c_register_device {
	uint16_t regs[65536] = {};
	char model[MODEL_LENGTH] = {};
	std::vector<Record> records;
	bool count_set = false;
	Motor motors[3];
	unsigned reset_reads = 0;
};

namespace
{

using registry = i2c_register_registry<simsoc_ekt_lens>;

// The motor of a position, stop or reset register, -1 for none.
int motor_of(uint16_t reg)
{
	switch (reg) {
	case FOCUS_POSITION:
	case FOCUS_STOP:
	case FOCUS_RESET:
		return SIMSOC_EKT_FOCUS;
	case ZOOM_POSITION:
	case ZOOM_STOP:
	case ZOOM_RESET:
		return SIMSOC_EKT_ZOOM;
	case IRIS_POSITION:
	case IRIS_RESET:
		return SIMSOC_EKT_IRIS;
	}
	return -1;
}

bool is_reset(uint16_t reg)
{
	return reg == FOCUS_RESET || reg == ZOOM_RESET || reg == IRIS_RESET;
}

void put_be16(uint8_t *at, uint16_t v)
{
	at[0] = (uint8_t)(v >> 8);
	at[1] = (uint8_t)(v & 0xFF);
}

uint16_t record_count(const simsoc_ekt_lens *l)
{
	return l->count_set ? l->regs[RECORD_COUNT] : (uint16_t)l->records.size();
}

uint16_t value_of(const simsoc_ekt_lens *l, uint16_t reg)
{
	int motor = motor_of(reg);
	if (reg == RECORD_COUNT)
		return record_count(l);
	if (reg == MOTION) {
		uint16_t v = l->regs[MOTION] & MOTION_ERROR_BITS;
		for (int m = 0; m < 3; m++)
			v |= l->motors[m].moving ? (uint16_t)(1u << m) : 0;
		return v;
	}
	if (motor >= 0 && is_reset(reg))
		return l->motors[motor].reset_busy ? 1 : 0;
	if (motor >= 0 && (reg == FOCUS_POSITION || reg == ZOOM_POSITION || reg == IRIS_POSITION))
		return (uint16_t)l->motors[motor].position;
	if (reg >= RECORDS && (size_t)(reg - RECORDS) < l->records.size())
		return l->records[reg - RECORDS].type;
	return l->regs[reg];
}

int32_t lowest_position(const simsoc_ekt_lens *l, int motor)
{
	if (motor == SIMSOC_EKT_FOCUS)
		return l->regs[FOCUS_MIN];
	if (motor == SIMSOC_EKT_ZOOM)
		return l->regs[ZOOM_MIN];
	return 0;
}

void finish_reset(simsoc_ekt_lens *l, int motor)
{
	Motor &m = l->motors[motor];
	m.position = m.target = lowest_position(l, motor);
	m.moving = false;
}

uint16_t answer_read(simsoc_ekt_lens *l, uint16_t reg)
{
	uint16_t v = value_of(l, reg);
	int motor = motor_of(reg);
	if (is_reset(reg) && l->motors[motor].reset_busy && --l->motors[motor].reset_busy == 0)
		finish_reset(l, motor);
	return v;
}

void take_write(simsoc_ekt_lens *l, uint16_t reg, uint16_t value)
{
	char line[32];
	snprintf(line, sizeof(line), "0x%03x=%u", reg, value);
	l->writes.push_back(line);
	l->regs[reg] = value;
	int motor = motor_of(reg);
	if (motor < 0)
		return;
	Motor &m = l->motors[motor];
	if (is_reset(reg)) {
		if (value != 1)
			return;
		m.reset_busy = l->reset_reads;
		if (!m.reset_busy)
			finish_reset(l, motor);
		return;
	}
	if (reg == FOCUS_STOP || reg == ZOOM_STOP) {
		m.target = m.position;
		m.moving = false;
		return;
	}
	m.target = value;
	m.moving = m.step != 0 && m.target != m.position;
	if (m.step == 0)
		m.position = m.target;
}

void step(Motor &m)
{
	if (!m.moving)
		return;
	int32_t left = m.target - m.position;
	int32_t n = (int32_t)m.step;
	if ((left >= 0 ? left : -left) <= n)
		m.position = m.target;
	else
		m.position += left > 0 ? n : -n;
	m.moving = m.position != m.target;
}

int refuse(simsoc_ekt_lens *l, int read, const uint8_t *buf, size_t len)
{
	return i2c_register_refuse(l, "ekt-lens", read, buf, len);
}

void encode_record(const Record &r, uint8_t *out)
{
	put_be16(out, r.type);
	put_be16(out + 2, r.value);
	put_be16(out + 4, 0);
	for (int i = 0; i < 11; i++) {
		uint32_t bits;
		memcpy(&bits, &r.c[i], 4);
		put_be16(out + 6 + 4 * i, (uint16_t)(bits >> 16));
		put_be16(out + 8 + 4 * i, (uint16_t)(bits & 0xFFFF));
	}
}

// The answer of a multi-byte read; false when the register has none of
// that length.
bool answer_block(simsoc_ekt_lens *l, uint16_t reg, uint8_t *buf, size_t len)
{
	if (reg == MODEL && len == MODEL_LENGTH) {
		memcpy(buf, l->model, MODEL_LENGTH);
		return true;
	}
	size_t i = (size_t)(reg - RECORDS);
	if (reg >= RECORDS && len == RECORD_LENGTH && i < l->records.size()) {
		encode_record(l->records[i], buf);
		return true;
	}
	return false;
}

int transfer(void *client, int read, uint8_t *buf, size_t len)
{
	auto *l = static_cast<simsoc_ekt_lens *>(client);
	std::lock_guard<std::mutex> lk(l->mu);
	if (read) {
		if (l->read_pointer < 0)
			return refuse(l, read, buf, len);
		uint16_t reg = (uint16_t)l->read_pointer;
		l->read_pointer = -1;
		if (len == 2) {
			put_be16(buf, answer_read(l, reg));
			return 0;
		}
		return answer_block(l, reg, buf, len) ? 0 : refuse(l, read, buf, len);
	}
	uint16_t reg = len >= 2 ? (uint16_t)(buf[0] << 8 | buf[1]) : 0;
	if (len == 2) {
		if (int err = i2c_register_fault(l, reg, 1))
			return -err;
		l->read_pointer = reg;
		return 0;
	}
	if (len != 4)
		return refuse(l, read, buf, len);
	l->read_pointer = -1;
	if (int err = i2c_register_fault(l, reg, 0))
		return -err;
	take_write(l, reg, (uint16_t)(buf[2] << 8 | buf[3]));
	return 0;
}

void set_model(simsoc_ekt_lens *l, const char *text)
{
	memset(l->model, ' ', MODEL_LENGTH);
	size_t n = text ? strlen(text) : 0;
	memcpy(l->model, text, n < MODEL_LENGTH ? n : MODEL_LENGTH);
}

void add_record(simsoc_ekt_lens *l, uint16_t type, uint16_t value, const double *c, size_t count)
{
	Record r = {type, value, {}};
	for (size_t i = 0; i < count && i < 11; i++)
		r.c[i] = (float)c[i];
	l->records.push_back(r);
}

// "type:value:c0:c1:...;..." as in the header.
void records_from_env(simsoc_ekt_lens *l, const char *text)
{
	std::string all = text;
	size_t at = 0;
	while (at < all.size()) {
		size_t end = all.find(';', at);
		if (end == std::string::npos)
			end = all.size();
		std::string one = all.substr(at, end - at);
		at = end + 1;
		double v[13] = {};
		size_t n = 0;
		const char *s = one.c_str();
		while (*s && n < 13) {
			char *stop = nullptr;
			v[n] = strtod(s, &stop);
			if (stop == s)
				break;
			n++;
			s = *stop == ':' ? stop + 1 : stop;
		}
		if (n >= 2)
			add_record(l, (uint16_t)v[0], (uint16_t)v[1], v + 2, n - 2);
	}
}

void set_from_env(void *lens, uint16_t reg, uint16_t value)
{
	simsoc_ekt_lens_set(static_cast<simsoc_ekt_lens *>(lens), reg, value);
}

__attribute__((constructor)) void ekt_lens_from_env()
{
	uint32_t where[2] = {};
	if (simsoc_env_numbers("SIMSOC_EKT_LENS", where, 2) != 2)
		return;
	simsoc_ekt_lens *l = simsoc_ekt_lens_add(where[0], (uint8_t)where[1]);
	simsoc_env_registers("SIMSOC_EKT_REGS", set_from_env, l);
	if (const char *model = getenv("SIMSOC_EKT_MODEL"))
		set_model(l, model);
	if (const char *records = getenv("SIMSOC_EKT_RECORDS"))
		records_from_env(l, records);
}

} // namespace

extern "C" simsoc_ekt_lens *simsoc_ekt_lens_add(unsigned bus, uint8_t addr)
{
	auto *l = new simsoc_ekt_lens();
	l->bus = bus;
	l->addr = addr;
	l->regs[STATUS] = 0x07;
	set_model(l, "");
	return registry::add(l, transfer);
}

extern "C" void simsoc_ekt_lens_reset(void)
{
	registry::reset();
}

extern "C" uint16_t simsoc_ekt_lens_get(simsoc_ekt_lens *lens, uint16_t reg)
{
	std::lock_guard<std::mutex> lk(lens->mu);
	return value_of(lens, reg);
}

extern "C" void simsoc_ekt_lens_set(simsoc_ekt_lens *lens, uint16_t reg, uint16_t value)
{
	std::lock_guard<std::mutex> lk(lens->mu);
	int motor = motor_of(reg);
	if (motor >= 0 && !is_reset(reg) && reg != FOCUS_STOP && reg != ZOOM_STOP) {
		Motor &m = lens->motors[motor];
		m.position = m.target = value;
		m.moving = false;
		return;
	}
	if (reg == RECORD_COUNT)
		lens->count_set = true;
	lens->regs[reg] = value;
}

extern "C" void simsoc_ekt_lens_set_model(simsoc_ekt_lens *lens, const char *text)
{
	std::lock_guard<std::mutex> lk(lens->mu);
	set_model(lens, text);
}

extern "C" void simsoc_ekt_lens_add_record(simsoc_ekt_lens *lens, uint16_t type, uint16_t value,
                                           const double *c, size_t count)
{
	std::lock_guard<std::mutex> lk(lens->mu);
	add_record(lens, type, value, c, count);
}

extern "C" void simsoc_ekt_lens_set_reset_reads(simsoc_ekt_lens *lens, unsigned reads)
{
	std::lock_guard<std::mutex> lk(lens->mu);
	lens->reset_reads = reads;
}

extern "C" void simsoc_ekt_lens_set_step(simsoc_ekt_lens *lens, int motor, unsigned steps)
{
	std::lock_guard<std::mutex> lk(lens->mu);
	if (motor >= 0 && motor < 3)
		lens->motors[motor].step = steps;
}

extern "C" void simsoc_ekt_lens_tick(simsoc_ekt_lens *lens, unsigned ticks)
{
	std::lock_guard<std::mutex> lk(lens->mu);
	for (unsigned i = 0; i < ticks; i++)
		for (Motor &m : lens->motors)
			step(m);
}

extern "C" char *simsoc_ekt_lens_writes(simsoc_ekt_lens *lens)
{
	return i2c_register_writes(lens);
}

extern "C" void simsoc_ekt_lens_clear_writes(simsoc_ekt_lens *lens)
{
	i2c_register_clear_writes(lens);
}

extern "C" char *simsoc_ekt_lens_errors(simsoc_ekt_lens *lens)
{
	return i2c_register_errors(lens);
}

extern "C" void simsoc_ekt_lens_fail(simsoc_ekt_lens *lens, uint16_t reg, int direction, int err)
{
	i2c_register_fail(lens, reg, direction == SIMSOC_EKT_READ, err);
}
