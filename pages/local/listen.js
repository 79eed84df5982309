/* The offline-data page: the download lists and the keys the pages share,
   kept in the engine's local storage. It is never shown. ES5 only. */
var ListenStore = (function () {
  'use strict';
  var S = {};
  var memory = {};
  var storage = null;
  try {
    storage = window.localStorage;
    storage.setItem('tavrolin.probe', '1');
    storage.removeItem('tavrolin.probe');
  } catch (e) {
    storage = null; // no local storage: keep the data for this run only
  }

  S.get = function (key) {
    if (storage) {
      var v = storage.getItem(key);
      return v === null ? null : v;
    }
    return Object.prototype.hasOwnProperty.call(memory, key) ? memory[key] : null;
  };
  S.set = function (key, value) {
    if (storage) { storage.setItem(key, value); } else { memory[key] = value; }
  };
  S.remove = function (key) {
    if (storage) { storage.removeItem(key); } else { delete memory[key]; }
  };

  S.readList = function (key) {
    var text = S.get(key);
    if (!text) { return []; }
    try {
      var list = JSON.parse(text);
      return list instanceof Array ? list : [];
    } catch (e) {
      return [];
    }
  };
  S.writeList = function (key, list) {
    S.set(key, JSON.stringify(list));
  };

  S.decodeRecord = function (b64) {
    try {
      var binary = window.atob(String(b64 === undefined || b64 === null ? '' : b64).replace(/\s+/g, ''));
      var record = JSON.parse(decodeURIComponent(escape(binary)));
      return record && typeof record === 'object' && !(record instanceof Array) ? record : null;
    } catch (e) {
      return null;
    }
  };

  // What the main page gets back: "[" + base64 + "]" (the shell drops the
  // first and last character before passing it on).
  S.encodeForMainPage = function (value) {
    return '[' + window.btoa(unescape(encodeURIComponent(JSON.stringify(value)))) + ']';
  };

  S.indexOf = function (list, id) {
    for (var i = 0; i < list.length; i++) {
      if (list[i] && list[i].uuid === id) { return i; }
    }
    return -1;
  };

  return S;
}());

var CHANNELS_KEY = 'tavrolin.channels';
var ARTICLES_KEY = 'tavrolin.articles';
var DATA_PREFIX = 'tavrolin.data.';

function getData(key) {
  var v = ListenStore.get(DATA_PREFIX + key);
  return v === null ? '' : v;
}

function setData(key, value) {
  ListenStore.set(DATA_PREFIX + key, value === undefined || value === null ? '' : String(value));
}

var ListenDb = (function () {
  'use strict';
  // Bridge slots are optional: opened in a browser the page just keeps its data.
  function call(name, a, b) {
    var bridge = window.ListenApi;
    if (!bridge || typeof bridge[name] !== 'function') { return; }
    if (arguments.length === 2) { bridge[name](a); } else { bridge[name](a, b); }
  }

  // The per-article state map the main page reads through getData('downloadState').
  function saveStates(articles) {
    var states = {};
    for (var i = 0; i < articles.length; i++) {
      states[articles[i].uuid] = articles[i].downloadState || 'downloading';
    }
    setData('downloadState', JSON.stringify(states));
  }

  function saveArticles(articles) {
    ListenStore.writeList(ARTICLES_KEY, articles);
    saveStates(articles);
  }

  var db = {
    getDownloadData: function () {
      var channels = ListenStore.readList(CHANNELS_KEY);
      if (channels.length) { call('setDownloadChannel', ListenStore.encodeForMainPage(channels)); }
      call('getDataFinished', 'channelData');
      return channels.length;
    },
    getArticleData: function () {
      var articles = ListenStore.readList(ARTICLES_KEY);
      for (var i = 0; i < articles.length; i++) {
        call('setDownloadArticle', ListenStore.encodeForMainPage(articles[i]),
          articles[i].downloadState || 'downloading');
      }
      call('getDataFinished', 'articleData');
      return articles.length;
    },
    insertArticleData: function (b64) {
      var record = ListenStore.decodeRecord(b64);
      if (!record || !record.uuid) { return false; }
      var articles = ListenStore.readList(ARTICLES_KEY);
      var at = ListenStore.indexOf(articles, record.uuid);
      if (at >= 0) {
        // Fetched again: the parts already on disk still count.
        record.downloadState = articles[at].downloadState || 'downloading';
        articles[at] = record;
      } else {
        record.downloadState = 'downloading';
        articles.push(record);
      }
      saveArticles(articles);
      return true;
    },
    insertChannelData: function (b64) {
      var record = ListenStore.decodeRecord(b64);
      if (!record || !record.uuid) { return false; }
      var channels = ListenStore.readList(CHANNELS_KEY);
      var at = ListenStore.indexOf(channels, record.uuid);
      if (at >= 0) { channels[at] = record; } else { channels.push(record); }
      ListenStore.writeList(CHANNELS_KEY, channels);
      return true;
    },
    updateArticleData: function (id, b64) {
      var update = ListenStore.decodeRecord(b64);
      var articles = ListenStore.readList(ARTICLES_KEY);
      var at = ListenStore.indexOf(articles, id);
      if (!update || at < 0) { return false; }
      for (var key in update) {
        if (update.hasOwnProperty(key) && key !== 'uuid') { articles[at][key] = update[key]; }
      }
      saveArticles(articles);
      return true;
    },
    setDownloadState: function (id) {
      var articles = ListenStore.readList(ARTICLES_KEY);
      var at = ListenStore.indexOf(articles, id);
      if (at < 0) { return false; }
      articles[at].downloadState = 'finished';
      saveArticles(articles);
      return true;
    },
    deleteArticleData: function (articleId, channelId) {
      var articles = ListenStore.readList(ARTICLES_KEY);
      var at = ListenStore.indexOf(articles, articleId);
      if (at < 0) { return false; }
      if (channelId && articles[at].channel_uuid && articles[at].channel_uuid !== channelId) { return false; }
      articles.splice(at, 1);
      saveArticles(articles);
      return true;
    },
    deleteChannelData: function (channelId) {
      var channels = ListenStore.readList(CHANNELS_KEY);
      var at = ListenStore.indexOf(channels, channelId);
      if (at < 0) { return false; }
      channels.splice(at, 1);
      ListenStore.writeList(CHANNELS_KEY, channels);
      return true;
    }
  };
  return db;
}());

// While the main view shows a local article, the shell sends the paragraph
// window's button presses here. This page has no player of its own, so each
// press goes back through the bridge, whose own page mode routes it to the
// main page.
var media = (function () {
  'use strict';
  var relaying = false;
  function relay(type, state) {
    var bridge = window.ListenApi;
    // Should the shell ever route the press back here, stop instead of looping.
    if (relaying || !bridge || typeof bridge.paraSetState !== 'function') { return; }
    relaying = true;
    try { bridge.paraSetState(type, state); } finally { relaying = false; }
  }
  return {
    play: function () { relay('play', 'pause'); },
    pause: function () { relay('play', 'play'); },
    next: function () { relay('play', 'next'); },
    pre: function () { relay('play', 'pre'); },
    translateControl: function () { relay('translateState', ''); },
    repeatControl: function () { relay('repeatState', ''); },
    modeControl: function () { relay('modeState', ''); },
    desktopControl: function () { relay('desktopState', ''); }
  };
}());
