#include "CLinkMessageSink.h"

#include <QCoreApplication>
#include <QMetaObject>

void PostLinkMessage(CLinkMessageSink* sink, int message, int vspId, long lParam) {
    if (sink == nullptr)
        return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [sink, message, vspId, lParam] { sink->OnLinkMessage(message, vspId, lParam); },
        Qt::QueuedConnection);
}
