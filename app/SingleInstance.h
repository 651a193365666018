#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace vrax {

// One running copy per key: a later start asks the running copy to come to the front
// instead of opening a window of its own.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(QString key, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when a running copy answered; it has been asked to restore and raise its window.
    bool AskRunningCopyToShow();

    // Listens for later starts. A socket left behind by a copy that died is removed first.
    bool Listen();
    // Stops listening and removes the socket.
    void Close();

signals:
    void ShowRequested();

private:
    QString key_;
    QLocalServer* server_ = nullptr;
};

} // namespace vrax
