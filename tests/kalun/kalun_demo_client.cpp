// Shows a running kalun at work: refuses an old client library, opens a session, loads a cpu-proc model
// that halves an RGB image, runs one job and prints what comes back.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "kalun_client.h"

namespace {

using namespace kalun::client;

void printImage(const char* title, const std::vector<uint8_t>& bytes, int width) {
    std::printf("%s\n", title);
    const size_t row = static_cast<size_t>(width) * 3;
    for (size_t i = 0; i < bytes.size(); ++i)
        std::printf("%s%3u%s", i % row == 0 ? "  " : "", bytes[i], (i + 1) % row == 0 ? "\n" : " ");
}

std::vector<uint8_t> readAll(int fd, size_t size) {
    std::vector<uint8_t> bytes(size);
    if (pread(fd, bytes.data(), size, 0) != static_cast<ssize_t>(size))
        throw std::runtime_error("Could not read the output image");
    return bytes;
}

bool serviceRunning(const SystemBus& bus) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* raw = nullptr;
    const int r = sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", "NameHasOwner", &error, &raw, "s",
                                     kBusName);
    sd_bus_error_free(&error);
    if (r < 0)
        return false;
    kalun::sdbus::Message reply(raw, true);
    int owned = 0;
    return sd_bus_message_read_basic(reply.get(), 'b', &owned) >= 0 && owned;
}

// Waits up to ten seconds for the service to own its name.
int waitForService() {
    SystemBus bus;
    for (int i = 0; i < 200; ++i) {
        if (serviceRunning(bus))
            return 0;
        usleep(50000);
    }
    std::fprintf(stderr, "kalun_demo_client: %s did not appear\n", kBusName);
    return 1;
}

// Prints NbrOfSessions once it reads 0, or after three seconds.
int printSessionsWhenIdle() {
    SystemBus bus;
    uint64_t n = bus.nbrOfSessions();
    for (int i = 0; i < 60 && n != 0; ++i) {
        usleep(50000);
        n = bus.nbrOfSessions();
    }
    std::printf("NbrOfSessions = %llu\n", static_cast<unsigned long long>(n));
    return 0;
}

void demo() {
    SystemBus bus;
    {
        const SessionReply refused = createSession(bus, "", 2, 0, 0);
        std::printf("CreateSession from library 2.0.0: code %d, \"%s\"\n", refused.code,
                    refused.message.c_str());
    }
    std::printf("client %s: NbrOfSessions = %llu\n", bus.uniqueName().c_str(),
                static_cast<unsigned long long>(bus.nbrOfSessions()));

    SessionReply reply = createSession(bus);
    std::printf("CreateSession: id %llu, code %d, message \"%s\", units:",
                static_cast<unsigned long long>(reply.id), reply.code, reply.message.c_str());
    for (const auto& [name, zero, chip] : reply.units)
        std::printf(" (%s, %u, %d)", name.c_str(), zero, chip);
    std::printf("\n");
    if (reply.code != 0)
        throw std::runtime_error("no session");
    const uint64_t id = reply.id;
    std::printf("NbrOfSessions = %llu\n", static_cast<unsigned long long>(bus.nbrOfSessions()));

    Channels channels(reply);
    std::printf("Handshake: session %llu\n",
                static_cast<unsigned long long>(channels.handshake(bus.uniqueName())));

    const int modelFd = memfdWith({});
    const LoadAnswer load =
        channels.loadModel(modelFd, 0, 1, 1, "halve", 1, scaleParams(4, 4, 2, 2));
    ::close(modelFd);
    const auto& [model, loadTag, loadCode, loadMessage] = load;
    std::printf("QueueLoadModel on cpu-proc: tag %llu, code %d \"%s\", model id %llu\n",
                static_cast<unsigned long long>(loadTag), loadCode, loadMessage.c_str(),
                static_cast<unsigned long long>(std::get<1>(model)));
    if (loadCode != 0)
        throw std::runtime_error("no model");

    for (const auto& [size, modelId, unit, access, name, inputs, outputs] : bus.models(id))
        std::printf("Models: id %llu on unit %llu, \"%s\", access %d, %zu input(s), %zu "
                    "output(s)\n",
                    static_cast<unsigned long long>(modelId), static_cast<unsigned long long>(unit),
                    name.c_str(), access, inputs.size(), outputs.size());

    std::vector<uint8_t> image;
    for (int i = 0; i < 4 * 4 * 3; ++i)
        image.push_back(static_cast<uint8_t>(i * 10));
    const int in = memfdWith(image);
    const int out = memfdWith(std::vector<uint8_t>(2 * 2 * 3));
    const auto& inMeta = std::get<5>(model).at(0);
    const auto& outMeta = std::get<6>(model).at(0);
    printImage("input 4x4 RGB:", image, 4);
    const Answer job = channels.runJob(std::get<1>(model), 1, 50, 2,
                                       {tensorFor(inMeta, in, image.size())},
                                       {tensorFor(outMeta, out, 12)});
    std::printf("QueueJob: tag %llu, code %d \"%s\"\n",
                static_cast<unsigned long long>(std::get<0>(job)), std::get<1>(job),
                std::get<2>(job).c_str());
    printImage("output 2x2 RGB:", readAll(out, 12), 2);
    ::close(in);
    ::close(out);
    std::printf("closing the connection ends the session\n");
}

}  // namespace

// No argument: the demo; "wait": wait for the service; "idle": print
// NbrOfSessions once the sessions have gone.
int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    try {
        if (mode == "wait")
            return waitForService();
        if (mode == "idle")
            return printSessionsWhenIdle();
        demo();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kalun_demo_client: %s\n", e.what());
        return 1;
    }
    return 0;
}
