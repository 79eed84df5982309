/* The online index page: greeting, reading settings, the service's catalogue,
   downloads, and the online practice view. */
(function () {
  'use strict';

  var catalogue = [];        // channels as the service sends them
  var articleIndex = {};     // article id -> {article, channel}
  var resumed = false;
  var loadedOnce = false;

  var settingLabels = [
    ['fontLevel', 'Schrift', { Smaller: 'kleiner', Medium: 'mittel', Large: 'groß', Larger: 'größer', Largest: 'am größten' }],
    ['theme', 'Farbschema', null],
    ['fontFamily', 'Schriftart', null],
    ['textAlign', 'Ausrichtung', { justify: 'Blocksatz', left: 'links' }],
    ['translationState', 'Übersetzung', { on: 'an', tap: 'antippen', off: 'aus' }],
    ['explainState', 'Worterklärung', { close: 'aus', primary: 'Anfänger', middle: 'Mittelstufe', senior: 'Fortgeschritten' }],
    ['explainTipState', 'Hinweis', { highlight: 'markieren', explain: 'erklären' }]
  ];

  function renderSettings() {
    var box = Tav.byId('settingsChips');
    if (!box) { return; }
    box.innerHTML = '';
    for (var i = 0; i < settingLabels.length; i++) {
      var key = settingLabels[i][0];
      var value = Tav.settings[key];
      var names = settingLabels[i][2];
      var chip = Tav.el('span', 'chip');
      chip.setAttribute('data-setting', key);
      chip.appendChild(document.createTextNode(settingLabels[i][1] + ': '));
      chip.appendChild(Tav.el('b', null, names && names[value] ? names[value] : value));
      box.appendChild(chip);
    }
  }

  function renderGreeting() {
    var info = Tav.parseJson(getData('userInfo'));
    var name = info && (info.nickname || info.name || info.username);
    Tav.toggleClass(Tav.byId('signedIn'), 'hidden', !name);
    Tav.toggleClass(Tav.byId('signedOut'), 'hidden', !!name);
    Tav.byId('userLabel').textContent = name ? 'Angemeldet als ' + name : '';
    var hour = new Date().getHours();
    var hello = hour < 11 ? 'Guten Morgen' : (hour < 18 ? 'Guten Tag' : 'Guten Abend');
    Tav.byId('greeting').textContent = name ? hello + ', ' + name + '!' : hello + '! Willkommen bei Tavrolin.';
  }

  // ---- account ------------------------------------------------------------

  // The service hands out the cookies that signed requests carry; the user
  // information is kept with the other shared keys.
  function signIn() {
    var name = Tav.byId('userName').value.replace(/^\s+|\s+$/g, '');
    if (!name) { Tav.byId('userName').focus(); return; }
    var xhr = new XMLHttpRequest();
    xhr.open('GET', Tav.serviceUrl('/api/signin?name=' + encodeURIComponent(name)), true);
    xhr.withCredentials = true;
    xhr.onreadystatechange = function () {
      if (xhr.readyState !== 4) { return; }
      var info = xhr.status === 200 ? Tav.parseJson(xhr.responseText) : null;
      if (!info) {
        Tav.call('showInfo', 'Anmelden ist gerade nicht möglich: der Dienst antwortet nicht.');
        return;
      }
      var user = JSON.stringify({ name: info.name || name, userid: String(info.userid || '') });
      setData('userInfo', user);
      Tav.call('saveData', 'userInfo', user);
    };
    xhr.send(null);
  }

  function signOut() {
    var xhr = new XMLHttpRequest();
    xhr.open('GET', Tav.serviceUrl('/api/signout'), true);
    xhr.withCredentials = true;
    xhr.send(null);
    setData('userInfo', '');
    Tav.call('saveData', 'userInfo', '');
  }

  // ---- catalogue ----------------------------------------------------------

  function absolute(url) {
    if (!url) { return ''; }
    return /^[a-z]+:/i.test(url) ? url : Tav.serviceUrl(url.charAt(0) === '/' ? url : '/' + url);
  }

  function mediaUrl(a) {
    return absolute(a.media_url || a.mediaUrl || a.audio_url || a.video_url || a.mp3_url || '');
  }

  // Finds a media URL the player can fetch on its own, so that playback keeps the
  // sentence times: from the record, or from the service's media answer (a JSON
  // text naming the file, or a redirect to it). '' when neither tells: the shell
  // then plays the signed media URL without sentence times.
  function resolveMedia(a, done) {
    var direct = mediaUrl(a);
    if (direct) { done(direct); return; }
    var api = Tav.serviceUrl('/api/v3/media/Mp3/' + encodeURIComponent(a.uuid));
    var xhr = new XMLHttpRequest();
    var finished = false;
    var finish = function (url) {
      if (!finished) { finished = true; done(url); }
    };
    try {
      xhr.open('HEAD', api, true);
      xhr.timeout = 8000;
      xhr.onreadystatechange = function () {
        if (xhr.readyState !== 4) { return; }
        var ok = xhr.status >= 200 && xhr.status < 300;
        var type = String(xhr.getResponseHeader('Content-Type') || '');
        if (ok && type.indexOf('application/json') >= 0) {
          Tav.getJson(api, function (value) {
            finish(typeof value === 'string' ? absolute(value.replace(/"/g, '')) : '');
          }, function () { finish(''); });
        } else if (ok && xhr.responseURL && xhr.responseURL !== api) {
          finish(xhr.responseURL);
        } else {
          finish('');
        }
      };
      xhr.onerror = function () { finish(''); };
      xhr.ontimeout = function () { finish(''); };
      xhr.send(null);
    } catch (e) {
      finish('');
    }
  }

  function loadCatalogue() {
    var note = Tav.byId('catalogueNote');
    note.className = 'note info';
    note.textContent = 'Katalog wird geladen…';
    Tav.getJson(Tav.serviceUrl('/api/catalogue'), function (data) {
      catalogue = data && data.channels instanceof Array ? data.channels : [];
      note.className = 'hidden';
      renderCatalogue();
    }, function (reason) {
      catalogue = [];
      renderCatalogue();
      note.className = 'note';
      note.innerHTML = '<b>Der Dienst ist nicht erreichbar.</b> Der Katalog kann gerade nicht geladen werden (' +
        Tav.escapeHtml(reason) + '). Heruntergeladene Artikel kannst du weiter offline üben. ' +
        '<a id="retryLink">Erneut versuchen</a><br><span lang="zh">服务暂时无法访问。</span>';
      Tav.byId('retryLink').onclick = loadCatalogue;
    });
  }

  function downloadLabel(id) {
    var state = Downloads.state(id);
    if (state === 'finished') { return 'Offline üben'; }
    if (Downloads.failed[id]) { return 'Erneut versuchen'; }
    if (state) { return 'Lädt… ' + Downloads.percent(id) + ' %'; }
    return 'Herunterladen';
  }

  function updateCard(id) {
    var card = document.querySelector('.article-card[data-id="' + id + '"]');
    if (!card) { return; }
    var btn = card.querySelector('.dl-btn');
    btn.textContent = downloadLabel(id);
    var state = Downloads.state(id);
    var failed = Downloads.failed[id];
    btn.title = failed ? 'Download fehlgeschlagen: ' + failed.reason : '';
    var bar = card.querySelector('.progress-line');
    Tav.toggleClass(bar, 'hidden', !state || state === 'finished' || !!failed);
    bar.firstChild.style.width = Downloads.percent(id) + '%';
  }

  function renderCatalogue() {
    var box = Tav.byId('catalogue');
    box.innerHTML = '';
    articleIndex = {};
    var count = 0;
    for (var c = 0; c < catalogue.length; c++) {
      var ch = catalogue[c] || {};
      var section = Tav.el('div', 'channel');
      var head = Tav.el('div', 'channel-head');
      if (ch.thumbnail_url) {
        var img = document.createElement('img');
        img.src = absolute(ch.thumbnail_url);
        head.appendChild(img);
      } else {
        head.appendChild(Tav.el('span', 'thumb-ph', String(ch.title || '?').charAt(0)));
      }
      head.appendChild(Tav.el('h2', null, ch.title || 'Kanal'));
      section.appendChild(head);
      var list = Tav.el('div', 'articles');
      var articles = ch.articles instanceof Array ? ch.articles : [];
      for (var i = 0; i < articles.length; i++) {
        var a = articles[i] || {};
        if (!a.uuid) { continue; }
        articleIndex[a.uuid] = { article: a, channel: ch };
        list.appendChild(articleCard(a, ch));
        count++;
      }
      section.appendChild(list);
      box.appendChild(section);
    }
    Tav.byId('catalogueCount').textContent = count ? count + ' Artikel' : '';
  }

  function articleCard(a, ch) {
    var card = Tav.el('div', 'article-card');
    card.setAttribute('data-id', a.uuid);
    var pic = Tav.el('div', 'pic');
    var picUrl = absolute(a.image_url_thumbnail || a.thumbnail_url);
    if (picUrl) { pic.style.backgroundImage = 'url("' + picUrl.replace(/"/g, '%22') + '")'; }
    pic.appendChild(Tav.el('span', 'badge', a.media === 'video' ? '▶ Video' : '♪ Audio'));
    card.appendChild(pic);
    var body = Tav.el('div', 'body');
    body.appendChild(Tav.el('div', 'title', a.title || a.uuid));
    body.appendChild(Tav.el('div', 'meta', (a.sentences ? a.sentences + ' Sätze · ' : '') +
      (a.media === 'video' ? 'Video' : 'Hörtext')));
    var actions = Tav.el('div', 'actions');
    var practise = Tav.el('button', 'btn primary small', 'Üben');
    practise.onclick = function () { openArticle(a.uuid); };
    var dl = Tav.el('button', 'btn small dl-btn', downloadLabel(a.uuid));
    dl.onclick = function () {
      if (Downloads.state(a.uuid) === 'finished') {
        Tav.call('gotoLocal', ch.uuid || '', a.uuid);
      } else if (Downloads.failed[a.uuid]) {
        retryDownload(a.uuid);
      } else if (!Downloads.state(a.uuid)) {
        startDownload(a, ch);
      }
    };
    actions.appendChild(practise);
    actions.appendChild(dl);
    body.appendChild(actions);
    var bar = Tav.el('div', 'progress-line hidden');
    bar.appendChild(Tav.el('div'));
    body.appendChild(bar);
    card.appendChild(body);
    return card;
  }

  // ---- downloads ----------------------------------------------------------

  function articleRecord(a, ch) {
    return {
      uuid: a.uuid,
      title: a.title || '',
      media: a.media || 'audio',
      sentences: a.sentences || 0,
      image_url_thumbnail: absolute(a.image_url_thumbnail || a.thumbnail_url || ''),
      channel_uuid: ch.uuid || '',
      channel_title: ch.title || ''
    };
  }

  function startDownload(a, ch) {
    if (ch.uuid && !Downloads.channels[ch.uuid]) {
      var channel = { uuid: ch.uuid, title: ch.title || '', thumbnail_url: absolute(ch.thumbnail_url || '') };
      Downloads.channels[ch.uuid] = channel;
      Tav.call('downloadChannel', JSON.stringify(channel));
    }
    var record = articleRecord(a, ch);
    record.downloadState = 'downloading';
    Downloads.add('articleData', [record]);
    Tav.call('delDownloadArticleId', a.uuid);
    Tav.call('downloadArticle', JSON.stringify(articleRecord(a, ch)));
    updateCard(a.uuid);
    renderDownloads();
  }

  // Fetches the parts of a failed article again; those already stored stay.
  function retryDownload(id) {
    var stored = Downloads.articles[id];
    if (!stored) { return; }
    var record = {};
    for (var key in stored) {
      if (stored.hasOwnProperty(key) && key !== 'downloadState') { record[key] = stored[key]; }
    }
    delete Downloads.failed[id];
    Downloads.progress[id] = {};
    Tav.call('downloadArticle', JSON.stringify(record));
    updateCard(id);
    renderDownloads();
  }

  function deleteDownload(id) {
    var a = Downloads.articles[id] || {};
    Tav.call('deleteArticleData', id, a.channel_uuid || '');
    Tav.call('setDeleteArticleId', id);
    Downloads.remove(id);
    var states = Tav.parseJson(getData('downloadState')) || {};
    delete states[id];
    Tav.store.downloadState = JSON.stringify(states);
    // A channel without articles is forgotten too.
    var channelId = a.channel_uuid;
    var used = false;
    for (var i = 0; i < Downloads.order.length; i++) {
      if (Downloads.articles[Downloads.order[i]].channel_uuid === channelId) { used = true; }
    }
    if (channelId && !used && Downloads.channels[channelId]) {
      delete Downloads.channels[channelId];
      Tav.call('deleteChannelData', channelId);
    }
    updateCard(id);
    renderDownloads();
  }

  function renderDownloads() {
    var box = Tav.byId('downloadsList');
    box.innerHTML = '';
    var n = Downloads.order.length;
    Tav.byId('downloadsCount').textContent = n ? n + ' Artikel' : '';
    if (!n) {
      box.appendChild(Tav.el('div', 'note info', 'Noch nichts heruntergeladen. Lade Artikel aus dem Katalog, um sie offline zu üben.'));
      return;
    }
    for (var i = 0; i < n; i++) {
      var a = Downloads.articles[Downloads.order[i]];
      var row = Tav.el('div', 'download-row');
      row.setAttribute('data-id', a.uuid);
      row.appendChild(Tav.el('span', 'title', a.title || a.uuid));
      var ch = Downloads.channels[a.channel_uuid];
      if (ch) { row.appendChild(Tav.el('span', 'state', ch.title)); }
      var finished = a.downloadState === 'finished';
      var failed = !finished && Downloads.failed[a.uuid];
      if (failed) {
        var why = Tav.el('span', 'state failed', 'Fehlgeschlagen: ' + failed.reason);
        why.title = failed.reason;
        row.appendChild(why);
        var retry = Tav.el('button', 'btn small primary retry', 'Erneut versuchen');
        retry.onclick = (function (id) { return function () { retryDownload(id); }; }(a.uuid));
        row.appendChild(retry);
      } else {
        row.appendChild(Tav.el('span', 'state', finished ? 'Fertig' : 'Lädt… ' + Downloads.percent(a.uuid) + ' %'));
      }
      if (finished) {
        var open = Tav.el('button', 'btn small primary', 'Offline üben');
        open.onclick = (function (rec) {
          return function () { Tav.call('gotoLocal', rec.channel_uuid || '', rec.uuid); };
        }(a));
        row.appendChild(open);
      }
      var del = Tav.el('button', 'btn small', 'Löschen');
      del.onclick = (function (id) { return function () { deleteDownload(id); }; }(a.uuid));
      row.appendChild(del);
      box.appendChild(row);
    }
  }

  Tav.on('downloadProgress', function (id) {
    updateCard(id);
    var row = document.querySelector('.download-row[data-id="' + id + '"] .state:last-of-type');
    if (row) { renderDownloads(); }
  });
  Tav.on('downloadFinished', function (id) {
    updateCard(id);
    renderDownloads();
  });
  Tav.on('downloadFailed', function (id) {
    updateCard(id);
    renderDownloads();
  });
  Tav.on('downloadList', function (type) {
    renderDownloads();
    for (var id in articleIndex) {
      if (articleIndex.hasOwnProperty(id)) { updateCard(id); }
    }
    if (type === 'articleData') {
      Tav.call('historyLoaded');
      resumeDownloads();
    }
  });
  Tav.on('data', function (key) {
    if (key === 'userInfo') { renderGreeting(); }
    if (key === 'downloadState') {
      for (var id in articleIndex) {
        if (articleIndex.hasOwnProperty(id)) { updateCard(id); }
      }
    }
  });
  Tav.on('settings', renderSettings);

  // Articles left unfinished by an earlier run are fetched again.
  function resumeDownloads() {
    if (resumed) { return; }
    resumed = true;
    var pending = {};
    var any = false;
    for (var i = 0; i < Downloads.order.length; i++) {
      var a = Downloads.articles[Downloads.order[i]];
      if (a.downloadState !== 'finished') { pending[a.uuid] = a.title || ''; any = true; }
    }
    if (any) { Tav.call('setDownloadingList', JSON.stringify(pending)); }
  }

  // ---- views --------------------------------------------------------------

  var currentChannel = null;
  var openingId = '';

  function showHome(downloads) {
    if (!Tav.hasClass(Tav.byId('practice'), 'hidden')) { Practice.close(); }
    Tav.addClass(Tav.byId('practice'), 'hidden');
    Tav.addClass(Tav.byId('review'), 'hidden');
    Tav.removeClass(Tav.byId('home'), 'hidden');
    Review.updateCount();
    mediaFiles.refresh();
    Tav.toggleClass(Tav.byId('downloadsSection'), 'hidden', !downloads && !Downloads.order.length);
    if (downloads) {
      // Below the sticky top bar, not under it.
      var section = Tav.byId('downloadsSection');
      window.scrollTo(0, Math.max(0, section.getBoundingClientRect().top + window.pageYOffset - 60));
    }
  }

  function openArticle(id) {
    var entry = articleIndex[id];
    if (!entry) { return; }
    currentChannel = entry.channel;
    var a = entry.article;
    Tav.addClass(Tav.byId('home'), 'hidden');
    Tav.removeClass(Tav.byId('practice'), 'hidden');
    openingId = id;
    Practice.setStatus('<span class="spinner"></span>Lädt…');
    Tav.getJson(Tav.serviceUrl('/api/v4/vorb/sentence/' + encodeURIComponent(id)), function (data) {
      resolveMedia(a, function (src) {
        // The learner may have gone back or opened another article meanwhile.
        if (openingId !== id || Tav.hasClass(Tav.byId('practice'), 'hidden')) { return; }
        Practice.open(articleRecord(a, entry.channel), Tav.parseSentences(data), src, 'online');
      });
    }, function (reason) {
      resolveMedia(a, function (src) {
        if (openingId !== id || Tav.hasClass(Tav.byId('practice'), 'hidden')) { return; }
        Practice.open(articleRecord(a, entry.channel), [], src, 'online');
        Practice.setStatus('Sätze nicht erreichbar (' + Tav.escapeHtml(reason) + ')');
      });
    });
  }

  // The next or previous article of the channel being practised.
  function nextArticle(step) {
    if (!currentChannel || !(currentChannel.articles instanceof Array)) { return false; }
    var list = currentChannel.articles;
    for (var i = 0; i < list.length; i++) {
      if (list[i].uuid === Practice.article.uuid) {
        var to = list[i + step];
        if (to) { openArticle(to.uuid); return true; }
        return false;
      }
    }
    return false;
  }

  function init() {
    if (loadedOnce) { return; }
    loadedOnce = true;
    Tav.applySettings();
    renderSettings();
    renderGreeting();
    Practice.build(Tav.byId('practice'), {
      backLabel: '← Katalog',
      onBack: function () { showHome(false); },
      onNextArticle: nextArticle
    });
    var s = Tav.service();
    Tav.byId('serviceAddress').textContent = 'Dienst: ' + s.host + ':' + s.httpsPort;
    Tav.byId('homeBtn').onclick = function () { showHome(false); window.scrollTo(0, 0); };
    Tav.byId('downloadsBtn').onclick = function () { showHome(true); };
    Tav.byId('prefsBtn').onclick = function () { Tav.call('setSetDialog'); };
    Tav.byId('websiteBtn').onclick = function () { Tav.call('openBrowser', Tav.serviceUrl('/')); };
    Tav.byId('signInBtn').onclick = signIn;
    Tav.byId('signOutBtn').onclick = signOut;
    Tav.byId('userName').onkeydown = function (ev) { if (ev.keyCode === 13) { signIn(); } };

    mediaFiles.init();
    // Full synchronisation first (settings, lists, volume), then the download state.
    Tav.call('pageLoaded', 'online');
    Tav.call('pageLoaded', 'index');
    // The desktop window starts closed, in step with the page's button.
    Tav.call('setDesktopState', 'desktopOff');
    renderDownloads();
    Tav.toggleClass(Tav.byId('downloadsSection'), 'hidden', !Downloads.order.length);
    loadCatalogue();
  }

  if (document.readyState === 'loading') {
    document.addEventListener('DOMContentLoaded', init, false);
  } else {
    init();
  }
}());
