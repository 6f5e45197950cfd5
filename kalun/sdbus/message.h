// Typed building and reading of sd-bus messages. The D-Bus signature of a
// C++ type is derived at compile time, so an argument list and the
// signature it travels under cannot disagree.
//
// Mapping: uint8_t "y", int32_t "i", uint32_t "u", int64_t "x", uint64_t "t",
// double "d", std::string "s", UnixFd "h", std::vector<T> "a<T>",
// std::tuple<T...> "(<T...>)", std::map / std::unordered_map "a{<K><V>}",
// and std::variant of these as "v" (read: the first alternative whose
// signature matches the variant's contents).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include <systemd/sd-bus.h>

#include "kalun/sdbus/error.h"

namespace kalun::sdbus
{

// A descriptor inside a message. Read: it belongs to the message and stays
// open only as long as the message does; whoever keeps it duplicates it.
struct UnixFd {
	int fd = -1;
};

template <typename T, typename = void> struct Signature;

// Every reading or writing of a value asks for its signature: each is
// built once and kept for the life of the process, never destroyed. A
// unit's worker may still be sending an answer while the process exits,
// after function statics would have been torn down.
inline const std::string &keptSignature(std::string text)
{
	return *new std::string(std::move(text));
}

template <char C> struct BasicSignature {
	static constexpr char kType = C;
	static const std::string &value()
	{
		static const std::string &text = keptSignature(std::string(1, C));
		return text;
	}
};

template <> struct Signature<uint8_t> : BasicSignature<'y'> {
};
template <> struct Signature<int32_t> : BasicSignature<'i'> {
};
template <> struct Signature<uint32_t> : BasicSignature<'u'> {
};
template <> struct Signature<int64_t> : BasicSignature<'x'> {
};
template <> struct Signature<uint64_t> : BasicSignature<'t'> {
};
template <> struct Signature<double> : BasicSignature<'d'> {
};
template <> struct Signature<std::string> : BasicSignature<'s'> {
};
template <> struct Signature<UnixFd> : BasicSignature<'h'> {
};

template <typename T> struct Signature<std::vector<T>> {
	static const std::string &value()
	{
		static const std::string &text = keptSignature("a" + Signature<T>::value());
		return text;
	}
};

template <typename... Ts> struct Signature<std::tuple<Ts...>> {
	static const std::string &contents()
	{
		static const std::string &text =
		    keptSignature((std::string() + ... + Signature<Ts>::value()));
		return text;
	}
	static const std::string &value()
	{
		static const std::string &text = keptSignature("(" + contents() + ")");
		return text;
	}
};

template <typename K, typename V> struct DictSignature {
	static const std::string &entry()
	{
		static const std::string &text = keptSignature(Signature<K>::value() + Signature<V>::value());
		return text;
	}
	// The dictionary's element type, "{...}".
	static const std::string &element()
	{
		static const std::string &text = keptSignature("{" + entry() + "}");
		return text;
	}
	static const std::string &value()
	{
		static const std::string &text = keptSignature("a" + element());
		return text;
	}
};
template <typename K, typename V> struct Signature<std::map<K, V>> : DictSignature<K, V> {
};
template <typename K, typename V> struct Signature<std::unordered_map<K, V>> : DictSignature<K, V> {
};

template <typename... Ts> struct Signature<std::variant<Ts...>> {
	static const std::string &value()
	{
		static const std::string &text = keptSignature("v");
		return text;
	}
};

// The signature of an argument list.
template <typename... Ts> std::string signatureOf()
{
	return (std::string() + ... + Signature<Ts>::value());
}

class Message
{
      public:
	Message() = default;
	// Takes over one reference (adopt) or adds one of its own.
	Message(sd_bus_message *message, bool adopt);
	Message(const Message &other);
	Message &operator=(const Message &other);
	Message(Message &&other) noexcept;
	Message &operator=(Message &&other) noexcept;
	~Message();

	sd_bus_message *get() const
	{
		return message_;
	}
	explicit operator bool() const
	{
		return message_ != nullptr;
	}

	// "" when the header has none (replies, errors).
	std::string member() const;

	// A method return for this call, to append the reply's values to.
	Message newMethodReturn() const;
	// Sends the message on its own connection; no reply is waited for.
	void send() const;
	// The complete signature of the body.
	std::string signature() const;

	template <typename... Ts> Message &append(const Ts &...values)
	{
		(appendOne(values), ...);
		return *this;
	}

	// Reads in order; raises Error naming the first argument that is missing
	// or of another type.
	template <typename... Ts> void read(Ts &...values)
	{
		(readOne(values), ...);
	}
	template <typename T> T read()
	{
		T value{};
		readOne(value);
		return value;
	}

	void openContainer(char type, const std::string &contents);
	void closeContainer();
	// False at the end of the enclosing container.
	bool enterContainer(char type, const std::string &contents);
	void exitContainer();
	// The type of the next element and, for containers, its contents; type
	// 0 at the end of the enclosing container.
	char peekType(std::string *contents = nullptr);
	// Skips complete types as given, or one element of any type for "".
	void skip(const std::string &types);
	// Back to the first argument.
	void rewind();

      private:
	void appendBasic(char type, const void *value);
	// False at the end of the enclosing container.
	bool readBasic(char type, void *value);

	template <typename T> void appendOne(const T &value)
	{
		if constexpr (std::is_same_v<T, std::string>) {
			appendBasic('s', value.c_str());
		} else if constexpr (std::is_same_v<T, UnixFd>) {
			appendBasic('h', &value.fd);
		} else {
			appendBasic(Signature<T>::kType, &value);
		}
	}
	template <typename T> void appendOne(const std::vector<T> &values)
	{
		openContainer('a', Signature<T>::value());
		for (const T &value : values)
			appendOne(value);
		closeContainer();
	}
	template <typename... Ts> void appendOne(const std::tuple<Ts...> &value)
	{
		openContainer('r', Signature<std::tuple<Ts...>>::contents());
		std::apply([this](const Ts &...fields) { (appendOne(fields), ...); }, value);
		closeContainer();
	}
	template <typename Map> void appendDict(const Map &values)
	{
		using K = typename Map::key_type;
		using V = typename Map::mapped_type;
		openContainer('a', DictSignature<K, V>::element());
		for (const auto &[key, value] : values) {
			openContainer('e', DictSignature<K, V>::entry());
			appendOne(key);
			appendOne(value);
			closeContainer();
		}
		closeContainer();
	}
	template <typename K, typename V> void appendOne(const std::map<K, V> &values)
	{
		appendDict(values);
	}
	template <typename K, typename V> void appendOne(const std::unordered_map<K, V> &values)
	{
		appendDict(values);
	}
	template <typename... Ts> void appendOne(const std::variant<Ts...> &value)
	{
		std::visit(
		    [this](const auto &held) {
			    using H = std::decay_t<decltype(held)>;
			    openContainer('v', Signature<H>::value());
			    appendOne(held);
			    closeContainer();
		    },
		    value);
	}

	template <typename T> void readOne(T &value)
	{
		if constexpr (std::is_same_v<T, std::string>) {
			const char *text = nullptr;
			requireBasic('s', &text);
			value = text;
		} else if constexpr (std::is_same_v<T, UnixFd>) {
			requireBasic('h', &value.fd);
		} else {
			requireBasic(Signature<T>::kType, &value);
		}
	}
	template <typename T> void readOne(std::vector<T> &values)
	{
		// Numbers lie in the message as they are in memory: the whole
		// array is taken at once, not element by element.
		if constexpr (std::is_arithmetic_v<T>) {
			const void *data = nullptr;
			size_t size = 0;
			requireArray(Signature<T>::kType, &data, &size);
			if (size % sizeof(T) != 0)
				throw Error(SD_BUS_ERROR_INVALID_ARGS,
				            "Array of type '" + Signature<std::vector<T>>::value() +
				                "' ends inside an element");
			const T *first = static_cast<const T *>(data);
			values.assign(first, first + size / sizeof(T));
			return;
		}
		requireContainer('a', Signature<T>::value());
		values.clear();
		while (peekType() != 0) {
			T value{};
			readOne(value);
			values.push_back(std::move(value));
		}
		exitContainer();
	}
	template <typename... Ts> void readOne(std::tuple<Ts...> &value)
	{
		requireContainer('r', Signature<std::tuple<Ts...>>::contents());
		std::apply([this](Ts &...fields) { (readOne(fields), ...); }, value);
		exitContainer();
	}
	template <typename Map> void readDict(Map &values)
	{
		using K = typename Map::key_type;
		using V = typename Map::mapped_type;
		const std::string &entry = DictSignature<K, V>::entry();
		requireContainer('a', DictSignature<K, V>::element());
		values.clear();
		while (enterContainer('e', entry)) {
			K key{};
			V value{};
			readOne(key);
			readOne(value);
			exitContainer();
			values.emplace(std::move(key), std::move(value));
		}
		exitContainer();
	}
	template <typename K, typename V> void readOne(std::map<K, V> &values)
	{
		readDict(values);
	}
	template <typename K, typename V> void readOne(std::unordered_map<K, V> &values)
	{
		readDict(values);
	}
	template <typename... Ts> void readOne(std::variant<Ts...> &value)
	{
		std::string contents;
		if (peekType(&contents) != 'v')
			throw Error(SD_BUS_ERROR_INVALID_ARGS, "Expected a variant");
		if (!(tryVariant<Ts>(value, contents) || ...))
			throw Error(SD_BUS_ERROR_INVALID_ARGS,
			            "Variant holds unexpected type '" + contents + "'");
	}
	template <typename T, typename V> bool tryVariant(V &value, const std::string &contents)
	{
		if (contents != Signature<T>::value())
			return false;
		enterContainer('v', contents);
		T held{};
		readOne(held);
		exitContainer();
		value = std::move(held);
		return true;
	}

	void requireBasic(char type, void *value);
	void requireContainer(char type, const std::string &contents);
	// An array of a fixed-size basic type, as it lies in the message.
	void requireArray(char type, const void **data, size_t *size);

	sd_bus_message *message_ = nullptr;
};

} // namespace kalun::sdbus
