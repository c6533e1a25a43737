// Start page shown until the web application is installed: lists the devices, sends commands
// typed by the user, and shows every answer and event that comes back.
(function () {
    'use strict';
    var log = document.getElementById('log');

    function note(text, cls) {
        var li = document.createElement('li');
        li.textContent = text;
        if (cls) li.className = cls;
        log.insertBefore(li, log.firstChild);
        while (log.childNodes.length > 200) log.removeChild(log.lastChild);
    }

    function request(text, onOk) {
        return window.ClientRequest({
            request: text,
            onSuccess: function (answer) {
                note(text + ' -> ' + answer);
                if (onOk) onOk(answer);
            },
            onFailure: function (code, message) { note(text + ' failed: ' + code + ' ' + message, 'fail'); }
        });
    }

    function cell(row, text) {
        var td = document.createElement('td');
        td.textContent = text === undefined ? '' : text;
        row.appendChild(td);
    }

    function showDevices(answer) {
        var body = document.querySelector('#devices tbody');
        body.textContent = '';
        var list = [];
        try { list = JSON.parse(answer); } catch (e) { }
        if (!Array.isArray(list) || list.length === 0) {
            var row = body.insertRow();
            var td = document.createElement('td');
            td.colSpan = 4;
            td.className = 'muted';
            td.textContent = 'No supported device found.';
            row.appendChild(td);
            return;
        }
        list.forEach(function (r) {
            r = r || {};
            var row = body.insertRow();
            cell(row, r.Version);
            cell(row, r.Sn);
            cell(row, r.ConnectStatus);
            cell(row, r.Battery);
        });
    }

    function refresh() { request('{"FuncName":"GetDevicesList"}', showDevices); }

    ['DevicesChanged', 'OnDeviceData', 'OnNotifySaveXml', 'RefreshUpdateState', 'RefreshDownState',
     'OnRGBMusicData'].forEach(function (name) {
        window.setMessageCallback(name, function (args) {
            note(name + ' ' + JSON.stringify(args), 'event');
            if (name === 'DevicesChanged') refresh();
        });
    });

    document.getElementById('refresh').addEventListener('click', refresh);
    document.getElementById('close').addEventListener('click', function () {
        request('{"FuncName":"CloseX"}');
    });
    document.getElementById('minimise').addEventListener('click', function () {
        window.ClientRequest({ request: '{"FuncName":"MinisizeWindow"}' });
    });
    document.getElementById('command').addEventListener('submit', function (e) {
        e.preventDefault();
        request(document.getElementById('request').value);
    });

    // The window has no frame of its own: dragging the title bar moves it.
    var bar = document.getElementById('titlebar'), last = null;
    bar.addEventListener('mousedown', function (e) {
        if (e.target.tagName !== 'BUTTON') last = { x: e.screenX, y: e.screenY };
    });
    window.addEventListener('mouseup', function () { last = null; });
    window.addEventListener('mousemove', function (e) {
        if (!last) return;
        var dx = e.screenX - last.x, dy = e.screenY - last.y;
        if (dx === 0 && dy === 0) return;
        last = { x: e.screenX, y: e.screenY };
        window.ClientRequest({ request: 'MoveWindow:' + dx + ',' + dy + ',0,0' });
    });

    request('{"FuncName":"IsFirstStart"}', function (answer) {
        document.getElementById('firststart').textContent = answer === '1' ? 'yes' : 'no';
    });
    refresh();
})();
