// "/dev/vor_gadget", the USB gadget data stream to the host: the host's
// command is read by ioctl, the answer written by ioctl, and the data
// packets arrive as writes, which the model keeps for the test.
#include "simsoc.h"
#include "simsoc_gadget.h"

#include <errno.h>
#include <string.h>

#include <mutex>
#include <vector>

namespace {

constexpr unsigned long read_command = 0x80087501ul;
constexpr unsigned long write_response = 0x40087501ul;

struct Gadget {
    std::mutex mu;
    uint32_t command[4] = {0x55434D44u, 5, 0, 4096};
    std::vector<uint8_t> output;
    std::vector<size_t> writes;
    uint32_t response[2] = {0, 0};
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
    if (req == read_command) {
        memcpy(arg, g.command, sizeof g.command);
        simsoc_log("vor_gadget: host command 0x%08x %u size %u", g.command[0], g.command[1], g.command[3]);
        return 0;
    }
    if (req == write_response) {
        memcpy(g.response, arg, sizeof g.response);
        g.responses++;
        simsoc_log("vor_gadget: response 0x%08x %u", g.response[0], g.response[1]);
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
    simsoc_register("/dev/vor_gadget", &gadget_ops, nullptr);
}

} // namespace

extern "C" void simsoc_gadget_set_command(uint32_t signature, uint32_t command, uint32_t packet_size)
{
    Gadget &g = gadget();
    std::lock_guard<std::mutex> lk(g.mu);
    g.command[0] = signature;
    g.command[1] = command;
    g.command[2] = 0;
    g.command[3] = packet_size;
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
        memcpy(last, g.response, sizeof g.response);
    return g.responses;
}

extern "C" void simsoc_gadget_reset(void)
{
    Gadget &g = gadget();
    std::lock_guard<std::mutex> lk(g.mu);
    g.output.clear();
    g.writes.clear();
    g.responses = 0;
    g.response[0] = g.response[1] = 0;
    g.command[0] = 0x55434D44u;
    g.command[1] = 5;
    g.command[2] = 0;
    g.command[3] = 4096;
}
