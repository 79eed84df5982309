/*
 * Word alignment of a typed sentence with the sentence heard: an edit-distance
 * alignment over words, so that one dropped or added word leaves the rest of
 * the sentence right. Case, punctuation and the typographic quotes do not
 * count; the words are shown as typed and as expected.
 *
 * WordAlign.compare(expected, typed) gives, in sentence order,
 *   {status: 'right' | 'wrong' | 'missing' | 'extra', word: typed or null, expected: expected or null}.
 *
 * ES5 only: the pages run in QtWebKit 5.212.
 */
var WordAlign = (function () {
  'use strict';

  var A = {};

  // Everything that is not part of a word: ASCII punctuation, the German and
  // English quotes, guillemets, dashes and the ellipsis.
  var punctuation = /[!-\/:-@\[-`{-~\u00a1-\u00bf\u2010-\u2027\u2030-\u205e]/g;
  // Hyphens, dashes and slashes join words ("E-Mail", "und/oder"): each part is a word.
  var joiners = /[\s\-\u2010-\u2015\/]+/;
  var edges = /^[!-\/:-@\[-`{-~\u00a1-\u00bf\u2010-\u2027\u2030-\u205e]+|[!-\/:-@\[-`{-~\u00a1-\u00bf\u2010-\u2027\u2030-\u205e]+$/g;

  A.key = function (word) {
    return String(word).toLowerCase().replace(punctuation, '');
  };

  // The words of a text: {shown, key}; a piece of pure punctuation is no word.
  A.words = function (text) {
    var pieces = String(text === undefined || text === null ? '' : text).split(joiners);
    var out = [];
    for (var i = 0; i < pieces.length; i++) {
      var key = A.key(pieces[i]);
      if (key) { out.push({ shown: pieces[i].replace(edges, ''), key: key }); }
    }
    return out;
  };

  A.compare = function (expectedText, typedText) {
    var e = A.words(expectedText);
    var t = A.words(typedText);
    var n = e.length;
    var m = t.length;
    // cost[i][j]: the fewest edits that turn the first j typed words into the first i expected ones.
    var cost = [];
    var i, j;
    for (i = 0; i <= n; i++) {
      cost.push([]);
      for (j = 0; j <= m; j++) {
        if (i === 0 || j === 0) {
          cost[i].push(i + j);
        } else {
          var same = e[i - 1].key === t[j - 1].key ? 0 : 1;
          cost[i].push(Math.min(cost[i - 1][j - 1] + same, cost[i - 1][j] + 1, cost[i][j - 1] + 1));
        }
      }
    }
    // Back from the end; on a tie a word typed in the place of another is a wrong
    // word (shown with the expected one) rather than a missing and an extra one.
    var out = [];
    i = n;
    j = m;
    while (i > 0 || j > 0) {
      if (i > 0 && j > 0 && e[i - 1].key === t[j - 1].key && cost[i][j] === cost[i - 1][j - 1]) {
        out.push({ status: 'right', word: t[j - 1].shown, expected: e[i - 1].shown });
        i--; j--;
      } else if (i > 0 && j > 0 && cost[i][j] === cost[i - 1][j - 1] + 1) {
        out.push({ status: 'wrong', word: t[j - 1].shown, expected: e[i - 1].shown });
        i--; j--;
      } else if (i > 0 && cost[i][j] === cost[i - 1][j] + 1) {
        out.push({ status: 'missing', word: null, expected: e[i - 1].shown });
        i--;
      } else {
        out.push({ status: 'extra', word: t[j - 1].shown, expected: null });
        j--;
      }
    }
    out.reverse();
    return out;
  };

  // True when every word is right (and there is at least one).
  A.allRight = function (result) {
    if (!result.length) { return false; }
    for (var k = 0; k < result.length; k++) {
      if (result[k].status !== 'right') { return false; }
    }
    return true;
  };

  return A;
}());
