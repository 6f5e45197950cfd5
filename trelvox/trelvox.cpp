// trelvox: configures the DSP's debug log and captures, dumps or parses it.
#include "trelvox.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

bool read_ucode_version(trelvox_ucode_version *v)
{
	memset(v, 0, sizeof *v);
	int fd = open(UCODE_DEVICE, O_RDWR | O_CLOEXEC);
	if (fd < 0) {
		perror(UCODE_DEVICE);
		return false;
	}
	bool ok = ioctl(fd, QVD_IOC_GET_UCODE_VERSION, v->bytes) >= 0;
	if (!ok)
		perror("QVD_IOC_GET_UCODE_VERSION");
	close(fd);
	return ok;
}

int show_ucode_version(const trelvox_ucode_version *v, bool valid)
{
	// A version made up of zeros would look like a real answer.
	if (!valid) {
		fprintf(stderr, "Cannot read the ucode version from /dev/ucode.\n");
		return 255;
	}
	char text[96];
	snprintf(text, sizeof text, "%d-%d-%d.num%d-ver%d", (int)trelvox_ucode_year(v),
	         (int)trelvox_ucode_month(v), (int)trelvox_ucode_day(v), (int)trelvox_ucode_edition(v),
	         (int)trelvox_ucode_number(v));
	fprintf(stderr, "Current ucode version is %s.\n", text);
	return 0;
}

int dump_logmem(void)
{
	char cmd[256];
	snprintf(cmd, sizeof cmd, "vors_debug -r 0x%x -s 0x%x -f %s", TRELVOX_LOGMEM_ADDR,
	         TRELVOX_LOGMEM_SIZE, TRELVOX_LOGMEM_DUMP);
	fflush(stdout);
	int status = system(cmd);
	if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) == 127) {
		perror("vors_debug");
		return 255;
	}
	// The dump is only there when the debug tool says it made it.
	if (WEXITSTATUS(status) != 0) {
		printf("vors_debug failed with exit status %d.\n", WEXITSTATUS(status));
		return 255;
	}
	printf("log got and save to %s, please check it.\n", TRELVOX_LOGMEM_DUMP);
	return 0;
}

} // namespace

int main(int argc, char **argv)
{
	trelvox_settings settings;
	trelvox_settings_init(&settings);
	if (trelvox_parse_options(&settings, argc, argv) < 0) {
		trelvox_usage();
		return 255;
	}
	trelvox_ucode_version version;
	bool version_valid = read_ucode_version(&version);

	if (settings.ucode_version)
		return show_ucode_version(&version, version_valid);
	if (settings.verify) {
		printf("Cannot run VERIFY function due to the non-fixed DSP log buffer start address.\n");
		return 255;
	}
	if (settings.tool_version) {
		printf("dsplog tool version is %s.\n", TRELVOX_VERSION);
		return 0;
	}
	if (settings.current)
		return dump_logmem();
	if (settings.mode == TRELVOX_MODE_PARSE)
		return trelvox_parse(&settings, &version);
	return trelvox_capture(&settings, &version);
}
