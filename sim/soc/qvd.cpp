// "/dev/qvd", the SoC's video driver.
#include "qvd.h"
#include "qvd_cfg_ioctl.h"
#include "qvd_ioctl.h"

#include <errno.h>
#include <string.h>

namespace
{

const qvd_ioctl qvd_ioctls[] = {
    {QVD_IOC_SET_DSP_LOG, qvd_set_dsp_log},
    {QVD_IOC_IMG_SET_MULTI_CHAN_CFG, qvd_set_multi_chan_cfg},
    {QVD_IOC_IMG_UPDATE_MULTI_CHAN_CFG, qvd_update_multi_chan_cfg},
    {QVD_IOC_QUERY_ENC_MODE_CAP, qvd_query_enc_mode_cap},
};

int qvd_dispatch(simsoc_file *f, unsigned long req, void *arg)
{
	for (const qvd_ioctl &e : qvd_ioctls)
		if (e.request == req)
			return e.handle(f, arg);
	simsoc_log("qvd: unknown ioctl 0x%lx", req);
	return -ENOTTY;
}

const simsoc_model_ops qvd_ops = {.name = "qvd", .ioctl = qvd_dispatch};

__attribute__((constructor)) void qvd_register()
{
	simsoc_register(QVD_DEVICE, &qvd_ops, nullptr);
}

} // namespace
