#ifndef VISTRAD_PATH_H
#define VISTRAD_PATH_H

/* Every fixed path of the daemon goes through here. On the device
 * VISTRAD_ROOT is unset and the path is returned as given; tests and the demo
 * point it at a directory that stands in for the root file system.
 * The result is newly allocated: free it with g_free(). */
char *vistrad_path(const char *path);

#endif
