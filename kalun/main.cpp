// kalun: the machine-learning service daemon. Stays in the foreground under
// the service manager, owns com.tovi.Kalun1 on the system bus and serves
// sessions until SIGINT or SIGTERM.
#include <argp.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include <systemd/sd-bus.h>

#include "kalun/file_descriptor.h"
#include "kalun/log.h"
#include "kalun/service.h"

namespace
{

// Closed by its static destructor at process exit, after main returned.
kalun::FileDescriptor stopEventFd;
volatile sig_atomic_t stopSignalSeen = 0;

constexpr int kUsageKey = 127;

const char *const kBanner = " ##   ##    ###    ##      ##   ##  ##   ##\n"
                            " ##  ##    ## ##   ##      ##   ##  ###  ##\n"
                            " ## ##    ##   ##  ##      ##   ##  #### ##\n"
                            " ####     ##   ##  ##      ##   ##  ## ####\n"
                            " ## ##    #######  ##      ##   ##  ##  ###\n"
                            " ##  ##   ##   ##  ##      ##   ##  ##   ##\n"
                            " ##   ##  ##   ##  #######  #####   ##   ##\n"
                            "       machine learning on the camera\n";

const argp_option kalunOptions[] = {
    {"no-syslog", 's', nullptr, 0, "Do not print to syslog.", 0},
    {"help", 'h', nullptr, 0, "Print this help text and exit.", 0},
    {"usage", kUsageKey, nullptr, 0, "Print short usage message and exit.", 0},
    {"version", 'v', nullptr, 0, "Print version information and exit.", 0},
    {},
};

void printVersion()
{
	std::printf("kalun version %s\n\n%s%s%s\n", kalun::kVersion, kalun::log::kBold, kBanner,
	            kalun::log::kReset);
}

error_t parseOption(int key, char *arg, argp_state *state)
{
	(void)arg;
	bool *syslogFlag = static_cast<bool *>(state->input);
	switch (key) {
	case ARGP_KEY_INIT:
		*syslogFlag = true;
		return 0;
	case 's':
		*syslogFlag = false;
		return 0;
	case 'h':
		argp_state_help(state, stdout, ARGP_HELP_STD_HELP);
		return 0;
	case kUsageKey:
		argp_state_help(state, stdout, ARGP_HELP_USAGE | ARGP_HELP_EXIT_OK);
		return 0;
	case 'v':
		printVersion();
		std::exit(0);
	case ARGP_KEY_ARG:
		argp_error(state, "too many arguments");
		return 0;
	case ARGP_KEY_END:
		return 0;
	default:
		return ARGP_ERR_UNKNOWN;
	}
}

const argp kalunArgp = {kalunOptions, parseOption, nullptr, "\nMachine learning service",
                        nullptr,      nullptr,     nullptr};

void stopSignalHandler(int sig)
{
	const int savedErrno = errno;
	if (stopSignalSeen) {
		// A second request while the first is still being served: end now.
		std::signal(sig, SIG_DFL);
		std::raise(sig);
		errno = savedErrno;
		return;
	}
	stopSignalSeen = 1;
	const uint64_t one = 1;
	if (write(stopEventFd.get(), &one, sizeof one) != static_cast<ssize_t>(sizeof one)) {
		std::signal(sig, SIG_DFL);
		std::raise(sig);
	}
	errno = savedErrno;
}

struct BusRelease {
	void operator()(sd_bus *bus) const
	{
		sd_bus_flush_close_unref(bus);
	}
};
struct SlotRelease {
	void operator()(sd_bus_slot *slot) const
	{
		sd_bus_slot_unref(slot);
	}
};

// The bus library's own wording: call, error name, text.
std::string busErrorText(const char *call, int negativeErrno, const sd_bus_error *error)
{
	if (error && sd_bus_error_is_set(error))
		return std::string(call) + ": " + error->name + ": " + (error->message ? error->message : "");
	sd_bus_error named = SD_BUS_ERROR_NULL;
	sd_bus_error_set_errno(&named, -negativeErrno);
	std::string text =
	    std::string(call) + ": " + (named.name ? named.name : "") + ": " + std::strerror(-negativeErrno);
	sd_bus_error_free(&named);
	return text;
}

int run()
{
	sd_bus *rawBus = nullptr;
	// A failure shows in the name request below.
	sd_bus_open_system(&rawBus);
	std::unique_ptr<sd_bus, BusRelease> bus(rawBus);

	std::unique_ptr<sd_bus_slot, SlotRelease> objectManager;
	int r = -ENOTCONN;
	if (bus) {
		sd_bus_slot *slot = nullptr;
		sd_bus_add_object_manager(bus.get(), &slot, kalun::kServiceObjectPath);
		objectManager.reset(slot);
		r = sd_bus_request_name(bus.get(), kalun::kServiceBusName, 0);
	}
	if (r < 0) {
		kalun::log::error("Could not request bus name: " +
		                  busErrorText("sd_bus_request_name", r, nullptr));
		return 1;
	}

	std::shared_ptr<kalun::Service> service;
	try {
		service = std::make_shared<kalun::Service>(kalun::kServiceBusName, kalun::kServiceObjectPath,
		                                           bus.get());
	} catch (const std::exception &e) {
		kalun::log::error(std::string("Could not create service: ") + e.what());
		return 1;
	}

	const int fd = eventfd(0, 0);
	if (fd < 0) {
		kalun::log::error("Could not create eventfd");
		return 1;
	}
	stopEventFd = kalun::FileDescriptor(fd);

	if (std::signal(SIGINT, stopSignalHandler) == SIG_ERR ||
	    std::signal(SIGTERM, stopSignalHandler) == SIG_ERR) {
		kalun::log::error("Could not register signal handler");
		return 1;
	}

	int status = 0;
	try {
		service->start(stopEventFd.get());
	} catch (const std::exception &e) {
		kalun::log::error(std::string("Could not start service: ") + e.what());
		status = 1;
	}
	service.reset();
	objectManager.reset();
	bus.reset();
	return status;
}

} // namespace

int main(int argc, char **argv)
{
	bool syslogFlag = true;
	if (argp_parse(&kalunArgp, argc, argv, ARGP_NO_HELP, nullptr, &syslogFlag) != 0)
		return 1;
	kalun::log::syslogEnabled = syslogFlag;
	return run();
}
