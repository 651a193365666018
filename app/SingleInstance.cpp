#include "SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace vrax {

namespace {
constexpr int AnswerTimeoutMs = 2000;
const QByteArray ShowRequest = "show\n";
const QByteArray ShowAnswer = "shown\n";
} // namespace

SingleInstance::SingleInstance(QString key, QObject* parent)
    : QObject(parent), key_(std::move(key)) {}

SingleInstance::~SingleInstance() {
    Close();
}

bool SingleInstance::AskRunningCopyToShow() {
    QLocalSocket socket;
    socket.connectToServer(key_);
    if (!socket.waitForConnected(AnswerTimeoutMs)) {
        return false;
    }
    socket.write(ShowRequest);
    socket.waitForBytesWritten(AnswerTimeoutMs);
    // Waiting for the answer keeps this copy alive until the running one has the request.
    while (!socket.canReadLine() && socket.waitForReadyRead(AnswerTimeoutMs)) {
    }
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::Listen() {
    Close();
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine()) {
                    if (socket->readLine() == ShowRequest) {
                        emit ShowRequested();
                        socket->write(ShowAnswer);
                        socket->flush();
                    }
                }
            });
        }
    });
    if (server_->listen(key_)) {
        return true;
    }
    QLocalServer::removeServer(key_);
    return server_->listen(key_);
}

void SingleInstance::Close() {
    if (server_) {
        server_->close();
        delete server_;
        server_ = nullptr;
    }
}

} // namespace vrax
