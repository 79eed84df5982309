// The bridge's download slots: the requests go to the DownloadRouter; the list
// data the pages keep is relayed between the offline-data and main pages.
#include "bridge/webapi.h"

#include "core/pageprotocol.h"

using PageScript::Page;
namespace Script = PageProtocol::Script;
namespace Word = PageProtocol;

namespace {

QString base64(const QString& text) {
    return QString::fromLatin1(text.toUtf8().toBase64());
}

// The record without its enclosing characters (the offline-data page quotes it).
QString withoutEnds(const QString& data) {
    return data.size() >= 2 ? data.mid(1, data.size() - 2) : QString();
}

} // namespace

void WebApi::setDownloadingList(const QString& articleList) {
    router.downloadList(articleList);
}

// A record that is not JSON is neither fetched nor kept.
void WebApi::downloadArticle(const QString& articleData) {
    if (router.downloadRecord(Word::articleRecord, articleData))
        pages().run(Page::Data, Script::insertArticleData, {base64(articleData)});
}

void WebApi::downloadChannel(const QString& channelData) {
    if (router.downloadRecord(Word::channelRecord, channelData))
        pages().run(Page::Data, Script::insertChannelData, {base64(channelData)});
}

void WebApi::updateArticleData(const QString& articleId, const QString& articleData) {
    pages().run(Page::Data, Script::updateArticleData, {articleId, base64(articleData)});
}

void WebApi::setDownloadChannel(const QString& data) {
    pages().run(Page::Main, Script::appendChannelData, {withoutEnds(data)});
}

void WebApi::setDownloadArticle(const QString& data, const QString& downloadState) {
    pages().run(Page::Main, Script::appendArticleData, {withoutEnds(data), downloadState});
}

void WebApi::getDataFinished(const QString& type) {
    pages().run(Page::Main, Script::getDataFinished, {type});
}

void WebApi::deleteChannelData(const QString& channelId) {
    pages().run(Page::Data, Script::deleteChannelData, {channelId});
}

void WebApi::setDeleteArticleId(const QString& articleId) {
    if (!shared->deletedArticleIds.isEmpty())
        shared->deletedArticleIds += QLatin1Char(',');
    shared->deletedArticleIds += articleId;
}

void WebApi::historyLoaded() {
    if (!shared->deletedArticleIds.isEmpty())
        pages().run(Page::Main, Script::setDeletedArticleId, {shared->deletedArticleIds});
}

void WebApi::delDownloadArticleId(const QString& articleId) {
    // Whole entries only: forgetting "a" must not eat into "ab", nor leave a stray comma.
    QStringList ids = shared->deletedArticleIds.split(QLatin1Char(','));
    ids.removeAll(articleId);
    shared->deletedArticleIds = ids.join(QLatin1Char(','));
}
