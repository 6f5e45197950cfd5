#pragma once
// What the steps a test replaces at link time were asked, in order, and what
// the test tells them to answer.

#include <map>
#include <string>
#include <vector>

inline std::vector<std::string> calls;
inline std::map<std::string, int> answers;

inline int answer(const std::string &step, int otherwise)
{
	auto it = answers.find(step);
	return it == answers.end() ? otherwise : it->second;
}

inline int record(const std::string &step, const std::string &args, int otherwise)
{
	calls.push_back(step + "(" + args + ")");
	return answer(step, otherwise);
}

inline std::string join(const std::vector<std::string> &list)
{
	std::string out;
	for (auto &s : list)
		out += (out.empty() ? "" : " ") + s;
	return out;
}
