/*
 * A video service that does nothing but host its plug-ins: it offers the
 * overlay settings of a few channels and runs its main loop until SIGTERM.
 */
#include "vs_host.h"

#include <glib-unix.h>

static gboolean quit_loop(gpointer data)
{
	g_main_loop_quit(static_cast<GMainLoop *>(data));
	return G_SOURCE_REMOVE;
}

int main(int argc, char **argv)
{
	gint channels = 1;
	gchar **plugins = NULL;
	const GOptionEntry entries[] = {
	    {"channels", 'c', 0, G_OPTION_ARG_INT, &channels, "Number of video channels", "N"},
	    {"plugin", 'p', 0, G_OPTION_ARG_FILENAME_ARRAY, &plugins, "Plug-in to load", "PATH"},
	    {NULL, 0, 0, G_OPTION_ARG_NONE, NULL, NULL, NULL},
	};
	GOptionContext *ctx = g_option_context_new("- video service stand-in");
	GError *error = NULL;

	g_option_context_add_main_entries(ctx, entries, NULL);
	if (!g_option_context_parse(ctx, &argc, &argv, &error) || channels < 1) {
		g_printerr("%s\n", error ? error->message : "need at least one channel");
		return 2;
	}
	g_option_context_free(ctx);

	VsHost *host = vs_host_new((guint)channels);
	for (gchar **p = plugins; p && *p; p++) {
		if (!vs_host_load_plugin(host, *p, &error)) {
			g_printerr("plug-in %s: %s\n", *p, error->message);
			return 1;
		}
	}

	GMainLoop *loop = g_main_loop_new(NULL, FALSE);
	g_unix_signal_add(SIGTERM, quit_loop, loop);
	g_unix_signal_add(SIGINT, quit_loop, loop);
	g_main_loop_run(loop);
	g_main_loop_unref(loop);
	g_strfreev(plugins);
	g_object_unref(host);
	return 0;
}
