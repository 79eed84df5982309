// The bridge's slots for kept sentences and their reviews. The work is
// KeptSentences'; only the main page's bridge has them.
#include "bridge/keptsentences.h"
#include "bridge/webapi.h"
#include "playback/practicecontroller.h"

#include <QWebPage>
#include <QWebView>

namespace {

QString notHere() {
    qWarning("Kept sentences are reached from the main page only");
    return QStringLiteral("{\"ok\":false,\"error\":\"Gemerkte Sätze gibt es nur auf der Hauptseite.\"}");
}

} // namespace

KeptSentences* WebApi::keptCards() {
    if (!mainView)
        return nullptr;
    if (!kept) {
        kept = new KeptSentences(context(), this);
        kept->network = [this]() -> QNetworkAccessManager* {
            return mainView ? mainView->page()->networkAccessManager() : nullptr;
        };
        kept->speed = [this] { return practice()->speed(); };
    }
    return kept;
}

QString WebApi::keepSentence(int index, const QString& json) {
    KeptSentences* cards = keptCards();
    return cards ? cards->keep(index, json) : notHere();
}

QString WebApi::forgetCard(const QString& id) {
    KeptSentences* cards = keptCards();
    return cards ? cards->forget(id) : notHere();
}

QString WebApi::keptSentences() {
    KeptSentences* cards = keptCards();
    return cards ? cards->kept() : notHere();
}

QString WebApi::reviewDue() {
    KeptSentences* cards = keptCards();
    return cards ? cards->due() : notHere();
}

QString WebApi::answerReview(const QString& id, int rating) {
    KeptSentences* cards = keptCards();
    return cards ? cards->answer(id, rating) : notHere();
}

QString WebApi::playCard(const QString& id) {
    KeptSentences* cards = keptCards();
    return cards ? cards->play(id) : notHere();
}

QString WebApi::reviewStats() {
    KeptSentences* cards = keptCards();
    return cards ? cards->stats() : notHere();
}

QString WebApi::exportDeck(const QString& format) {
    KeptSentences* cards = keptCards();
    return cards ? cards->exportDeck(format) : notHere();
}
