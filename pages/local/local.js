/* The local article page: a downloaded article read back from the data
   directory and practised offline. */
(function () {
  'use strict';

  var channelId = Tav.queryParam('channelId');
  var articleId = Tav.queryParam('articleId');
  var articleHtml = '';
  var sentences = [];
  var opened = false;

  // The archive's index.html as nodes, never as markup for this page: parsed in
  // a document of its own, where nothing runs or loads, and stripped there of
  // whatever could run or send once shown. Forms are unwrapped, so that no button
  // sends or reloads; pictures, links and text formatting stay.
  var dropped = 'script, style, iframe, frame, frameset, object, embed, applet, link, meta, base, template';
  function cleanArticle(html) {
    var nodes = document.createDocumentFragment();
    if (!html || html === 'error') { return nodes; }
    var doc = new DOMParser().parseFromString(html, 'text/html');
    if (!doc || !doc.body) { return nodes; }
    var drop = doc.body.querySelectorAll(dropped);
    for (var i = 0; i < drop.length; i++) { drop[i].parentNode.removeChild(drop[i]); }
    var forms = doc.body.querySelectorAll('form');
    for (var f = 0; f < forms.length; f++) {
      while (forms[f].firstChild) { forms[f].parentNode.insertBefore(forms[f].firstChild, forms[f]); }
      forms[f].parentNode.removeChild(forms[f]);
    }
    var all = doc.body.getElementsByTagName('*');
    for (var k = 0; k < all.length; k++) {
      var attrs = all[k].attributes;
      for (var a = attrs.length - 1; a >= 0; a--) {
        var name = attrs[a].name.toLowerCase();
        // As a browser reads a URL: without the blanks and control characters around or in its scheme.
        var value = String(attrs[a].value).replace(/[\u0000-\u0020]+/g, '').toLowerCase();
        var picture = name === 'src' && all[k].tagName.toLowerCase() === 'img' && value.indexOf('data:image/') === 0;
        if (name.indexOf('on') === 0 || name === 'formaction' || /^(javascript|vbscript):/.test(value) ||
            (value.indexOf('data:') === 0 && !picture)) {
          all[k].removeAttribute(attrs[a].name);
        }
      }
    }
    while (doc.body.firstChild) { nodes.appendChild(document.adoptNode(doc.body.firstChild)); }
    return nodes;
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
    box.textContent = '';
    box.appendChild(cleanArticle(articleHtml));
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
