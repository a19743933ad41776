// A stand-in host widget: counts the update() requests a renderer queues to it.
#pragma once

#include <QObject>

class RepaintCounter : public QObject {
    Q_OBJECT
public:
    int count = 0;
public slots:
    void update() { ++count; }
};
