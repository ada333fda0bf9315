#pragma once
// The one way in which Qt calls the program's handlers.
//
// A handler without a trap of its own that fails must not let its failure
// reach Qt's event loop: it shows the uniform error report, naming the
// handler at line 0, and the window goes on. ConnectHandler connects a
// signal to a handler through that guard, RunUntrapped; event filters and
// overridden event handlers call their handlers through RunUntrapped too.
#include "app/errorreport.h"

#include <QObject>
#include <QString>

#include <type_traits>
#include <utility>

class Dialogs;

namespace handlerguard_detail {

// Calls the handler through the guard. It takes the leading signal arguments
// that the handler accepts, as a plain connection would: the call operator
// exists only for argument lists the handler can be called with, and Qt
// picks the longest of them.
template <typename Handler>
class Guarded {
public:
    Guarded(Dialogs& dialogs, QString procedure, Handler handler)
        : dialogs_(&dialogs), procedure_(std::move(procedure)), handler_(std::move(handler)) {}

    template <typename... Args, typename = std::enable_if_t<std::is_invocable_v<Handler&, Args&...>>>
    void operator()(Args&&... args) {
        RunUntrapped(*dialogs_, procedure_, [&] { handler_(args...); });
    }

private:
    Dialogs* dialogs_;
    QString procedure_;
    Handler handler_;
};

}  // namespace handlerguard_detail

// Connects sender's signal to handler, run through the guard in context's
// thread; the connection ends when sender or context is destroyed. procedure
// is the handler's name as the report shows it, such as "Option1_Click".
template <typename Sender, typename Signal, typename Handler>
QMetaObject::Connection ConnectHandler(const Sender* sender, Signal signal, const QObject* context,
                                       Dialogs& dialogs, const QString& procedure, Handler handler) {
    return QObject::connect(sender, signal, context,
                            handlerguard_detail::Guarded<Handler>(dialogs, procedure, std::move(handler)));
}
