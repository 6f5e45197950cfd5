// The video driver's DSP debug log set-up.
#include "qvd.h"
#include "qvd_ioctl.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>

int qvd_set_dsp_log(simsoc_file *f, void *arg)
{
	(void)f;
	if (!arg)
		return -EFAULT;
	qvd_dsp_log rec;
	memcpy(&rec, arg, sizeof rec);
	bool reserved_clear = true;
	for (uint32_t r : rec.reserved)
		reserved_clear = reserved_clear && r == 0;
	simsoc_log("qvd: set dsp log cmd %u mask 0x%08x level %u%s", rec.command, rec.module_mask, rec.level,
	           reserved_clear ? "" : " reserved-not-zero");
	if (rec.level > QVD_DSP_LOG_LEVEL_MAX)
		return -EINVAL;
	return 0;
}
