// The serial thermal lens's firmware behind a pseudo-terminal. The daemon
// holds the terminal's slave side; the firmware writes its answers into the
// master side from inside the daemon's write (or, when late, its read), so
// that a test steps the conversation without threads or waits.
#include "model_env.h"
#include "simsoc.h"
#include "simsoc_thermal_lens.h"
#include "thermal_lens_serial.h"

#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

namespace
{

using Bytes = std::vector<uint8_t>;

struct Lens {
	std::mutex mu;
	bool wakeup = true;
	simsoc_thermal_fault fault = SIMSOC_THERMAL_ANSWER;
	int fault_count = 0;
	int late_reads = 0;
	uint16_t focus = 17408, zoom = 16640, t1 = 1280, t2 = 1280, status_word = 0;
	uint8_t major = 1, minor = 4;
};

struct Line {
	int master = -1;
	Bytes pending; // bytes written and not yet a whole frame
	Bytes late;    // an answer held back
	int reads_until_late = 0;
	size_t unread = 0; // bytes the firmware sent that the daemon has not read
	bool wakeup_due = false;
};

Lens &lens()
{
	static Lens *l = new Lens;
	return *l;
}

void put16(Bytes &b, size_t at, uint16_t v)
{
	b[at] = (uint8_t)(v & 0xFF);
	b[at + 1] = (uint8_t)(v >> 8);
}

std::string hex(const uint8_t *b, size_t n)
{
	std::string out;
	char two[4];
	for (size_t i = 0; i < n; i++) {
		snprintf(two, sizeof(two), i ? " %02X" : "%02X", b[i]);
		out += two;
	}
	return out;
}

// The answer to a request frame, already faulted as the lens is told.
Bytes answer(const Bytes &request, Lens &l)
{
	uint8_t code = request[6];
	uint8_t length = thermal_lens_serial_answer_payload(code);
	Bytes a(length + 9u);
	memcpy(a.data(), request.data(), 4);
	a[4] = length;
	a[6] = code;
	switch (code) {
	case 0x10:
		put16(a, 7, l.focus);
		put16(a, 11, l.zoom);
		put16(a, 15, l.t1);
		put16(a, 17, l.t2);
		break;
	case 0x11:
		put16(a, 7, l.status_word);
		break;
	case 0x20:
	case 0x21:
		if (request.size() >= 12)
			put16(a, 8, (uint16_t)(request[8] | request[9] << 8));
		break;
	case 0x01:
		a[36] = l.major;
		a[37] = l.minor;
		break;
	default:
		break;
	}
	if (l.fault == SIMSOC_THERMAL_BAD_SEQUENCE)
		a[1]++;
	if (l.fault == SIMSOC_THERMAL_BAD_CODE)
		a[6]++;
	uint16_t crc = thermal_lens_serial_crc16(a.data(), length + 6u);
	put16(a, length + 6u, crc);
	a[length + 8u] = 0xF0;
	if (l.fault == SIMSOC_THERMAL_BAD_CRC)
		a[length + 6u] ^= 0xFF;
	if (l.fault == SIMSOC_THERMAL_SHORT)
		a.resize(a.size() - 3);
	return a;
}

void send(Line *line, const Bytes &b)
{
	ssize_t n = b.empty() ? 0 : write(line->master, b.data(), b.size());
	if (n < 0)
		simsoc_log("thermal_lens: write to the line failed: %s", strerror(errno));
	else
		line->unread += (size_t)n;
}

// One whole frame received: log it, then answer as told.
void received(Line *line, const Bytes &frame)
{
	Lens &l = lens();
	size_t body = frame.size() - 3;
	uint16_t crc = thermal_lens_serial_crc16(frame.data(), body);
	bool good = frame[body] == (crc & 0xFF) && frame[body + 1] == (crc >> 8) && frame.back() == 0xF0;
	simsoc_log("thermal_lens: rx %s%s", good ? "" : "bad crc ", hex(frame.data(), frame.size()).c_str());
	if (!good)
		return;
	simsoc_thermal_fault fault = l.fault_count > 0 ? l.fault : SIMSOC_THERMAL_ANSWER;
	simsoc_thermal_fault saved = l.fault;
	l.fault = fault;
	Bytes a = answer(frame, l);
	l.fault = saved;
	if (l.fault_count > 0)
		l.fault_count--;
	if (fault == SIMSOC_THERMAL_SILENT)
		return;
	if (fault == SIMSOC_THERMAL_LATE) {
		line->late = a;
		line->reads_until_late = l.late_reads;
		return;
	}
	send(line, a);
}

void take(Line *line, const uint8_t *b, size_t n)
{
	line->pending.insert(line->pending.end(), b, b + n);
	while (!line->pending.empty()) {
		if (line->pending[0] != 0x0F) {
			line->pending.erase(line->pending.begin()); // the wake-up ack and noise
			continue;
		}
		if (line->pending.size() < 5)
			return;
		size_t total = line->pending[4] + 9u;
		if (line->pending.size() < total)
			return;
		Bytes frame(line->pending.begin(), line->pending.begin() + (long)total);
		line->pending.erase(line->pending.begin(), line->pending.begin() + (long)total);
		received(line, frame);
	}
}

int lens_open(simsoc_file *f)
{
	int master = -1, slave = -1;
	if (openpty(&master, &slave, nullptr, nullptr, nullptr) < 0)
		return -errno;
	struct termios raw;
	tcgetattr(master, &raw);
	cfmakeraw(&raw);
	tcsetattr(master, TCSANOW, &raw);
	fcntl(master, F_SETFL, O_NONBLOCK);
	auto *line = new Line;
	line->master = master;
	f->priv = line;
	f->backing_fd = slave;
	std::lock_guard<std::mutex> lk(lens().mu);
	simsoc_log("thermal_lens: open %s", f->path);
	// The wake-up goes out when the daemon first listens: sent at once it
	// would fall to the daemon's flush as it sets the line up.
	line->wakeup_due = lens().wakeup;
	return 0;
}

void lens_release(simsoc_file *f)
{
	auto *line = static_cast<Line *>(f->priv);
	if (!line)
		return;
	close(line->master);
	delete line;
}

ssize_t lens_read(simsoc_file *f, void *buf, size_t len)
{
	auto *line = static_cast<Line *>(f->priv);
	std::lock_guard<std::mutex> lk(lens().mu);
	if (line->wakeup_due) {
		line->wakeup_due = false;
		send(line, Bytes{'W'});
	}
	if (!line->late.empty() && --line->reads_until_late <= 0) {
		send(line, line->late);
		line->late.clear();
	}
	// With nothing sent the line's read timeout would only pass in real
	// time: it passes at once, as the daemon's clock is stepped.
	if (line->unread == 0)
		return 0;
	ssize_t n = read(f->backing_fd, buf, len);
	if (n < 0)
		return -errno;
	line->unread -= (size_t)n < line->unread ? (size_t)n : line->unread;
	return n;
}

ssize_t lens_write(simsoc_file *f, const void *buf, size_t len)
{
	auto *line = static_cast<Line *>(f->priv);
	ssize_t n = write(f->backing_fd, buf, len);
	if (n < 0)
		return -errno;
	// The firmware takes what the line carried; the daemon's slave side
	// has nobody else reading its output.
	uint8_t scrap[512];
	while (read(line->master, scrap, sizeof(scrap)) > 0)
		;
	std::lock_guard<std::mutex> lk(lens().mu);
	take(line, static_cast<const uint8_t *>(buf), (size_t)n);
	return n;
}

// Termios calls that come through ioctl go to the terminal itself.
int lens_ioctl(simsoc_file *f, unsigned long request, void *arg)
{
	return ioctl(f->backing_fd, request, arg) < 0 ? -errno : 0;
}

const simsoc_model_ops lens_ops = {
    .name = "thermal_lens",
    .open = lens_open,
    .release = lens_release,
    .read = lens_read,
    .write = lens_write,
    .ioctl = lens_ioctl,
};

// The lens as SIMSOC_THERMAL_* describe it, for a daemon a test starts.
void lens_from_env(void)
{
	uint32_t v[5] = {};
	if (simsoc_env_numbers("SIMSOC_THERMAL_WAKEUP", v, 1) == 1)
		simsoc_thermal_lens_set_wakeup((int)v[0]);
	int n = simsoc_env_numbers("SIMSOC_THERMAL_FAULT", v, 3);
	if (n >= 2 && v[0] <= SIMSOC_THERMAL_BAD_CODE)
		simsoc_thermal_lens_fault((simsoc_thermal_fault)v[0], (int)v[1], n == 3 ? (int)v[2] : 0);
	if (simsoc_env_numbers("SIMSOC_THERMAL_STATUS", v, 5) == 5)
		simsoc_thermal_lens_set_status((uint16_t)v[0], (uint16_t)v[1], (uint16_t)v[2], (uint16_t)v[3],
		                               (uint16_t)v[4]);
	if (simsoc_env_numbers("SIMSOC_THERMAL_VERSION", v, 2) == 2)
		simsoc_thermal_lens_set_version((uint8_t)v[0], (uint8_t)v[1]);
}

__attribute__((constructor)) void thermal_lens_register(void)
{
	simsoc_register(THERMAL_LENS_SERIAL_PATH, &lens_ops, nullptr);
	lens_from_env();
}

} // namespace

extern "C" {

void simsoc_thermal_lens_reset(void)
{
	Lens &l = lens();
	std::lock_guard<std::mutex> lk(l.mu);
	l.wakeup = true;
	l.fault = SIMSOC_THERMAL_ANSWER;
	l.fault_count = 0;
	l.late_reads = 0;
	l.focus = 17408, l.zoom = 16640, l.t1 = l.t2 = 1280, l.status_word = 0;
	l.major = 1, l.minor = 4;
}

void simsoc_thermal_lens_set_wakeup(int send_w)
{
	std::lock_guard<std::mutex> lk(lens().mu);
	lens().wakeup = send_w != 0;
}

void simsoc_thermal_lens_fault(enum simsoc_thermal_fault fault, int count, int late_reads)
{
	std::lock_guard<std::mutex> lk(lens().mu);
	lens().fault = fault;
	lens().fault_count = count;
	lens().late_reads = late_reads;
}

void simsoc_thermal_lens_set_status(uint16_t focus, uint16_t zoom, uint16_t t1, uint16_t t2,
                                    uint16_t status_word)
{
	std::lock_guard<std::mutex> lk(lens().mu);
	Lens &l = lens();
	l.focus = focus, l.zoom = zoom, l.t1 = t1, l.t2 = t2, l.status_word = status_word;
}

void simsoc_thermal_lens_set_version(uint8_t major, uint8_t minor)
{
	std::lock_guard<std::mutex> lk(lens().mu);
	lens().major = major;
	lens().minor = minor;
}
}
