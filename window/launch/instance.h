#pragma once
// One window per user receives the files that later starts name.
//
// The first start of a user holds a lock in a folder that is private to the
// user and listens on a local socket beside it; a later start that names
// files sends them there and ends instead of opening a second window. The
// kernel drops the lock when its holder ends, however it ends, so a socket
// left behind by a crashed program is simply taken over by the next start.
//
// Each display has a lock and a socket of its own in the folder, so that a
// start on another display, which could not see the running window, opens
// a window of its own.
//
// The folder is $XDG_RUNTIME_DIR/brenvale when XDG_RUNTIME_DIR is a folder of
// the user's own that nobody else may enter, otherwise a folder
// brenvale-runtime-UID in $TMPDIR (or /tmp), made with mode 0700 and used only
// while it is the user's own private folder. No other user can plant a socket
// there, take the lock, or read what is sent.
#include "common/uniquefd.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;
class QLocalSocket;

// The display or Wayland session that a window of this start shows on, as a
// name for the lock and the socket: "wayland-..." from WAYLAND_DISPLAY,
// else "x11-..." from DISPLAY with its screen number and the local host
// left out (":0", ":0.1" and "unix:0" are one display); empty without
// either. Files go only to a window on the same display.
QString DisplayKey();

// The folder for the lock and the socket, made when missing; empty when no
// private folder can be had (then *problem says why).
QString InstanceFolder(QString* problem);

class InstanceClaim {
public:
    enum State {
        Running,     // this process holds the lock: it is the window that receives files
        Alone,       // another window holds the lock, or there is no private folder
        HandedOver,  // the files went to the running window
        Unconfirmed  // the files were sent, but the running window did not confirm them
    };

    // Takes the lock, or, when another start holds it and files were named,
    // hands paths to it (waiting up to handOverMs for a window that is
    // still starting). Problems are printed on stderr.
    InstanceClaim(bool namedFiles, const QStringList& paths, int handOverMs = 10000);
    ~InstanceClaim();
    InstanceClaim(const InstanceClaim&) = delete;
    InstanceClaim& operator=(const InstanceClaim&) = delete;

    State state() const { return state_; }
    QString socketPath() const { return socketPath_; }

private:
    bool tryLock();

    State state_ = Alone;
    QString folder_;
    QString suffix_;  // the display's part of the lock's and the socket's names
    QString socketPath_;
    UniqueFd lockFd_;
};

// The outcome of one attempt to hand paths to the running window.
enum class HandOverResult { Delivered, Unconfirmed, NotReached };

// Sends paths over the socket and waits up to timeoutMs for the
// confirmation. Works without a Qt application object.
HandOverResult HandOver(const QString& socketPath, const QStringList& paths, int timeoutMs);

// The running window's side: accepts the files that later starts send. A
// request is confirmed as soon as it has arrived whole; its paths are kept
// until a receiver is set and then handed to it from the event loop.
class InstanceServer : public QObject {
    Q_OBJECT

public:
    explicit InstanceServer(QObject* parent = nullptr);
    ~InstanceServer() override;

    // Listens on socketPath, taking over a socket that a crashed program
    // left there. Call only while holding the lock. False when it cannot.
    bool listen(const QString& socketPath);

    // Sets what receives the paths, and passes on those that came before.
    void setReceiver(std::function<void(const QStringList&)> receiver);

private:
    void accept();
    void read(QLocalSocket* socket);
    void deliver(const QStringList& paths);

    QLocalServer* server_ = nullptr;
    QHash<QLocalSocket*, QByteArray> pending_;
    QList<QStringList> held_;
    std::function<void(const QStringList&)> receiver_;
};

// The request's bytes: a tag, the payload's length (4 bytes, big-endian),
// then each path as the file system spells it, ended by a NUL byte.
QByteArray OpenRequest(const QStringList& paths);
enum class RequestState { Incomplete, Complete, Broken };
// Reads the bytes received so far; *paths is set when they are a whole request.
RequestState ParseOpenRequest(const QByteArray& bytes, QStringList* paths);
