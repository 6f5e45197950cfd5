/* "/dev/dsplog", the DSP's log stream: read once capture has started. */
#ifndef DSPLOG_IOCTL_H
#define DSPLOG_IOCTL_H

#define DSPLOG_DEVICE "/dev/dsplog"

/* No argument. */
#define VORS_IOC_DSPLOG_START_CAPUTRE 0x7000ul
#define VORS_IOC_DSPLOG_STOP_CAPUTRE 0x7001ul

#endif
