#include "launch/instance.h"

#include "runtime/filehelpers.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

constexpr char kRequestTag[] = "BRVOPEN1";
constexpr qsizetype kTagSize = 8;
constexpr qsizetype kHeaderSize = kTagSize + 4;
// A file manager's "Open With" on thousands of files stays far below this;
// the command line itself is limited to a few megabytes.
constexpr quint32 kMaxPayload = 16u * 1024 * 1024;
constexpr char kConfirmation = 'K';
// A later start that has connected must send its whole request within this.
constexpr int kRequestMs = 10000;

bool IsPrivateFolder(const QByteArray& path) {
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

void PrintLine(const QString& text) {
    const QByteArray bytes = (text + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

bool FitsSocketAddress(const QByteArray& path) {
    return path.size() < static_cast<qsizetype>(sizeof(sockaddr_un::sun_path));
}

// Waits until fd is ready for events, or the deadline passes.
bool WaitFor(int fd, short events, const QElapsedTimer& clock, int timeoutMs) {
    for (;;) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

// The connecting process's user, from the kernel: only the user's own
// programs may hand files to the window.
bool PeerIsThisUser(qintptr descriptor) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           credentials.uid == ::geteuid();
}

// Letters, digits, ".", "_" and "-" stay; a long name is shortened to a
// hash, so that the socket's path stays within its limit.
QString FileNamePart(const QByteArray& text) {
    QByteArray part;
    for (char c : text)
        part += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-') ? c : '_';
    if (part.size() > 40)
        part = QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex().left(32);
    return QString::fromLatin1(part);
}

}  // namespace

QString DisplayKey() {
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    if (!wayland.isEmpty()) {
        // A relative name is a socket in the runtime folder.
        const QByteArray socket =
            wayland.startsWith('/') ? wayland : qgetenv("XDG_RUNTIME_DIR") + '/' + wayland;
        return QStringLiteral("wayland-") + FileNamePart(socket);
    }
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype colon = display.lastIndexOf(':');
    if (colon < 0)
        return QString();
    QByteArray host = display.left(colon);
    if (host == "unix")
        host.clear();
    QByteArray number = display.mid(colon + 1);
    if (const qsizetype dot = number.indexOf('.'); dot >= 0)
        number.truncate(dot);
    return QStringLiteral("x11-") + FileNamePart(host + ':' + number);
}

QString InstanceFolder(QString* problem) {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    QByteArray folder;
    if (runtime.startsWith('/') && IsPrivateFolder(runtime)) {
        folder = runtime + "/brenvale";
    } else {
        QByteArray temp = qgetenv("TMPDIR");
        if (!temp.startsWith('/'))
            temp = "/tmp";
        folder = temp + "/brenvale-runtime-" + QByteArray::number(::geteuid());
    }
    ::mkdir(folder.constData(), 0700);
    if (!IsPrivateFolder(folder)) {
        *problem = QFile::decodeName(folder) + QStringLiteral(" is not a private folder of this user");
        return QString();
    }
    return QFile::decodeName(folder);
}

InstanceClaim::InstanceClaim(bool namedFiles, const QStringList& paths, int handOverMs) {
    QString problem;
    folder_ = InstanceFolder(&problem);
    const QString display = DisplayKey();
    suffix_ = display.isEmpty() ? QString() : QLatin1Char('-') + display;
    if (!folder_.isEmpty() &&
        !FitsSocketAddress(QFile::encodeName(folder_ + QStringLiteral("/socket") + suffix_)))
        problem = folder_ + QStringLiteral(" is too long a path for a local socket");
    if (!problem.isEmpty()) {
        if (namedFiles)
            PrintLine(QStringLiteral("brenvale: ") + problem + QStringLiteral("; opening a new window"));
        return;
    }
    socketPath_ = folder_ + QStringLiteral("/socket") + suffix_;
    if (tryLock()) {
        state_ = Running;
        return;
    }
    if (!namedFiles)
        return;

    // The window that holds the lock may still be starting: try again until
    // it listens, or until it has ended and the lock is free.
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        switch (HandOver(socketPath_, paths, handOverMs)) {
            case HandOverResult::Delivered:
                state_ = HandedOver;
                return;
            case HandOverResult::Unconfirmed:
                PrintLine(QStringLiteral("brenvale: the running Brenvale window did not confirm the files"));
                state_ = Unconfirmed;
                return;
            case HandOverResult::NotReached:
                break;
        }
        if (tryLock()) {
            state_ = Running;
            return;
        }
        if (clock.elapsed() >= handOverMs) {
            PrintLine(QStringLiteral(
                "brenvale: the running Brenvale window does not answer; opening a new window"));
            return;
        }
        ::usleep(50 * 1000);
    }
}

InstanceClaim::~InstanceClaim() = default;

bool InstanceClaim::tryLock() {
    if (lockFd_.get() < 0) {
        // Close-on-exec: the tools a conversion starts must not keep the lock
        // alive after the window has ended.
        const std::string path = SystemPath(folder_ + QStringLiteral("/lock") + suffix_);
        UniqueFd lock(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
        struct stat st;
        if (lock.get() < 0 || ::fstat(lock.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid())
            return false;
        lockFd_ = std::move(lock);
    }
    return ::flock(lockFd_.get(), LOCK_EX | LOCK_NB) == 0;
}

HandOverResult HandOver(const QString& socketPath, const QStringList& paths, int timeoutMs) {
    const QByteArray path = QFile::encodeName(socketPath);
    if (!FitsSocketAddress(path))
        return HandOverResult::NotReached;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return HandOverResult::NotReached;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return HandOverResult::NotReached;
    }

    QElapsedTimer clock;
    clock.start();
    const QByteArray request = OpenRequest(paths);
    qsizetype sent = 0;
    while (sent < request.size()) {
        if (!WaitFor(fd, POLLOUT, clock, timeoutMs)) {
            ::close(fd);
            return HandOverResult::NotReached;
        }
        const ssize_t n = ::send(fd, request.constData() + sent, static_cast<size_t>(request.size() - sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            // The window closed the connection before it had the request: it
            // has taken none of it.
            ::close(fd);
            return HandOverResult::NotReached;
        }
        if (n > 0)
            sent += n;
    }

    char answer = 0;
    ssize_t n = -1;
    while (WaitFor(fd, POLLIN, clock, timeoutMs)) {
        n = ::recv(fd, &answer, 1, MSG_DONTWAIT);
        if (n >= 0 || (errno != EINTR && errno != EAGAIN))
            break;
    }
    ::close(fd);
    if (n == 1 && answer == kConfirmation)
        return HandOverResult::Delivered;
    // Closed without a confirmation: the window ended before it took the
    // request. No answer in time: it may still take it later.
    return n == 0 ? HandOverResult::NotReached : HandOverResult::Unconfirmed;
}

QByteArray OpenRequest(const QStringList& paths) {
    QByteArray payload;
    for (const QString& p : paths)
        payload += QFile::encodeName(p) + '\0';
    const quint32 size = static_cast<quint32>(payload.size());
    QByteArray request(kRequestTag, kTagSize);
    for (int shift = 24; shift >= 0; shift -= 8)
        request += static_cast<char>((size >> shift) & 0xff);
    return request + payload;
}

RequestState ParseOpenRequest(const QByteArray& bytes, QStringList* paths) {
    if (!QByteArray(kRequestTag, kTagSize).startsWith(bytes.left(kTagSize)))
        return RequestState::Broken;
    if (bytes.size() < kHeaderSize)
        return RequestState::Incomplete;
    quint32 size = 0;
    for (qsizetype i = kTagSize; i < kHeaderSize; ++i)
        size = (size << 8) | static_cast<unsigned char>(bytes.at(i));
    if (size > kMaxPayload || bytes.size() > kHeaderSize + static_cast<qsizetype>(size))
        return RequestState::Broken;
    if (bytes.size() < kHeaderSize + static_cast<qsizetype>(size))
        return RequestState::Incomplete;
    const QByteArray payload = bytes.mid(kHeaderSize);
    if (!payload.isEmpty() && !payload.endsWith('\0'))
        return RequestState::Broken;
    paths->clear();
    for (const QByteArray& p : payload.split('\0')) {
        // Only whole paths: the later start resolved relative ones already.
        if (p.startsWith('/'))
            paths->append(QFile::decodeName(p));
    }
    return RequestState::Complete;
}

InstanceServer::InstanceServer(QObject* parent) : QObject(parent) {}

InstanceServer::~InstanceServer() = default;

bool InstanceServer::listen(const QString& socketPath) {
    delete server_;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // Whatever stands at the path was left by a program that has ended: the
    // lock that this process holds would otherwise still be held.
    QLocalServer::removeServer(socketPath);
    if (!server_->listen(socketPath)) {
        PrintLine(QStringLiteral("brenvale: cannot listen on ") + socketPath + QStringLiteral(": ") +
                  server_->errorString());
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        try {
            accept();
        } catch (...) {
            // Nothing of a connection that fails here reaches the window.
        }
    });
    return true;
}

void InstanceServer::setReceiver(std::function<void(const QStringList&)> receiver) {
    receiver_ = std::move(receiver);
    const QList<QStringList> held = std::exchange(held_, {});
    for (const QStringList& paths : held)
        deliver(paths);
}

void InstanceServer::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        if (!PeerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        pending_.insert(socket, QByteArray());
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            try {
                read(socket);
            } catch (...) {
                pending_.remove(socket);
                socket->abort();
            }
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            pending_.remove(socket);
            socket->deleteLater();
        });
        QTimer::singleShot(kRequestMs, socket, [socket] { socket->abort(); });
    }
}

void InstanceServer::read(QLocalSocket* socket) {
    auto it = pending_.find(socket);
    if (it == pending_.end()) {
        socket->readAll();  // the request was complete; anything after it is ignored
        return;
    }
    it.value() += socket->readAll();
    QStringList paths;
    switch (ParseOpenRequest(it.value(), &paths)) {
        case RequestState::Incomplete:
            return;
        case RequestState::Broken:
            pending_.erase(it);
            socket->abort();
            return;
        case RequestState::Complete:
            pending_.erase(it);
            socket->write(&kConfirmation, 1);
            socket->disconnectFromServer();
            deliver(paths);
            return;
    }
}

void InstanceServer::deliver(const QStringList& paths) {
    if (!receiver_) {
        held_.append(paths);
        return;
    }
    // From the event loop, not from inside the socket's signal.
    QTimer::singleShot(0, this, [this, paths] { receiver_(paths); });
}
