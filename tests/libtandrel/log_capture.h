// Collects what the plug-in logs (g_log without a domain) for the test to read.
#pragma once

#include <glib.h>

#include <mutex>
#include <string>
#include <vector>

class LogCapture
{
      public:
	struct Line {
		GLogLevelFlags level;
		std::string domain;
		std::string message;
	};

	LogCapture()
	{
		old_ = g_log_set_default_handler(&LogCapture::handler, this);
	}
	~LogCapture()
	{
		g_log_set_default_handler(old_, nullptr);
	}
	LogCapture(const LogCapture &) = delete;
	LogCapture &operator=(const LogCapture &) = delete;

	std::vector<Line> lines() const
	{
		std::lock_guard<std::mutex> lock(mutex_);
		return lines_;
	}

	void clear()
	{
		std::lock_guard<std::mutex> lock(mutex_);
		lines_.clear();
	}

	// Messages of exactly this level, in order.
	std::vector<std::string> at(GLogLevelFlags level) const
	{
		std::vector<std::string> out;
		for (const Line &l : lines())
			if ((l.level & G_LOG_LEVEL_MASK) == level)
				out.push_back(l.message);
		return out;
	}

	bool has(GLogLevelFlags level, const std::string &message) const
	{
		for (const std::string &m : at(level))
			if (m == message)
				return true;
		return false;
	}

	// Criticals of GLib itself (bad casts, invalid properties) are faults.
	std::vector<std::string> criticals() const
	{
		return at(G_LOG_LEVEL_CRITICAL);
	}

      private:
	static void handler(const gchar *domain, GLogLevelFlags level, const gchar *message, gpointer data)
	{
		auto *self = static_cast<LogCapture *>(data);
		std::lock_guard<std::mutex> lock(self->mutex_);
		self->lines_.push_back({level, domain ? domain : "", message ? message : ""});
	}

	GLogFunc old_ = nullptr;
	mutable std::mutex mutex_;
	std::vector<Line> lines_;
};
