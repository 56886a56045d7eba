// The window in front on sway, and on any compositor that speaks i3's IPC,
// from its socket ($SWAYSOCK, else $I3SOCK). One connection is subscribed
// to the window and workspace events; they only say that something changed.
// The tree is asked for once, on a second connection, after events have
// arrived: a tick with nothing new costs one read that finds nothing.
#include "platform/wayland/sources.h"

#include <string>
#include <string_view>

#include "platform/utf16-text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace platform::wayland {

namespace {

const char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr size_t kHeader = sizeof(kMagic) + 8;
constexpr uint32_t kSubscribe = 2;
constexpr uint32_t kGetTree = 4;
constexpr uint32_t kEventBit = 0x80000000u;
constexpr uint32_t kShutdownEvent = kEventBit | 6;
// A reply that takes longer than this is taken for a compositor that hangs.
constexpr int kReplyTimeoutMs = 2000;
// Larger messages are refused: a tree of thousands of windows is a few MB.
constexpr uint32_t kMaxPayload = 64u << 20;

int Connect(const char *path)
{
	sockaddr_un address{};
	address.sun_family = AF_UNIX;
	if (std::strlen(path) >= sizeof(address.sun_path))
		return -1;
	std::strcpy(address.sun_path, path);
	const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return -1;
	if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
		close(fd);
		return -1;
	}
	return fd;
}

bool WriteAll(int fd, const char *data, size_t size)
{
	while (size > 0) {
		const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		data += n;
		size -= static_cast<size_t>(n);
	}
	return true;
}

bool Send(int fd, uint32_t type, const QByteArray &payload)
{
	char header[kHeader];
	const uint32_t length = static_cast<uint32_t>(payload.size());
	std::memcpy(header, kMagic, sizeof(kMagic));
	std::memcpy(header + 6, &length, 4);
	std::memcpy(header + 10, &type, 4);
	return WriteAll(fd, header, kHeader) && WriteAll(fd, payload.constData(), payload.size());
}

// Reads exactly `size` bytes, waiting at most kReplyTimeoutMs for each part.
bool ReadAll(int fd, char *data, size_t size)
{
	while (size > 0) {
		pollfd p = {fd, POLLIN, 0};
		const int ready = poll(&p, 1, kReplyTimeoutMs);
		if (ready < 0 && errno == EINTR)
			continue;
		if (ready <= 0)
			return false;
		const ssize_t n = recv(fd, data, size, 0);
		if (n < 0 && (errno == EINTR || errno == EAGAIN))
			continue;
		if (n <= 0)
			return false;
		data += n;
		size -= static_cast<size_t>(n);
	}
	return true;
}

// One whole message: its type and payload.
bool Receive(int fd, uint32_t *type, QByteArray *payload)
{
	char header[kHeader];
	if (!ReadAll(fd, header, kHeader) || std::memcmp(header, kMagic, sizeof(kMagic)) != 0)
		return false;
	uint32_t length;
	std::memcpy(&length, header + 6, 4);
	std::memcpy(type, header + 10, 4);
	if (length > kMaxPayload)
		return false;
	payload->resize(static_cast<int>(length));
	return ReadAll(fd, payload->data(), length);
}

} // namespace

// sway passes an X window's WM_NAME through as it is, which ICCCM puts in
// Latin-1: its tree then is no valid UTF-8, and a JSON parser refuses the
// whole of it. Each byte of a malformed sequence is taken for a Latin-1
// character.
QByteArray RepairUtf8(const QByteArray &text)
{
	const std::string_view bytes(text.constData(), static_cast<size_t>(text.size()));
	QByteArray out;
	bool repaired = false;
	out.reserve(text.size());
	for (size_t i = 0; i < bytes.size();) {
		const size_t start = i;
		if (text::DecodeUtf8(bytes, i) != text::kNotUtf8) {
			out.append(bytes.data() + start, static_cast<int>(i - start));
			continue;
		}
		std::string latin1;
		for (size_t j = start; j < i; ++j)
			text::AppendUtf8(latin1, static_cast<unsigned char>(bytes[j]));
		out.append(latin1.data(), static_cast<int>(latin1.size()));
		repaired = true;
	}
	return repaired ? out : text;
}

namespace {

// The focused node of the tree, depth first; a null object when none.
QJsonObject FocusedNode(const QJsonObject &node, int depth = 0)
{
	if (node.value("focused").toBool())
		return node;
	if (depth > 64)
		return {};
	for (const char *key : {"nodes", "floating_nodes"}) {
		for (const QJsonValue child : node.value(key).toArray()) {
			const QJsonObject found = FocusedNode(child.toObject(), depth + 1);
			if (!found.isEmpty())
				return found;
		}
	}
	return {};
}

class SwaySource : public ForegroundSource {
public:
	~SwaySource() override
	{
		for (const int fd : {events_, requests_})
			if (fd >= 0)
				close(fd);
	}

	bool Start(const char *path, std::string *why)
	{
		events_ = Connect(path);
		requests_ = Connect(path);
		if (events_ < 0 || requests_ < 0) {
			*why = std::string("the IPC socket ") + path + " refused the connection (" +
			       std::strerror(errno) + ")";
			return false;
		}
		uint32_t type = 0;
		QByteArray reply;
		if (!Send(events_, kSubscribe, R"(["window","workspace","shutdown"])") ||
		    !Receive(events_, &type, &reply) || type != kSubscribe ||
		    !QJsonDocument::fromJson(reply).object().value("success").toBool()) {
			*why = std::string("the IPC socket ") + path + " did not take a subscription";
			return false;
		}
		fcntl(events_, F_SETFL, fcntl(events_, F_GETFL) | O_NONBLOCK);
		return true;
	}

	Answer Foreground(FocusedWindow *window) override
	{
		if (!lost_)
			DrainEvents();
		if (!lost_ && stale_)
			ReadTree();
		if (lost_)
			return Answer::Lost;
		*window = focused_;
		return Answer::Window;
	}

	const char *Source() const override { return "the window manager's IPC socket (sway/i3)"; }

private:
	// Reads what the subscribed connection has, without waiting; every
	// event makes the tree stale. Partial messages stay in `pending_`.
	void DrainEvents()
	{
		char buffer[16384];
		for (;;) {
			const ssize_t n = recv(events_, buffer, sizeof(buffer), 0);
			if (n > 0) {
				pending_.append(buffer, static_cast<int>(n));
				continue;
			}
			if (n < 0 && errno == EINTR)
				continue;
			if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
				lost_ = true; // the compositor has gone
			break;
		}
		while (pending_.size() >= static_cast<int>(kHeader)) {
			if (std::memcmp(pending_.constData(), kMagic, sizeof(kMagic)) != 0) {
				lost_ = true;
				return;
			}
			uint32_t length, type;
			std::memcpy(&length, pending_.constData() + 6, 4);
			std::memcpy(&type, pending_.constData() + 10, 4);
			if (length > kMaxPayload) {
				lost_ = true;
				return;
			}
			if (pending_.size() < static_cast<int>(kHeader + length))
				return;
			pending_.remove(0, static_cast<int>(kHeader + length));
			if (type == kShutdownEvent)
				lost_ = true;
			stale_ = true;
		}
	}

	void ReadTree()
	{
		uint32_t type = 0;
		QByteArray reply;
		if (!Send(requests_, kGetTree, {}) || !Receive(requests_, &type, &reply) ||
		    type != kGetTree) {
			lost_ = true;
			return;
		}
		const QJsonObject node =
			FocusedNode(QJsonDocument::fromJson(RepairUtf8(reply)).object());
		focused_ = {};
		// A focused workspace or output holds no window.
		const QString kind = node.value("type").toString();
		if (kind == "con" || kind == "floating_con") {
			focused_.id = static_cast<uint64_t>(node.value("id").toDouble());
			focused_.pid = static_cast<uint32_t>(node.value("pid").toInt());
			focused_.title = node.value("name").toString().toStdString();
		}
		stale_ = false;
	}

	int events_ = -1, requests_ = -1;
	QByteArray pending_;
	bool stale_ = true, lost_ = false;
	FocusedWindow focused_;
};

} // namespace

std::unique_ptr<ForegroundSource> StartSway(std::string *why)
{
	const char *path = std::getenv("SWAYSOCK");
	if (!path || !*path)
		path = std::getenv("I3SOCK");
	if (!path || !*path) {
		*why = "no IPC socket (SWAYSOCK and I3SOCK are not set)";
		return nullptr;
	}
	auto source = std::make_unique<SwaySource>();
	if (!source->Start(path, why))
		return nullptr;
	return source;
}

} // namespace platform::wayland
