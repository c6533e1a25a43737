// Page side of the native bridge, injected into every frame at document creation:
//   ClientRequest({request, persistent, onSuccess, onFailure}) -> id
//   cefQueryCancel(id)
//   setMessageCallback(name, fn)
// Only the top frame has the channel to native code. Sub-frames relay their queries and
// callback registrations to it with postMessage; the top frame accepts them only from its
// own descendant frames of its own origin, so a foreign frame cannot issue commands.
(function () {
    'use strict';
    if (window.__torvanixBridge)
        return;
    Object.defineProperty(window, '__torvanixBridge', { value: true });

    var MARK = '__torvanixBridgeMsg';
    var ACCEPTED = ['mouseMove', 'DevicesChanged', 'OnDeviceData', 'OnNotifySaveXml', 'HotKeyMsg',
                    'OnRGBMusicData', 'OnBrowserMsg', 'RefreshDownState', 'RefreshUpdateState',
                    'CoreSettingsChanged', 'SdkServerChanged', 'ShowDevice'];
    var isTop = window === window.top;
    var token = Math.random().toString(36).slice(2) + Date.now().toString(36);
    var nextId = 1;
    var pending = {}; // query id -> {onSuccess, onFailure, persistent}

    function later(e) { setTimeout(function () { throw e; }, 0); }
    function invoke(fn, args) {
        try { return fn.apply(undefined, args); } catch (e) { later(e); }
        return undefined;
    }
    function toJs(v) {
        if (Array.isArray(v)) return v.map(toJs);
        var t = typeof v;
        return (t === 'boolean' || t === 'number' || t === 'string') ? v : null;
    }
    function ownOrigin() { return location.origin && location.origin !== 'null' ? location.origin : null; }

    // Place of a window in the frame tree: "" for the top, "0/1" for the second child of the
    // first child; null when it is not below our top.
    function framePath(w) {
        var parts = [];
        try {
            while (w !== w.parent) {
                var p = w.parent, idx = -1;
                for (var i = 0; i < p.frames.length; ++i)
                    if (p.frames[i] === w) { idx = i; break; }
                if (idx < 0) return null;
                parts.unshift(idx);
                w = p;
            }
            return w === window.top ? parts.join('/') : null;
        } catch (e) { return null; }
    }
    function frameAt(path) {
        if (path === '') return window;
        var w = window, parts = path.split('/');
        for (var i = 0; i < parts.length; ++i) {
            var n = Number(parts[i]);
            if (!(n >= 0 && n < w.frames.length)) return null;
            w = w.frames[n];
        }
        return w;
    }

    function answer(q, ok, code, text) {
        if (ok) { if (q.onSuccess) invoke(q.onSuccess, [text]); }
        else if (q.onFailure) invoke(q.onFailure, [code, text]);
    }
    function settle(id, ok, code, text) {
        var q = pending[id];
        if (!q) return;
        if (!q.persistent || !ok) delete pending[id];
        answer(q, ok, code, text);
    }

    function checkRequest(o) {
        if (arguments.length !== 1 || !o || typeof o !== 'object')
            throw new TypeError('Invalid arguments; expecting a single object');
        if (typeof o.request !== 'string')
            throw new TypeError("Invalid arguments; object member 'request' is required and must have type string");
        if (o.onSuccess !== undefined && typeof o.onSuccess !== 'function')
            throw new TypeError("Invalid arguments; object member 'onSuccess' must have type function");
        if (o.onFailure !== undefined && typeof o.onFailure !== 'function')
            throw new TypeError("Invalid arguments; object member 'onFailure' must have type function");
        if (o.persistent !== undefined && typeof o.persistent !== 'boolean')
            throw new TypeError("Invalid arguments; object member 'persistent' must have type boolean");
    }

    var send, cancelQuery, register;

    if (isTop) {
        var bridge = null, queue = [], relayed = {}, callbacks = {};
        var toNative = function (method, args) {
            if (bridge) bridge[method].apply(bridge, args);
            else queue.push([method, args]);
        };
        send = function (id, request, persistent) { toNative('query', [id, request, persistent]); };
        cancelQuery = function (id) { toNative('cancel', [id]); };
        register = function (name, fn) {
            if (!Object.prototype.hasOwnProperty.call(callbacks, name))
                callbacks[name] = { fn: fn };
        };

        var deliver = function (name, args) {
            if (ACCEPTED.indexOf(name) < 0 || !Object.prototype.hasOwnProperty.call(callbacks, name))
                return;
            var c = callbacks[name];
            if (c.fn) {
                invoke(c.fn, [toJs(args)]);
            } else {
                var m = { kind: 'event', name: name, args: toJs(args), token: c.token };
                m[MARK] = 'down';
                try { c.source.postMessage(m, ownOrigin() || '*'); } catch (e) { }
            }
        };
        var onAnswer = function (id, ok, code, text) {
            var r = relayed[id];
            if (r) {
                if (!r.persistent || !ok) delete relayed[id];
                var m = { kind: 'answer', id: r.id, ok: ok, code: code, text: text, token: r.token };
                m[MARK] = 'down';
                try { r.source.postMessage(m, ownOrigin() || '*'); } catch (e) { }
                return;
            }
            settle(id, ok, code, text);
        };
        var onEvent = function (name, args, paths) {
            for (var i = 0; i < paths.length; ++i)
                if (frameAt(paths[i])) deliver(name, args);
        };

        window.addEventListener('message', function (ev) {
            var m = ev.data;
            if (!m || typeof m !== 'object' || m[MARK] !== 'up' || !ev.source) return;
            var path = framePath(ev.source);
            if (path === null || path === '') return;
            if (m.kind === 'loaded') {
                toNative('frameLoaded', [path, String(m.url)]);
                return;
            }
            if (!ownOrigin() || ev.origin !== ownOrigin() || typeof m.token !== 'string') return;
            var k;
            if (m.kind === 'query' && typeof m.request === 'string') {
                var g = nextId++;
                relayed[g] = { source: ev.source, token: m.token, id: m.id, persistent: !!m.persistent };
                send(g, m.request, !!m.persistent);
            } else if (m.kind === 'cancel') {
                for (k in relayed)
                    if (relayed[k].token === m.token && relayed[k].id === m.id) {
                        delete relayed[k];
                        cancelQuery(Number(k));
                    }
            } else if (m.kind === 'register' && typeof m.name === 'string') {
                if (!Object.prototype.hasOwnProperty.call(callbacks, m.name))
                    callbacks[m.name] = { source: ev.source, token: m.token };
            } else if (m.kind === 'release') {
                for (k in callbacks)
                    if (callbacks[k].token === m.token) delete callbacks[k];
                for (k in relayed)
                    if (relayed[k].token === m.token) { delete relayed[k]; cancelQuery(Number(k)); }
            }
        });

        var connect = function () {
            if (bridge || typeof qt === 'undefined' || !qt.webChannelTransport) return false;
            var created = new QWebChannel(qt.webChannelTransport, function (channel) {
                bridge = channel.objects.torvanixBridge;
                bridge.answered.connect(onAnswer);
                bridge.eventRaised.connect(onEvent);
                bridge.hello();
                var q = queue;
                queue = [];
                for (var i = 0; i < q.length; ++i) bridge[q[i][0]].apply(bridge, q[i][1]);
            });
            // The bridge has no properties: its answers and events are signals, which the channel
            // sends at once. A client that reports itself idle starts the channel's property
            // timer, which then wakes the program 20 times a second for as long as the page lives.
            var exec = created.exec;
            created.exec = function (data, callback) {
                if (data && data.type === 4) return; // idle
                return exec(data, callback);
            };
            // A reload right after a start can hand this document an answer meant for the
            // previous one's channel; the stock handler would throw on the unknown id.
            var handleResponse = created.handleResponse;
            created.handleResponse = function (message) {
                if (message && Object.prototype.hasOwnProperty.call(created.execCallbacks, message.id))
                    handleResponse(message);
            };
            return true;
        };
        if (!connect())
            document.addEventListener('DOMContentLoaded', connect);
        window.addEventListener('load', function () { toNative('frameLoaded', ['', location.href]); });
    } else {
        var local = {};
        var up = function (m, anyOrigin) {
            m[MARK] = 'up';
            m.token = token;
            var target = anyOrigin ? '*' : ownOrigin();
            if (!target) return;
            try { window.top.postMessage(m, target); } catch (e) { }
        };
        send = function (id, request, persistent) {
            up({ kind: 'query', id: id, request: request, persistent: persistent });
        };
        cancelQuery = function (id) { up({ kind: 'cancel', id: id }); };
        register = function (name, fn) {
            if (!Object.prototype.hasOwnProperty.call(local, name)) local[name] = fn;
            up({ kind: 'register', name: name });
        };
        window.addEventListener('message', function (ev) {
            var m = ev.data;
            if (!m || typeof m !== 'object' || m[MARK] !== 'down' || ev.source !== window.top
                || m.token !== token) return;
            if (m.kind === 'answer') settle(m.id, m.ok, m.code, m.text);
            else if (m.kind === 'event' && Object.prototype.hasOwnProperty.call(local, m.name))
                invoke(local[m.name], [toJs(m.args)]);
        });
        window.addEventListener('load', function () { up({ kind: 'loaded', url: location.href }, true); });
        window.addEventListener('pagehide', function () { up({ kind: 'release' }); });
    }

    var hidden = { writable: false, enumerable: false, configurable: false };
    Object.defineProperty(window, 'ClientRequest', Object.assign({
        value: function ClientRequest(o) {
            checkRequest.apply(null, arguments);
            var id = nextId++;
            pending[id] = { onSuccess: o.onSuccess, onFailure: o.onFailure, persistent: !!o.persistent };
            send(id, o.request, !!o.persistent);
            return id;
        } }, hidden));
    Object.defineProperty(window, 'cefQueryCancel', Object.assign({
        value: function cefQueryCancel(id) {
            if (Object.prototype.hasOwnProperty.call(pending, id)) {
                delete pending[id];
                cancelQuery(Number(id));
            }
        } }, hidden));
    window.setMessageCallback = function setMessageCallback(name, fn) {
        if (arguments.length !== 2 || typeof name !== 'string' || typeof fn !== 'function') return;
        register(name, fn);
    };
})();
