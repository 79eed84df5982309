#pragma once

#include <QLatin1String>

// The words the program shares with the pages and with the service: object and
// page names, the snippets the bridge runs in the pages, the values the pages
// pass to the bridge's slots, and the service's request paths. Every one is
// fixed by the page or service contract; a page set or a service that is not
// ours relies on them as they are, so none may change here alone. The slot
// names themselves are WebApi's (see bridge/webapi.h).
namespace PageProtocol {

template <int N> constexpr QLatin1String latin1(const char (&text)[N]) {
    return QLatin1String(text, N - 1);
}

// The script objects the bridges are published as, and the object names of the
// windows whose views they serve (a view's parent chooses the bridge's role).
inline constexpr QLatin1String mainObject = latin1("WebApi");
inline constexpr QLatin1String dataObject = latin1("ListenApi");
inline constexpr QLatin1String paragraphObject = latin1("ParagraphApi");
inline constexpr QLatin1String mainWindowName = latin1("MainWindow");
inline constexpr QLatin1String dataWindowName = latin1("dataDialog");
inline constexpr QLatin1String paragraphWindowName = latin1("paragraph");

// Page files under the application directory.
inline constexpr QLatin1String indexPage = latin1("/static/index.html?lang=de&version=");
inline constexpr QLatin1String localArticlePage = latin1("/local/local.html?lang=de");
inline constexpr QLatin1String channelIdQuery = latin1("&channelId=");
inline constexpr QLatin1String articleIdQuery = latin1("&articleId=");
inline constexpr QLatin1String listenPage = latin1("/local/listen.html");
inline constexpr QLatin1String paragraphPage = latin1("/local/paragraph.html");
inline constexpr QLatin1String language = latin1("de");

// pageLoaded(frame): the index page and the paragraph page name themselves;
// any other name asks for the full synchronisation.
inline constexpr QLatin1String loadedIndex = latin1("index");
inline constexpr QLatin1String loadedParagraph = latin1("paragraph");

// Flags travel as the words "true" and "false" (clickState, loadPositionState,
// the hasTranslation value).
inline constexpr QLatin1String yes = latin1("true");
inline constexpr QLatin1String no = latin1("false");

// saveData(key, value): the key that also makes the translation option selectable.
inline constexpr QLatin1String hasTranslationKey = latin1("hasTranslation");

// Where the main page's content comes from ("online" or "local"); also the
// source type of initPlay.
inline constexpr QLatin1String online = latin1("online");
inline constexpr QLatin1String local = latin1("local");

// initPlay: the media is video when the source names "mp4" after its first
// character or when the media type is "4"; the three-argument form means "audio".
inline constexpr QLatin1String videoSourceMark = latin1("mp4");
inline constexpr QLatin1String videoMediaType = latin1("4");
inline constexpr QLatin1String audioMediaType = latin1("audio");

// setState(stateName, state).
inline constexpr QLatin1String repeatStateName = latin1("repeat");
inline constexpr QLatin1String modeStateName = latin1("mode");

// Practice modes.
inline constexpr QLatin1String readMode = latin1("read");
inline constexpr QLatin1String dictationMode = latin1("dictation");
inline constexpr QLatin1String shadowingMode = latin1("shadowing");
// Shadowing states, as the page is told them.
inline constexpr QLatin1String shadowingPlaying = latin1("playing");
inline constexpr QLatin1String shadowingRecording = latin1("recording");
inline constexpr QLatin1String shadowingAnalysing = latin1("analysing");
inline constexpr QLatin1String shadowingDone = latin1("done");
inline constexpr QLatin1String shadowingError = latin1("error");
inline constexpr QLatin1String fillwordMode = latin1("fillword");

// Repeat settings.
inline constexpr QLatin1String repeatArticle = latin1("repeat");     // go on with the next article
inline constexpr QLatin1String repeatAll = latin1("repeated");       // start the article over
inline constexpr QLatin1String repeatSentence = latin1("repeatSen"); // loop the current sentence
// Spelt so by the page contract: a page in dictation may send it to stop the media-end replays.
inline constexpr QLatin1String repeatSentenceDictation = latin1("repeateSen");

// The playback state as the page reads it.
inline constexpr QLatin1String stopped = latin1("stop");
inline constexpr QLatin1String playing = latin1("play");
inline constexpr QLatin1String paused = latin1("pause");

// setParagaraph(type, text): what the paragraph page shows.
inline constexpr QLatin1String sentenceText = latin1("sentence");
inline constexpr QLatin1String dictationText = latin1("dictation");
inline constexpr QLatin1String chineseText = latin1("chinese");
inline constexpr QLatin1String dictationTranslationText = latin1("dictTrans");
inline constexpr QLatin1String translationText = latin1("trans");
inline constexpr QLatin1String fillwordText = latin1("fillword");
// Spelt so by the page contract: the word the learner picked.
inline constexpr QLatin1String chosenWordText = latin1("choised");

// paraSetState(type, state): the paragraph page's buttons.
inline constexpr QLatin1String playControl = latin1("play"); // state: next, pre, play, pause
inline constexpr QLatin1String nextState = latin1("next");
inline constexpr QLatin1String previousState = latin1("pre");
inline constexpr QLatin1String translateControl = latin1("translateState");
inline constexpr QLatin1String repeatControl = latin1("repeatState");
inline constexpr QLatin1String modeControl = latin1("modeState");
inline constexpr QLatin1String desktopControl = latin1("desktopState");

// setDesktopState(state) and setDragState(state).
inline constexpr QLatin1String desktopOn = latin1("desktopOn");
inline constexpr QLatin1String desktopOff = latin1("desktopOff");
inline constexpr QLatin1String off = latin1("off");
inline constexpr QLatin1String dragStart = latin1("start");
inline constexpr QLatin1String dragEnd = latin1("end");

// getFileContent(articleId, fileType) and its failure answer.
inline constexpr QLatin1String sentenceFile = latin1("lrc");
inline constexpr QLatin1String articleFile = latin1("article");
inline constexpr QLatin1String contentError = latin1("error");

// Download records: "article" or "channel", and the members read from them.
inline constexpr QLatin1String articleRecord = latin1("article");
inline constexpr QLatin1String channelRecord = latin1("channel");
inline constexpr char recordId[] = "uuid";
inline constexpr char recordThumbnail[] = "thumbnail_url";
inline constexpr char recordThumbnailAlternative[] = "image_url_thumbnail";

// The part named in a download progress report.
inline constexpr char sentenceProgress[] = "lrc";
inline constexpr char mediaProgress[] = "mp3";
inline constexpr char archiveProgress[] = "archive";

// Snippets the bridge runs in the pages. %1, %2, ... are filled by
// PageScript::build, text values escaped as single-quoted string content.
namespace Script {
// Main page.
inline constexpr QLatin1String setSet = latin1("setSet('%1', '%2', '%3', '%4', '%5', '%6', '%7');");
inline constexpr QLatin1String setDownloadState = latin1("setData('downloadState', '%1');");
inline constexpr QLatin1String setVolume = latin1("setData('volume', '%1');");
inline constexpr QLatin1String setUserInfo = latin1("setData('userInfo', '%1');");
inline constexpr QLatin1String setRepeatState = latin1("setData('repeatState', '%1');");
inline constexpr QLatin1String setZipDir = latin1("setZipDir('%1');");
inline constexpr QLatin1String downloadFinished =
    latin1("if(window.downloadData){downloadData.downloadFinished('%1');}");
inline constexpr QLatin1String downloadProgress = latin1("if(window.downloadData && downloadData.downloadProgress)"
                                                         "{downloadData.downloadProgress('%1', '%2', '%3', '%4');}");
// After the last try of a part: the article id, the part ("lrc", "mp3" or
// "archive") and why. Pages that know no such function are left alone.
inline constexpr QLatin1String downloadFailed = latin1("if(window.downloadData && downloadData.downloadFailed)"
                                                       "{downloadData.downloadFailed('%1', '%2', '%3');}");
inline constexpr QLatin1String appendChannelData =
    latin1("if(window.downloadData){downloadData.appendData('channelData', '%1');}");
inline constexpr QLatin1String appendArticleData =
    latin1("if(window.downloadData){downloadData.appendData('articleData', '%1', '%2');}");
inline constexpr QLatin1String getDataFinished = latin1("if(window.downloadData){downloadData.getDataFinished('%1');}");
inline constexpr QLatin1String setDeletedArticleId = latin1("historyChannel.setDeletedArticleId('%1');");
inline constexpr QLatin1String setHideDisplayTipIndex = latin1("article.setHideDisplayTipIndex('%1');");
inline constexpr QLatin1String paragraphFillwordSuccess = latin1("article.paragraphFillwordSuccess();");
inline constexpr QLatin1String setPlayTimes = latin1("article.setPlayTimes('%1', '%2');");
inline constexpr QLatin1String initDictation = latin1("article.initDictation(0);");
inline constexpr QLatin1String initFillwordIndex = latin1("article.initIndex('%1', 'fillword');");
inline constexpr QLatin1String showPosition =
    latin1("media.highlight('%1');article.initDictation('%1');article.initIndex('%1', 'fillword');");
inline constexpr QLatin1String play = latin1("media.play();");
inline constexpr QLatin1String playFromStart = latin1("media.play(0);");
inline constexpr QLatin1String playFromParagraph = latin1("media.play(0, true);");
inline constexpr QLatin1String pause = latin1("media.pause();");
inline constexpr QLatin1String next = latin1("media.next();");
inline constexpr QLatin1String previous = latin1("media.pre();");
inline constexpr QLatin1String nextSentence = latin1("media.nextSentence();");
inline constexpr QLatin1String previousSentence = latin1("media.previousSentence();");
inline constexpr QLatin1String highlight = latin1("media.highlight('%1');");
inline constexpr QLatin1String highlightFirst = latin1("media.highlight(0);");
inline constexpr QLatin1String highlightIfMedia = latin1("if(media){media.highlight('%1');}");
inline constexpr QLatin1String updatePlayStateIfMedia = latin1("if(media){media.updatePlayState();}");
inline constexpr QLatin1String setPlaying = latin1("media.setPlaying('%1');");
inline constexpr QLatin1String setFillwordState = latin1("media.setFillwordState(true);");
// The playing speed as a decimal ("0.7", "1.0", "1.25"), on every change and when practice starts.
inline constexpr QLatin1String setSpeed = latin1("media.setSpeed('%1');");
// A hearing of the repetition plan: its number (from 1; 0: the plan is over), how many (0: a loop) and its speed.
inline constexpr QLatin1String showHearing = latin1("if(media.showHearing){media.showHearing('%1', '%2', '%3');}");
inline constexpr QLatin1String loadingStart = latin1("media.loadingStart();");
inline constexpr QLatin1String loadingEnd = latin1("media.loadingEnd();");
inline constexpr QLatin1String playEnd = latin1("media.playEnd();");
inline constexpr QLatin1String translateControl = latin1("media.translateControl();");
inline constexpr QLatin1String repeatControl = latin1("media.repeatControl();");
inline constexpr QLatin1String modeControl = latin1("media.modeControl();");
// Without a semicolon, as the page contract has it.
inline constexpr QLatin1String desktopControl = latin1("media.desktopControl()");
// A local media file opened from the desktop (menu, drop, command line): the
// item or {"error": text} as JSON text. True when the page took it.
inline constexpr QLatin1String openMediaItem =
    latin1("(window.mediaFiles && mediaFiles.open) ? (mediaFiles.open('%1'), true) : false;");
// Shadowing ("Nachsprechen"): where the take is (playing, recording, analysing,
// done, error), and its result as JSON text.
inline constexpr QLatin1String shadowingState = latin1("if(window.shadowing){shadowing.state('%1');}");
inline constexpr QLatin1String shadowingResult = latin1("if(window.shadowing){shadowing.result('%1');}");
// Answered with the video frame's rectangle as "x,y,width,height".
inline constexpr QLatin1String showVideoFrame = latin1("media.showVideoFrame();");
inline constexpr QLatin1String hideVideoFrame = latin1("media.hideVideoFrame();");

// Offline-data page.
inline constexpr QLatin1String getDownloadState = latin1("getData('downloadState');");
inline constexpr QLatin1String getVolume = latin1("getData('volume');");
inline constexpr QLatin1String getUserInfo = latin1("getData('userInfo');");
inline constexpr QLatin1String getRepeatState = latin1("getData('repeatState');");
inline constexpr QLatin1String setData = latin1("setData('%1', '%2');");
inline constexpr QLatin1String getDownloadData = latin1("ListenDb.getDownloadData();");
inline constexpr QLatin1String getArticleData = latin1("ListenDb.getArticleData();");
inline constexpr QLatin1String insertArticleData = latin1("ListenDb.insertArticleData('%1');");
inline constexpr QLatin1String insertChannelData = latin1("ListenDb.insertChannelData('%1');");
inline constexpr QLatin1String updateArticleData = latin1("ListenDb.updateArticleData('%1', '%2');");
inline constexpr QLatin1String setArticleDownloaded = latin1("ListenDb.setDownloadState('%1');");
inline constexpr QLatin1String deleteArticleData = latin1("ListenDb.deleteArticleData('%1', '%2');");
inline constexpr QLatin1String deleteChannelData = latin1("ListenDb.deleteChannelData('%1');");

// Paragraph page.
inline constexpr QLatin1String setLang = latin1("paragraph.setLang('%1');");
inline constexpr QLatin1String saveState = latin1("paragraph.saveState('%1', '%2');");
inline constexpr QLatin1String saveExplainTipState = latin1("paragraph.saveState('explainTipState', '%1');");
inline constexpr QLatin1String setParagraph = latin1("paragraph.setParagraph('%1');");
inline constexpr QLatin1String setDictTrans = latin1("paragraph.setDictTrans('%1');");
inline constexpr QLatin1String setFillword = latin1("paragraph.setFillword('%1');");
inline constexpr QLatin1String setChoised = latin1("paragraph.setChoised('%1');");
// The paragraph window's button then offers pause, or play.
inline constexpr QLatin1String offerPause = latin1("paragraph.setPlayState('pause');");
inline constexpr QLatin1String offerPlay = latin1("paragraph.setPlayState('play');");
} // namespace Script

} // namespace PageProtocol

// What the service answers to, and the words its answers are routed by.
namespace ServiceProtocol {

using PageProtocol::latin1;

inline constexpr QLatin1String archivePath = latin1("/api/v4/vorb/archive/"); // + id + archiveQuery
inline constexpr QLatin1String archiveQuery = latin1("?type=0");
// Capital M for the download, lower case for the signed media URL the player plays.
inline constexpr QLatin1String mediaPath = latin1("/api/v3/media/Mp3/");
inline constexpr QLatin1String signedMediaPath = latin1("/api/v3/media/mp3/");
inline constexpr QLatin1String sentencePath = latin1("/api/v4/vorb/sentence/");
inline constexpr QLatin1String checkVersionPath = latin1("/api/v2/appsupport/CheckVersion");
// The version check's answer when there is nothing newer (a JSON string).
inline constexpr char noUpdateAnswer[] = "\"暂无更新\"";

// The header that carries the article id of a download request.
inline constexpr char articleIdHeader[] = "articleId";
// The second copy of the client identification on every request.
inline constexpr char userAgentHeader[] = "MarloUserAgent";

// Finished download replies are routed by these words in their content type,
// URL and redirect location.
inline constexpr QLatin1String jsonType = latin1("application/json");
inline constexpr QLatin1String audioType = latin1("audio");
inline constexpr QLatin1String videoType = latin1("video");
inline constexpr QLatin1String imageType = latin1("image");
inline constexpr QLatin1String zipType = latin1("zip");
inline constexpr QLatin1String mediaUrlMark = latin1("mp3");
inline constexpr QLatin1String sentenceUrlMark = latin1("sentence");
inline constexpr QLatin1String archiveLocationMark = latin1(".zip");
inline constexpr QLatin1String mediaLocationMark = latin1(".mp3");

} // namespace ServiceProtocol
