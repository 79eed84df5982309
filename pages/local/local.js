/* The local article page: a downloaded article read back from the data
   directory and practised offline. */
(function () {
  'use strict';

  var channelId = Tav.queryParam('channelId');
  var articleId = Tav.queryParam('articleId');
  var articleHtml = '';
  var sentences = [];
  var opened = false;

  // The archive's index.html, reduced to its body without scripts or handlers.
  function cleanArticle(html) {
    if (!html || html === 'error') { return ''; }
    var doc = document.implementation.createHTMLDocument('article');
    doc.documentElement.innerHTML = html;
    var drop = doc.querySelectorAll('script, style, iframe, object, embed, link, meta');
    for (var i = 0; i < drop.length; i++) { drop[i].parentNode.removeChild(drop[i]); }
    var all = doc.body ? doc.body.getElementsByTagName('*') : [];
    for (var k = 0; k < all.length; k++) {
      var attrs = all[k].attributes;
      for (var a = attrs.length - 1; a >= 0; a--) {
        var name = attrs[a].name.toLowerCase();
        var value = String(attrs[a].value).toLowerCase().replace(/\s+/g, '');
        if (name.indexOf('on') === 0 || value.indexOf('javascript:') === 0) { all[k].removeAttribute(attrs[a].name); }
      }
    }
    return doc.body ? doc.body.innerHTML : '';
  }

  function titleOf(html) {
    var m = /<title[^>]*>([\s\S]*?)<\/title>/i.exec(html || '') || /<h1[^>]*>([\s\S]*?)<\/h1>/i.exec(html || '');
    return m ? m[1].replace(/<[^>]*>/g, '').replace(/^\s+|\s+$/g, '') : '';
  }

  function mediaPath() {
    if (!Tav.zipDir || !articleId) { return ''; }
    var dir = Tav.zipDir;
    var sep = dir.indexOf('\\') >= 0 && dir.indexOf('/') < 0 ? '\\' : '/';
    return dir + sep + articleId + '.rar';
  }

  function readContent() {
    var raw = Tav.call('getFileContent', articleId, 'article');
    articleHtml = typeof raw === 'string' ? raw : '';
    var lrc = Tav.call('getFileContent', articleId, 'lrc');
    sentences = typeof lrc === 'string' && lrc !== 'error' ? Tav.parseSentences(Tav.parseJson(lrc)) : [];
  }

  function openArticle() {
    if (opened) { return; }
    opened = true;
    var record = Downloads.articles[articleId] || { uuid: articleId };
    if (!record.title) { record.title = titleOf(articleHtml) || 'Offline-Artikel'; }
    var box = Tav.byId('pArticleHtml');
    var body = cleanArticle(articleHtml);
    box.innerHTML = body;
    if (!sentences.length) {
      var note = Tav.el('div', 'note', 'Die Satzdaten dieses Artikels fehlen oder sind beschädigt. ' +
        'Lösche den Artikel und lade ihn erneut herunter.');
      box.parentNode.insertBefore(note, box);
    }
    Practice.open(record, sentences, mediaPath(), 'local');
  }

  // A copy of the stored media, under the article's title; the shell asks where.
  function exportMedia() {
    var path = mediaPath();
    if (!path) { return; }
    var record = Downloads.articles[articleId] || {};
    var title = record.title || titleOf(articleHtml) || articleId;
    Tav.call('saveExportFile', path, title + (record.media === 'video' ? '.mp4' : '.mp3'));
  }

  // Moves to another finished download, in list order.
  function nextArticle(step) {
    var list = Downloads.finishedList();
    for (var i = 0; i < list.length; i++) {
      if (list[i].uuid === articleId) {
        var to = list[i + step];
        if (to) { Tav.call('gotoLocal', to.channel_uuid || channelId, to.uuid); return true; }
      }
    }
    return false;
  }

  // The article record arrives with the stored lists; open once they are in.
  Tav.on('downloadList', function (type) {
    if (type === 'articleData') { openArticle(); }
  });

  function init() {
    Tav.applySettings();
    Practice.build(Tav.byId('practice'), {
      backLabel: '← Online',
      onBack: function () { Tav.call('gotoOnline'); },
      onNextArticle: nextArticle
    });
    Tav.byId('onlineBtn').onclick = function () { Tav.call('gotoOnline'); };
    Tav.byId('prefsBtn').onclick = function () { Tav.call('setSetDialog'); };
    Tav.byId('exportBtn').onclick = exportMedia;
    Tav.byId('articleBtn').onclick = function () {
      var box = Tav.byId('pArticleHtml');
      if (box.innerHTML) { Tav.toggleClass(box, 'hidden', !Tav.hasClass(box, 'hidden')); }
    };

    Tav.call('getZipDir'); // answers through setZipDir
    readContent();
    Tav.call('pageLoaded', 'local');
    Tav.call('setDesktopState', 'desktopOff'); // in step with the page's button
    // Without the shell, or with no stored record, open with what we have.
    openArticle();
  }

  if (document.readyState === 'loading') {
    document.addEventListener('DOMContentLoaded', init, false);
  } else {
    init();
  }
}());
