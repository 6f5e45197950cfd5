// "/dev/vor_gadget", the USB gadget data stream to the host: the host's
// command is read by ioctl, the answer written by ioctl, and the data
// packets arrive as writes, which the model keeps for the test.
#include "simsoc.h"
#include "simsoc_gadget.h"
#include "vor_gadget_ioctl.h"

#include <errno.h>
#include <string.h>

#include <mutex>
#include <vector>

namespace
{

struct Gadget {
	std::mutex mu;
	vors_usb_host_cmd command = {VORS_USB_CMD_SIGNATURE, VORS_USB_CMD_OPEN, 0, 4096};
	std::vector<uint8_t> output;
	std::vector<size_t> writes;
	vors_usb_rsp response = {0, 0};
	int responses = 0;
};

Gadget &gadget()
{
	static Gadget *g = new Gadget;
	return *g;
}

ssize_t gadget_write(simsoc_file *, const void *buf, size_t len)
{
	Gadget &g = gadget();
	std::lock_guard<std::mutex> lk(g.mu);
	const uint8_t *p = static_cast<const uint8_t *>(buf);
	g.output.insert(g.output.end(), p, p + len);
	g.writes.push_back(len);
	return (ssize_t)len;
}

int gadget_ioctl(simsoc_file *, unsigned long req, void *arg)
{
	Gadget &g = gadget();
	std::lock_guard<std::mutex> lk(g.mu);
	if (req == VOR_DATA_STREAM_RD_CMD) {
		memcpy(arg, &g.command, sizeof g.command);
		simsoc_log("vor_gadget: host command 0x%08x %u size %u", g.command.signature,
		           g.command.command, g.command.packet_size);
		return 0;
	}
	if (req == VOR_DATA_STREAM_WR_RSP) {
		memcpy(&g.response, arg, sizeof g.response);
		g.responses++;
		simsoc_log("vor_gadget: response 0x%08x %u", g.response.signature, g.response.status);
		return 0;
	}
	return -ENOTTY;
}

const simsoc_model_ops gadget_ops = {
    .name = "vor_gadget",
    .mode = 0,
    .open = nullptr,
    .release = nullptr,
    .read = nullptr,
    .write = gadget_write,
    .ioctl = gadget_ioctl,
};

__attribute__((constructor)) void gadget_register()
{
	simsoc_register(VORS_USB_DEVICE, &gadget_ops, nullptr);
}

} // namespace

extern "C" void simsoc_gadget_set_command(uint32_t signature, uint32_t command, uint32_t packet_size)
{
	Gadget &g = gadget();
	std::lock_guard<std::mutex> lk(g.mu);
	g.command = vors_usb_host_cmd{signature, command, 0, packet_size};
}

extern "C" size_t simsoc_gadget_output(void *buf, size_t len)
{
	Gadget &g = gadget();
	std::lock_guard<std::mutex> lk(g.mu);
	if (buf)
		memcpy(buf, g.output.data(), len < g.output.size() ? len : g.output.size());
	return g.output.size();
}

extern "C" size_t simsoc_gadget_writes(size_t *lengths, size_t max)
{
	Gadget &g = gadget();
	std::lock_guard<std::mutex> lk(g.mu);
	for (size_t i = 0; lengths && i < max && i < g.writes.size(); i++)
		lengths[i] = g.writes[i];
	return g.writes.size();
}

extern "C" int simsoc_gadget_response(uint32_t last[2])
{
	Gadget &g = gadget();
	std::lock_guard<std::mutex> lk(g.mu);
	if (last)
		memcpy(last, &g.response, sizeof g.response);
	return g.responses;
}

extern "C" void simsoc_gadget_reset(void)
{
	Gadget &g = gadget();
	std::lock_guard<std::mutex> lk(g.mu);
	g.output.clear();
	g.writes.clear();
	g.responses = 0;
	g.response = vors_usb_rsp{0, 0};
	g.command = vors_usb_host_cmd{VORS_USB_CMD_SIGNATURE, VORS_USB_CMD_OPEN, 0, 4096};
}
