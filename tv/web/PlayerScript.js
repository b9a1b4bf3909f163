// Runs in every frame of a video page, in a script world of its own (the page's scripts cannot see or change it).
// It finds the page's video player whenever it appears and stretches it over the whole frame: in the top frame
// that is the whole television. The C++ side asks the top frame for its state with __krelPoll().
//
// A player is an object, embed, video or iframe element (also inside open shadow roots) that has a movie address
// and whose extent, in HIMETRIC (CSS pixels x 2540 / 96), is larger than 100 both ways, not taller than wide and
// at most three times as wide as tall. Of the visible players the largest one is stretched (ties: the first in
// document order), so an ad frame or a preview clip beside the video never covers it. A media or plug-in player
// comes before any frame; a frame is taken only when no such player qualifies a moment after the load.
(function () {
  'use strict';
  // The engine may inject the script into a frame of another origin twice; one watcher per document.
  if (window.__krelPoll)
    return;
  var SCROLL_Y = __KREL_SCROLL_Y__;
  var START_AT = __KREL_START_AT__; // seconds: where the chosen media player starts (a video left before), or 0
  var WATCH_MS = __KREL_WATCH_MS__; // how long after a load (or an in-page navigation) the page is watched
  var START_AFTER_MS = 3000; // a stretched player that may start by itself, still paused after this long, is started
  var FRAME_GRACE_MS = 3000; // how long after a load a frame waits for a media player to appear before it wins
  var MAX_Z = '2147483647';
  var MAX_ADDRESS = 4096; // characters of a movie address reported at most
  var top = window === window.top;

  var chosen = null; // the stretched element
  var chosenArea = 0; // its area before stretching, to compare later candidates with
  var serial = 0; // counts stretches, so the C++ side sees each one once
  var saved = []; // [element, style attribute] to put back when another player is chosen
  var clickWanted = null; // [x, y] where a click should start the chosen player
  var clickGiven = false; // a page gets one click at most
  var watchUntil = 0;
  var framesFrom = 0; // when a frame may be chosen while no media player qualifies
  var startTimer = 0;
  var startedFor = null; // the chosen player that was started (once per choice)
  var looks = 0; // counts looks at the page, so that a caller can wait for one
  var starts = 0; // counts the starts of chosen players
  var refusals = 0; // counts chosen videos that did not play when started (a click was then considered)
  var pausedWhileHidden = []; // media this script paused while the page was hidden
  var resumed = false; // START_AT was applied (once a page)
  var startWhenShown = false;

  function qualifiesByExtent(width, height) {
    var cx = Math.round(width * 2540 / 96), cy = Math.round(height * 2540 / 96);
    return cx > 100 && cy > 100 && cx >= cy && Math.fround(cx / cy) <= 3.0;
  }

  function movieAddress(e) {
    var address = '';
    switch (e.tagName) {
    case 'OBJECT':
      address = e.getAttribute('data') || '';
      if (!address) {
        var params = e.getElementsByTagName('param');
        for (var i = 0; i < params.length && !address; ++i) {
          var name = (params[i].getAttribute('name') || '').toLowerCase();
          if (name === 'movie' || name === 'src')
            address = params[i].getAttribute('value') || '';
        }
      }
      break;
    case 'EMBED':
    case 'IFRAME':
      address = e.getAttribute('src') || '';
      break;
    case 'VIDEO':
      address = e.currentSrc || e.getAttribute('src') || '';
      if (!address) {
        var source = e.querySelector('source[src]');
        address = source ? source.getAttribute('src') : (e.srcObject ? 'stream:' : '');
      }
      break;
    }
    // What the page put there may be of any length: what is reported is bounded.
    address = String(address).slice(0, MAX_ADDRESS).trim();
    return address === 'about:blank' ? '' : address;
  }

  // The size an element has on the page; for the stretched one, the size it had before.
  function naturalArea(e, box) {
    return e === chosen ? chosenArea : box.width * box.height;
  }

  // The element above n, past the host of an open shadow root; null above the document's root element.
  function up(n) {
    var p = n.parentNode;
    if (p && p.nodeType === 11)
      p = p.host || null;
    return p && p.nodeType === 1 ? p : null;
  }

  function visible(e, box) {
    if (box.width <= 0 || box.height <= 0)
      return false;
    for (var n = e; n; n = up(n)) {
      var style = getComputedStyle(n);
      if (style.display === 'none' || style.visibility === 'hidden' || style.visibility === 'collapse'
          || Number(style.opacity) === 0)
        return false;
    }
    return true;
  }

  // Every player element in document order, looking into open shadow roots.
  function candidates(root, out) {
    var all = root.querySelectorAll('*');
    for (var i = 0; i < all.length; ++i) {
      var e = all[i];
      var tag = e.tagName;
      if (tag === 'OBJECT' || tag === 'EMBED' || tag === 'VIDEO' || tag === 'IFRAME')
        out.push(e);
      if (e.shadowRoot)
        candidates(e.shadowRoot, out);
    }
    return out;
  }

  function qualifies(e) {
    if (!movieAddress(e))
      return false;
    var box = e.getBoundingClientRect();
    if (e === chosen)
      return visible(e, box);
    return qualifiesByExtent(box.width, box.height) && visible(e, box);
  }

  // The largest qualifying media or plug-in player; a frame (whose content may be an ad) only when no such player
  // qualifies, and only once a late player has had its moment after the load.
  function best() {
    var found = null, area = 0, frame = null, frameArea = 0;
    var list = candidates(document, []);
    for (var i = 0; i < list.length; ++i) {
      var e = list[i];
      if (!qualifies(e))
        continue;
      var a = naturalArea(e, e.getBoundingClientRect());
      if (e.tagName === 'IFRAME') {
        if (a > frameArea) {
          frame = e;
          frameArea = a;
        }
      } else if (a > area) {
        found = e;
        area = a;
      }
    }
    if (found || !frame)
      return found;
    if (frame !== chosen && Date.now() < framesFrom) {
      setTimeout(soon, framesFrom - Date.now());
      return null;
    }
    return frame;
  }

  function remember(e) {
    saved.push([e, e.getAttribute('style')]);
  }

  function restore() {
    for (var i = saved.length - 1; i >= 0; --i) {
      var e = saved[i][0], style = saved[i][1];
      if (style === null)
        e.removeAttribute('style');
      else
        e.setAttribute('style', style);
    }
    saved = [];
  }

  function set(e, name, value) {
    e.style.setProperty(name, value, 'important');
  }

  // Pins the player over the whole viewport. A fixed position alone cannot escape an ancestor with a transform,
  // filter, containment or clipping, nor a stacking context above it: those ancestors are made plain, and the
  // positioned ones are raised to the top of their own stacking level.
  function stretch(e) {
    restore();
    remember(e);
    var props = {
      position: 'fixed', left: '0px', top: '0px', right: 'auto', bottom: 'auto', margin: '0px',
      width: window.innerWidth + 'px', height: window.innerHeight + 'px', 'max-width': 'none',
      'max-height': 'none', 'min-width': '0px', 'min-height': '0px', transform: 'none', 'z-index': MAX_Z,
      visibility: 'visible', opacity: '1', display: 'block', 'object-fit': 'contain', background: 'black'
    };
    for (var p in props)
      set(e, p, props[p]);
    for (var n = up(e); n; n = up(n)) {
      remember(n);
      var style = getComputedStyle(n);
      ['transform', 'filter', 'backdrop-filter', 'perspective', 'clip-path', 'mask', '-webkit-mask']
        .forEach(function (name) { set(n, name, 'none'); });
      set(n, 'contain', 'none');
      set(n, 'will-change', 'auto');
      set(n, 'overflow', 'visible');
      set(n, 'opacity', '1');
      set(n, 'isolation', 'auto');
      set(n, 'mix-blend-mode', 'normal');
      set(n, 'content-visibility', 'visible');
      if (style.position !== 'static')
        set(n, 'z-index', MAX_Z);
    }
    if (top) {
      window.scrollTo(0, SCROLL_Y);
      // Stretched while the page is still being read (the script runs before the page's own), the page may not yet
      // be long enough for the offset: it is scrolled again once it has loaded.
      if (document.readyState !== 'complete')
        window.addEventListener('load', function () { window.scrollTo(0, SCROLL_Y); }, { once: true });
    }
  }

  // The media element to start: the player itself when it is one. A frame (of any origin) runs this script too and
  // starts its own media; a plug-in player (object, embed) is never started: nothing but a click would start it.
  function mediaOf(e) {
    return e.tagName === 'VIDEO' ? e : null;
  }

  // A chosen media player known to stay paused is started at once: it has no autoplay, or it has data enough to
  // play and still has not started. One whose autoplay may yet start it, and a plug-in player that only a click
  // reaches, are started a moment later if they have not started by then.
  function scheduleStart() {
    clearTimeout(startTimer);
    clickWanted = null;
    var e = chosen;
    var media = e && mediaOf(e);
    startTimer = setTimeout(function () { start(e); }, START_AFTER_MS);
    if (media) {
      var known = function () {
        if (chosen === e && media.paused && (!media.autoplay || media.readyState >= 3))
          start(e);
      };
      media.addEventListener('canplay', known, { once: true });
      known();
    }
  }

  // The chosen media player goes to where it was left, once its length is known (a stream's player may still be
  // setting itself up before that).
  function resume(media) {
    if (resumed || !(START_AT > 0) || !media)
      return;
    var go = function () {
      if (resumed || chosen !== media)
        return;
      resumed = true;
      if (!isFinite(media.duration) || START_AT < media.duration)
        media.currentTime = START_AT;
    };
    if (media.readyState >= 1)
      go();
    else
      media.addEventListener('loadedmetadata', go, { once: true });
  }

  function start(e) {
    if (!e || e !== chosen || !e.isConnected || startedFor === e)
      return;
    if (isHidden()) {
      startWhenShown = true; // the TV is away: the player starts when it is back
      return;
    }
    startedFor = e;
    clearTimeout(startTimer);
    ++starts;
    var media = mediaOf(e);
    // The point to click: the player's centre, and only where the player itself is the element there. A trusted
    // click elsewhere (on an element or a frame of another origin laid over the player) is never given.
    var centre = function () {
      var box = e.getBoundingClientRect();
      var x = Math.round(box.left + box.width / 2), y = Math.round(box.top + box.height / 2);
      return document.elementFromPoint(x, y) === e ? [x, y] : null;
    };
    if (media) {
      if (!media.paused)
        return;
      var played = media.play();
      // Once per start: the refusal of play() or, if that never comes, the video still paused a second later.
      var checked = false;
      var check = function () {
        if (checked || chosen !== e || !media.paused)
          return;
        checked = true;
        ++refusals;
        clickWanted = centre();
      };
      if (played && played.then)
        played.then(function () {}, check);
      setTimeout(check, 1000);
    }
    // Nothing else is clicked: a click is a user's gesture to the page, which could then open what nobody at the
    // TV can see or close (a file chooser, a pop-out window, another program), and no plug-in player is left to
    // start with one.
  }

  // A frame below the top one stretches its player only once the frame itself covers most of the view, that is
  // once the page above has chosen and stretched the frame (an ad frame stays as it is).
  // (Of the browser's window, which is the TV's view: where the browser is another program's window, the screen it
  // reports may be the whole X screen across both monitors.)
  function frameIsTheVideo() {
    var area = screen.width * screen.height;
    if (window.outerWidth > 0 && window.outerHeight > 0)
      area = Math.min(area, window.outerWidth * window.outerHeight);
    return top || window.innerWidth * window.innerHeight >= 0.8 * area;
  }

  var pending = false;
  function check() {
    pending = false;
    if (Date.now() > watchUntil || !document.documentElement)
      return;
    if (!frameIsTheVideo())
      return;
    ++looks;
    var e = best();
    if (!e)
      return;
    if (e === chosen) {
      // The viewport may have changed (the frame was stretched by the page above).
      if (e.style.getPropertyValue('width') !== window.innerWidth + 'px'
          || e.style.getPropertyValue('height') !== window.innerHeight + 'px')
        stretch(e);
      return;
    }
    var box = e.getBoundingClientRect();
    chosenArea = box.width * box.height;
    chosen = e;
    ++serial;
    stretch(e);
    resume(mediaOf(e));
    scheduleStart();
  }

  function soon() {
    if (!pending) {
      pending = true;
      setTimeout(check, 100);
    }
  }

  function watch() {
    watchUntil = Date.now() + WATCH_MS;
    framesFrom = Date.now() + FRAME_GRACE_MS;
    soon();
  }

  new MutationObserver(function () {
    if (Date.now() <= watchUntil)
      soon();
  }).observe(document, { childList: true, subtree: true, attributes: true,
                         attributeFilter: ['src', 'data', 'style', 'class', 'hidden'] });
  window.addEventListener('resize', soon);
  window.addEventListener('load', watch);
  window.addEventListener('popstate', watch);
  window.addEventListener('hashchange', watch);
  // Sizes can change without a mutation (a player library laying itself out): look again twice a second.
  setInterval(function () {
    if (Date.now() <= watchUntil)
      check();
  }, 500);
  watch();

  function mediaElements(root, out) {
    var all = root.querySelectorAll('*');
    for (var i = 0; i < all.length; ++i) {
      if (all[i] instanceof HTMLMediaElement)
        out.push(all[i]);
      if (all[i].shadowRoot)
        mediaElements(all[i].shadowRoot, out);
    }
    return out;
  }
  // The page is hidden while the TV is away (switched off): what plays pauses, in every frame, and goes on when the
  // TV is back, so that nothing is missed and no sound goes elsewhere meanwhile.
  // A host whose window hides without the page noticing (a browser embedded in the TV window) says so itself.
  var hiddenByHost = false;
  function isHidden() {
    return document.hidden || hiddenByHost;
  }
  function visibilityChanged() {
    if (isHidden()) {
      mediaElements(document, []).forEach(function (m) {
        if (!m.paused) {
          m.pause();
          pausedWhileHidden.push(m);
        }
      });
      return;
    }
    var again = pausedWhileHidden;
    pausedWhileHidden = [];
    again.forEach(function (m) {
      var played = m.isConnected ? m.play() : null;
      if (played && played.catch)
        played.catch(function () {});
    });
    if (startWhenShown) {
      startWhenShown = false;
      scheduleStart();
    }
  }
  document.addEventListener('visibilitychange', visibilityChanged);

  // For the C++ side (top frame only; the page cannot reach this world).
  window.__krelPoll = function () {
    var click = clickGiven ? null : clickWanted;
    clickWanted = null;
    if (click)
      clickGiven = true;
    return { serial: serial, address: chosen ? movieAddress(chosen) : '', click: click };
  };
  // For tests: the same state, without taking the click.
  window.__krelState = function () {
    return { serial: serial, address: chosen ? movieAddress(chosen) : '', clickPending: clickWanted !== null,
             refusals: refusals, looks: looks, starts: starts, pausedWhileHidden: pausedWhileHidden.length };
  };
  window.__krelWatch = watch;
  window.__krelSetHidden = function (hidden) {
    if (hidden === hiddenByHost)
      return;
    var was = isHidden();
    hiddenByHost = hidden;
    if (isHidden() !== was)
      visibilityChanged();
  };
  window.__krelQualifies = function (e) {
    return qualifies(e);
  };
  // The video is left: the chosen media player of this frame pauses and tells where it is, [seconds, length]
  // (length 0 when not known), or null when this frame has none.
  // The chosen player played to its end (the TV may go on to the next episode). Media events do not bubble, but a
  // listener of the capturing phase on the document hears them.
  var ended = false;
  document.addEventListener('ended', function (e) {
    if (chosen && e.target === mediaOf(chosen))
      ended = true;
  }, true);
  document.addEventListener('play', function (e) {
    if (chosen && e.target === mediaOf(chosen))
      ended = false;
  }, true);
  window.__krelEnded = function () {
    return ended;
  };
  window.__krelLeave = function () {
    var media = chosen && mediaOf(chosen);
    if (!media)
      return null;
    media.pause();
    return [media.currentTime, isFinite(media.duration) ? media.duration : 0];
  };
  // Seeks the chosen media player of this frame by seconds, or to seconds from its start.
  window.__krelSeek = function (seconds, relative) {
    var media = chosen && mediaOf(chosen);
    if (!media)
      return null;
    var to = relative ? media.currentTime + seconds : seconds;
    if (isFinite(media.duration))
      to = Math.min(to, media.duration);
    media.currentTime = Math.max(0, to);
    return media.currentTime;
  };
  // The remote's play/pause key: the chosen player of this frame (a media element) pauses or goes on, and the
  // answer is whether it is paused now. A frame whose choice is a frame below it, or a plug-in, has nothing to do
  // (the frame below does it): "none".
  window.__krelTogglePause = function () {
    var media = chosen && mediaOf(chosen);
    if (!media)
      return 'none';
    if (media.paused) {
      var played = media.play();
      if (played && played.catch)
        played.catch(function () {});
      return false;
    }
    media.pause();
    return true;
  };
})();
