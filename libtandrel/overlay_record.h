/*
 * One overlay of the overlay daemon per channel and kind, and the calls
 * that create, change and remove it.
 */
#pragma once

#include <gio/gio.h>

enum OverlayKind {
	OVERLAY_IMAGE,
	OVERLAY_TEXT,
};

struct OverlayRecord {
	gint refCount; /* one per signal connection carrying it */
	enum OverlayKind kind;
	char *camera;           /* "1" for the first channel */
	GVariant *createReply;  /* "(o)", the argument of the remove call */
	char *objectPath;       /* set while the overlay exists */
	GObject *legacyOverlay; /* strong: the record outlives no connection */
	GObject *host;
};

/* Guards both lists and the overlay of every record on them. */
extern GMutex overlaysMutex;
extern GList *textOverlays;
extern GList *imageOverlays;

/* A record with one reference held by the caller. */
struct OverlayRecord *overlayRecordNew(enum OverlayKind kind, guint channel, GObject *legacyOverlay,
                                       GObject *host);
struct OverlayRecord *overlayRecordRef(struct OverlayRecord *record);
void overlayRecordUnref(struct OverlayRecord *record);
/* For use as a signal connection's destroy notify. */
void overlayRecordRelease(gpointer record, GClosure *closure);

/* Forgets every overlay without telling the daemon (it is gone). */
void forgetAllOverlays(void);

/* True when the overlay exists, or was created now. */
gboolean createOverlay(struct OverlayRecord *record, GError **error);
/* True when no overlay is left. */
gboolean removeOverlay(struct OverlayRecord *record, GError **error);
/* Whether the overlay daemon holds this record's overlay now. */
gboolean overlayCreated(struct OverlayRecord *record);

/* The "(a{ss})" argument of a change; NULL with error when the name has no key. */
GVariant *buildParams(struct OverlayRecord *record, const char *overlayProperty, const char *value,
                      GError **error);

gboolean setTextProperty(struct OverlayRecord *record, const char *overlayProperty, const char *value,
                         GError **error);
gboolean setImageProperty(struct OverlayRecord *record, const char *overlayProperty, GVariant *value,
                          GError **error);
