// The bridge's shadowing slots ("Nachsprechen"). The work is Shadowing's; only
// the main page's bridge has them.
#include "bridge/shadowing.h"
#include "bridge/webapi.h"
#include "playback/practicecontroller.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

Shadowing* WebApi::shadowing() {
    if (!mainView)
        return nullptr;
    if (!speaking)
        speaking = new Shadowing(context(), *practice(), practicePage, this);
    return speaking;
}

void WebApi::startShadowing(int index) {
    if (Shadowing* s = shadowing())
        s->start(index);
}

void WebApi::stopShadowing() {
    if (Shadowing* s = shadowing())
        s->stop();
}

void WebApi::playAttempt(const QString& id) {
    if (Shadowing* s = shadowing())
        s->playAttempt(id, false);
}

void WebApi::playComparison(const QString& id) {
    if (Shadowing* s = shadowing())
        s->playAttempt(id, true);
}

void WebApi::playShadowingSentence(int index) {
    if (Shadowing* s = shadowing())
        s->playSentence(index);
}

QString WebApi::shadowingAttempts(int index) {
    Shadowing* s = shadowing();
    return s ? s->attempts(index) : QStringLiteral("[]");
}

void WebApi::deleteAttempt(const QString& id) {
    if (Shadowing* s = shadowing())
        s->deleteAttempt(id);
}
