// How a Linux session ends a program: SIGTERM at log-out or shutdown, SIGHUP
// when its terminal goes, SIGINT from Ctrl+C. Each arrives here as a Qt
// signal on the GUI thread, where saving settings is safe.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace marlix {

class EndSignals final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EndSignals)

public:
    explicit EndSignals(QObject* parent = nullptr);
    ~EndSignals() override;

signals:
    void ending(int signalNumber);

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace marlix
