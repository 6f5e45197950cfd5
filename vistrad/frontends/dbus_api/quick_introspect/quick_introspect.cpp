#include "quick_introspect.h"

#include <errno.h>
#include <glib.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/debug_output.h"
#include "core/param_map.h"
#include "core/vistrad_path.h"
#include "frontends/dbus_api/dbus_interface.h"
#include "name_map.h"

namespace
{

struct object_entry {
	std::string path;
	std::string text;
};

struct service_entry {
	std::string name;
	bool has_unique = false;
	std::string unique_name;
	std::vector<object_entry> objects;
};

struct registry {
	std::vector<service_entry> services;
	name_map names = {};
	char *path = nullptr;
};

GMutex lock;
registry *reg;

void registry_free()
{
	if (!reg)
		return;
	name_map_clear(&reg->names);
	g_free(reg->path);
	delete reg;
	reg = nullptr;
}

registry *get_registry()
{
	if (!reg) {
		reg = new registry;
		atexit(registry_free);
	}
	if (!reg->path)
		reg->path = vistrad_path(QUICK_INTROSPECT_PATH);
	return reg;
}

struct locked {
	locked()
	{
		g_mutex_lock(&lock);
	}
	~locked()
	{
		g_mutex_unlock(&lock);
	}
};

service_entry *find_service(registry *r, const char *name)
{
	for (service_entry &s : r->services)
		if (s.name == name)
			return &s;
	return nullptr;
}

void remove_file(const char *path)
{
	if (unlink(path) != 0 && errno != ENOENT)
		debug_output(DEBUG_ERROR, 0, "%s: unlink %s: %s\n", "quick_introspect", path,
		             g_strerror(errno));
}

bool file_equals(const char *path, const std::string &text)
{
	struct stat st;
	if (stat(path, &st) != 0 || (size_t)st.st_size != text.size())
		return false;
	gchar *contents = nullptr;
	gsize length = 0;
	if (!g_file_get_contents(path, &contents, &length, nullptr))
		return false;
	bool same = length == text.size() && memcmp(contents, text.data(), length) == 0;
	g_free(contents);
	return same;
}

void refresh(registry *r)
{
	if (r->services.empty()) {
		remove_file(r->path);
		return;
	}
	std::string text;
	for (const service_entry &s : r->services) {
		if (!s.has_unique)
			continue;
		char *line =
		    g_strdup_printf("SERVICE %s %u\n", s.unique_name.c_str(), (unsigned)s.objects.size());
		text += line;
		g_free(line);
		for (const object_entry &o : s.objects)
			text += o.text;
	}
	if (text.empty()) {
		remove_file(r->path);
		return;
	}
	if (file_equals(r->path, text))
		return;
	write_file(r->path, text.data(), text.size());
}

void append_printf(std::string &out, const char *format, ...) __attribute__((format(printf, 2, 3)));
void append_printf(std::string &out, const char *format, ...)
{
	va_list args;
	va_start(args, format);
	char *text = g_strdup_vprintf(format, args);
	va_end(args);
	out += text;
	g_free(text);
}

std::string signatures(const struct dbus_interface_arg *args, uint32_t count, int direction)
{
	std::string out;
	for (uint32_t i = 0; i < count; i++)
		if (direction < 0 || args[i].direction == direction)
			out += args[i].signature;
	return out.empty() ? "-" : out;
}

// Null when the property needs its parameter's definition and has none.
const char *property_signature(const dbus_interface *in, const dbus_interface_property *p)
{
	uint32_t type = p->type;
	if (!type) {
		const struct param_def *def = param_def(p->param_id);
		if (!def)
			return nullptr;
		type = def->type;
	}
	const char *signature = dbus_interface_type_signature(in, type);
	return signature ? signature : "?";
}

const char *access_text(uint32_t access)
{
	switch (access) {
	case 0:
		return "RW";
	case 1:
		return "R-";
	case 2:
		return "-W";
	default:
		return "--";
	}
}

bool render_object(const char *path, dbus_interface *const *interfaces, uint32_t count, std::string &out)
{
	append_printf(out, "\tO %s %u\n", path, (unsigned)count);
	for (uint32_t i = 0; i < count; i++) {
		const dbus_interface *in = interfaces[i];
		if (!in)
			return false;
		append_printf(out, "\t\tI %s %u %u %u\n", in->name, (unsigned)in->method_count,
		              (unsigned)in->property_count, (unsigned)in->signal_count);
		for (uint32_t m = 0; m < in->method_count; m++) {
			const dbus_interface_method *rec = in->methods[m];
			append_printf(out, "\t\t\tM %s %s %s\n", rec->name,
			              signatures(rec->args, rec->arg_count, DBUS_ARG_IN).c_str(),
			              signatures(rec->args, rec->arg_count, DBUS_ARG_OUT).c_str());
		}
		for (uint32_t p = 0; p < in->property_count; p++) {
			const dbus_interface_property *rec = in->properties[p];
			const char *name = dbus_interface_property_name(rec);
			const char *signature = property_signature(in, rec);
			if (!name || !signature) {
				debug_output(DEBUG_ERROR, 0,
				             "%s: property of parameter %u has no definition\n",
				             "quick_introspect_publish", (unsigned)rec->param_id);
				return false;
			}
			append_printf(out, "\t\t\tP %s %s %s\n", name, signature, access_text(rec->access));
		}
		for (uint32_t s = 0; s < in->signal_count; s++) {
			const dbus_interface_signal *rec = in->signals[s];
			append_printf(out, "\t\t\tS %s %s\n", rec->name,
			              signatures(rec->args, rec->arg_count, -1).c_str());
		}
	}
	return true;
}

void set_service_unique(service_entry &s, const char *unique_name)
{
	s.has_unique = unique_name != nullptr;
	s.unique_name = unique_name ? unique_name : "";
}

} // namespace

bool quick_introspect_set_unique_name(const char *name, const char *unique_name)
{
	if (!name || !*name)
		return false;
	locked guard;
	registry *r = get_registry();
	if (unique_name && *unique_name) {
		if (!name_map_set(&r->names, name, unique_name))
			return false;
	} else {
		name_map_remove(&r->names, name);
		unique_name = nullptr;
	}
	if (service_entry *s = find_service(r, name))
		set_service_unique(*s, unique_name);
	refresh(r);
	return true;
}

bool quick_introspect_publish(const char *name, const char *object_path,
                              struct dbus_interface *const *interfaces, uint32_t count)
{
	if (!name || !*name || !object_path || (count && !interfaces))
		return false;
	locked guard;
	registry *r = get_registry();
	std::string text;
	if (!render_object(object_path, interfaces, count, text))
		return false;
	service_entry *s = find_service(r, name);
	if (!s) {
		r->services.push_back(service_entry());
		s = &r->services.back();
		s->name = name;
	}
	set_service_unique(*s, name_map_lookup(&r->names, name));
	object_entry *o = nullptr;
	for (object_entry &e : s->objects)
		if (e.path == object_path)
			o = &e;
	if (o && o->text == text)
		return true;
	if (!o) {
		s->objects.push_back(object_entry());
		o = &s->objects.back();
		o->path = object_path;
	}
	o->text = text;
	refresh(r);
	return true;
}

bool quick_introspect_remove(const char *name, const char *object_path)
{
	if (!name || !object_path)
		return false;
	locked guard;
	registry *r = get_registry();
	service_entry *s = find_service(r, name);
	if (!s)
		return false;
	for (auto o = s->objects.begin(); o != s->objects.end(); ++o) {
		if (o->path == object_path) {
			s->objects.erase(o);
			break;
		}
	}
	if (s->objects.empty())
		r->services.erase(r->services.begin() + (s - r->services.data()));
	refresh(r);
	return true;
}

bool quick_introspect_clear(void)
{
	locked guard;
	registry *r = get_registry();
	r->services.clear();
	refresh(r);
	return true;
}

void quick_introspect_set_path(const char *path)
{
	locked guard;
	registry *r = get_registry();
	g_free(r->path);
	r->path = g_strdup(path);
}

bool write_file(const char *path, const char *bytes, size_t length)
{
	char *temporary = g_strdup_printf("%s.XXXXXX", path);
	umask(022);
	bool ok = false;
	int fd = mkstemp(temporary);
	if (fd < 0) {
		debug_output(DEBUG_ERROR, 0, "%s: mkstemp: %s\n", "write_file", g_strerror(errno));
	} else {
		ssize_t n = write(fd, bytes, length);
		const char *why = n < 0 ? g_strerror(errno) : "short write";
		close(fd);
		if (n != (ssize_t)length) {
			debug_output(DEBUG_ERROR, 0, "%s: write: %s (n =%d, expected %d)\n", "write_file",
			             why, (int)n, (int)length);
		} else if (rename(temporary, path) != 0) {
			debug_output(DEBUG_ERROR, 0, "%s: rename: %s\n", "write_file", g_strerror(errno));
		} else {
			debug_output(DEBUG_INFO, 0, "%s: Wrote %s\n", "write_file", path);
			ok = true;
		}
		if (!ok)
			unlink(temporary);
	}
	g_free(temporary);
	return ok;
}
