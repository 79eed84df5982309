/* "Meine Dateien": the learner's own audio and video files, read by the shell
   (sentences from subtitles or from the pauses in the sound) and practised in
   the same view as the catalogue's articles. Everything arrives as JSON text. */
var mediaFiles = (function () {
  'use strict';

  var M = { items: [], current: null, lastSent: -1 };

  var sources = {
    sidecar: 'Untertitel-Datei',
    embedded: 'Untertitel in der Datei',
    silence: 'Abschnitte nach Sprechpausen'
  };

  function pad(n) { return (n < 10 ? '0' : '') + n; }

  // 83000 -> "1:23", 4000000 -> "1:06:40"
  M.length = function (ms) {
    var s = Math.max(0, Math.round((Number(ms) || 0) / 1000));
    var h = Math.floor(s / 3600);
    var m = Math.floor((s % 3600) / 60);
    return (h ? h + ':' + pad(m) : String(m)) + ':' + pad(s % 60);
  };

  // 83450 -> "1:23,4"
  M.time = function (ms) {
    var t = Math.max(0, Number(ms) || 0);
    var m = Math.floor(t / 60000);
    var s = Math.floor((t % 60000) / 1000);
    return m + ':' + pad(s) + ',' + Math.floor((t % 1000) / 100);
  };

  function byId(id) { return Tav.byId(id); }

  function note(text, info) {
    var box = byId('mediaNote');
    if (!box) { return; }
    box.className = text ? (info ? 'note info' : 'note') : 'hidden';
    box.textContent = text || '';
  }

  // The list, last opened first when the page opens; after that every row keeps
  // its place (new files come on top), so a button never moves under the pointer.
  M.refresh = function () {
    var list = Tav.parseJson(Tav.call('mediaLibrary'));
    list = list instanceof Array ? list : [];
    var before = {};
    for (var i = 0; i < M.items.length; i++) { before['#' + (M.items[i] || {}).id] = i; }
    var added = [];
    var kept = [];
    for (var j = 0; j < list.length; j++) {
      (before.hasOwnProperty('#' + (list[j] || {}).id) ? kept : added).push(list[j]);
    }
    kept.sort(function (a, b) { return before['#' + a.id] - before['#' + b.id]; });
    M.items = added.concat(kept);
    M.render();
  };

  M.render = function () {
    var box = byId('mediaList');
    if (!box) { return; }
    box.innerHTML = '';
    byId('mediaCount').textContent = M.items.length ? M.items.length + (M.items.length === 1 ? ' Datei' : ' Dateien') : '';
    if (!M.items.length) {
      box.appendChild(Tav.el('div', 'note info',
        'Öffne eine eigene Audio- oder Videodatei (oder zieh sie ins Fenster), um mit ihr zu üben. ' +
        'Untertitel neben der Datei oder in ihr werden zu Sätzen, sonst die Abschnitte zwischen Sprechpausen.'));
      return;
    }
    for (var i = 0; i < M.items.length; i++) {
      box.appendChild(row(M.items[i] || {}));
    }
  };

  function row(item) {
    var r = Tav.el('div', 'download-row media-row' + (item.missing ? ' missing' : ''));
    r.setAttribute('data-id', String(item.id || ''));
    r.appendChild(Tav.el('span', 'kind', item.mediaType === 'video' ? '▶' : '♪'));
    var title = Tav.el('span', 'title', item.title || item.path || '');
    title.title = String(item.path || '');
    r.appendChild(title);
    var count = Number(item.sentenceCount) || 0;
    var facts = [M.length(item.duration), count + (count === 1 ? ' Satz' : ' Sätze'),
      sources[item.sentenceSource] || String(item.sentenceSource || '')];
    if (Number(item.lastSentence) > 0) { facts.push('zuletzt Satz ' + (Number(item.lastSentence) + 1)); }
    r.appendChild(Tav.el('span', 'state facts', facts.join(' · ')));
    if (item.missing) {
      var gone = Tav.el('span', 'state failed', 'Datei fehlt');
      gone.title = 'Die Datei wurde verschoben oder gelöscht: ' + String(item.path || '');
      r.appendChild(gone);
    }
    var practise = Tav.el('button', 'btn small primary practise', 'Üben');
    if (item.missing) { practise.setAttribute('disabled', 'disabled'); }
    practise.onclick = function () { if (!item.missing) { M.practisePath(item.path); } };
    r.appendChild(practise);
    var remove = Tav.el('button', 'btn small remove', 'Entfernen');
    remove.title = 'Aus der Liste entfernen (die Datei selbst bleibt)';
    remove.onclick = function () { askRemove(item); };
    r.appendChild(remove);
    return r;
  }

  // Removing forgets where the learner got to: asked first, in the row itself.
  function askRemove(item) {
    M.render(); // one question at a time
    var row = byId('mediaList').querySelector('[data-id="' + String(item.id || '').replace(/[^0-9a-f]/g, '') + '"]');
    if (!row) { return; }
    row.innerHTML = '';
    Tav.addClass(row, 'asking');
    var reached = Number(item.lastSentence) > 0 ?
      'Dein Übungsstand (zuletzt Satz ' + (Number(item.lastSentence) + 1) + ' von ' + (Number(item.sentenceCount) || 0) +
        ') geht verloren.' :
      'Ihre Sätze und dein Übungsstand gehen verloren.';
    row.appendChild(Tav.el('span', 'question',
      '„' + (item.title || item.path || '') + '“ aus „Meine Dateien“ entfernen? ' + reached +
      ' Die Datei selbst bleibt erhalten.'));
    var yes = Tav.el('button', 'btn small danger confirm-remove', 'Entfernen');
    yes.onclick = function () {
      Tav.call('forgetMedia', String(item.id || ''));
      M.refresh();
    };
    var no = Tav.el('button', 'btn small keep', 'Behalten');
    no.onclick = function () { M.render(); };
    row.appendChild(yes);
    row.appendChild(no);
    no.focus();
  }

  M.practisePath = function (path) {
    M.show(Tav.call('importMedia', String(path || '')));
  };

  M.choose = function () {
    var answer = Tav.call('openMediaDialog');
    if (answer) { M.show(answer); }
  };

  // An item or {"error"} as JSON text: practise it, or say why not.
  M.show = function (text) {
    var item = Tav.parseJson(text);
    if (!item || typeof item !== 'object') {
      note('Die Antwort des Programms ist unlesbar.');
      return false;
    }
    if (item.error) {
      M.leavePractice();
      note(String(item.error));
      M.refresh();
      var section = byId('mediaSection');
      if (section) { window.scrollTo(0, Math.max(0, section.getBoundingClientRect().top + window.pageYOffset - 60)); }
      return false;
    }
    note('');
    M.practise(item);
    return true;
  };

  // Sentences as the practice view keeps them; those without text are
  // sections "Abschnitt N" with their times.
  M.sentences = function (item) {
    var list = item.sentences instanceof Array ? item.sentences : [];
    var out = [];
    for (var i = 0; i < list.length; i++) {
      var s = list[i] || {};
      var start = Math.max(0, Math.round(Number(s.start) || 0));
      var end = Math.max(start, Math.round(Number(s.end) || 0));
      out.push({
        start: start,
        end: end,
        text: String(s.text || ''),
        chinese: String(s.translation || ''),
        label: 'Abschnitt ' + (i + 1),
        times: M.time(start) + ' – ' + M.time(end)
      });
    }
    return out;
  };

  M.practise = function (item) {
    var sentences = M.sentences(item);
    M.current = item;
    M.lastSent = -1;
    Tav.addClass(byId('home'), 'hidden');
    Tav.removeClass(byId('practice'), 'hidden');
    var record = {
      uuid: String(item.id || ''),
      title: item.title || '',
      media: item.mediaType === 'video' ? 'video' : 'audio',
      own: true,
      resumeAt: Math.max(0, Math.min(sentences.length - 1, parseInt(item.lastSentence, 10) || 0))
    };
    Practice.open(record, sentences, String(item.path || ''), 'local');
    var notices = item.warnings instanceof Array ? item.warnings.slice(0) : [];
    if (Number(item.skippedCues) > 0) {
      notices.push(item.skippedCues + (Number(item.skippedCues) === 1 ? ' Untertitel war' : ' Untertitel waren') +
        ' unlesbar und wurde' + (Number(item.skippedCues) === 1 ? '' : 'n') + ' übersprungen.');
    }
    if (item.sentenceSource === 'silence') {
      notices.push('Diese Datei hat keine Untertitel: die Abschnitte zwischen den Sprechpausen sind die Sätze. ' +
        'Im Diktat hörst du jeden Abschnitt und bestätigst mit „Gehört“.');
    }
    Practice.setNotice(notices.join(' '));
    if (window.Timing) { Timing.show(item); }
  };

  M.leavePractice = function () {
    if (!Tav.hasClass(byId('practice'), 'hidden')) { Practice.close(); }
    Tav.addClass(byId('practice'), 'hidden');
    Tav.removeClass(byId('home'), 'hidden');
  };

  // The shell, for a file opened from its menu, a drop or the command line.
  M.open = function (text) {
    // Not inside the shell's call: the practice view calls the shell again.
    window.setTimeout(function () { M.show(text); }, 0);
  };

  // The sentence reached is remembered, so practice resumes there.
  Tav.on('sentence', function (index) {
    if (!M.current || !Practice.article || Practice.article.uuid !== M.current.id || !Practice.article.own) { return; }
    // Not the first sentence the shell starts with while a resume is pending.
    if (index < 0 || index === M.lastSent || Practice.resumeAt >= 0) { return; }
    M.lastSent = index;
    Tav.call('setMediaProgress', String(M.current.id), index);
  });

  M.init = function () {
    byId('mediaOpenBtn').onclick = M.choose;
    M.refresh();
  };

  return M;
}());
